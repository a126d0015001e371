#include "icon_support.h"

#include <string.h>

const uint32_t kVga[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
                           0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

static void put16(Bytes* b, uint32_t v) {
  b->push_back((uint8_t)v);
  b->push_back((uint8_t)(v >> 8));
}
static void put32(Bytes* b, uint32_t v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}
static void set16(Bytes* b, size_t at, uint32_t v) {
  (*b)[at] = (uint8_t)v;
  (*b)[at + 1] = (uint8_t)(v >> 8);
}
static void set32(Bytes* b, size_t at, uint32_t v) {
  set16(b, at, v & 0xFFFF);
  set16(b, at + 2, v >> 16);
}

Bytes imageBytes(const IcoImage& im) {
  Bytes d;
  if (im.png) {
    const char sig[] = "\x89PNG\r\n\x1a\n";
    d.assign(sig, sig + 8);
    d.resize(100, 0);
    return d;
  }
  put32(&d, 40);
  put32(&d, im.side);
  put32(&d, im.side * 2);
  put16(&d, 1);
  put16(&d, im.bits);
  for (int i = 0; i < 6; ++i) put32(&d, i == 4 ? (uint32_t)im.palette.size() : 0);
  for (uint32_t c : im.palette) put32(&d, c);  // blue, green, red, 0 little-endian
  const uint32_t stride = (im.side * im.bits + 31) / 32 * 4, maskStride = (im.side + 31) / 32 * 4;
  for (uint32_t row = 0; row < im.side; ++row) {
    const uint32_t y = im.side - 1 - row;
    Bytes line(stride, 0);
    for (uint32_t x = 0; x < im.side; ++x) {
      const uint32_t v = im.pixel(x, y);
      switch (im.bits) {
        case 1: line[x / 8] |= (uint8_t)(v << (7 - x % 8)); break;
        case 4: line[x / 2] |= (uint8_t)(v << (x % 2 ? 0 : 4)); break;
        case 8: line[x] = (uint8_t)v; break;
        default:
          for (uint32_t k = 0; k < im.bits / 8; ++k) line[x * (im.bits / 8) + k] = (uint8_t)(v >> (8 * k));
      }
    }
    d.insert(d.end(), line.begin(), line.end());
  }
  for (uint32_t row = 0; row < im.side; ++row) {
    const uint32_t y = im.side - 1 - row;
    Bytes line(maskStride, 0);
    for (uint32_t x = 0; x < im.side; ++x)
      if (im.clear(x, y)) line[x / 8] |= (uint8_t)(0x80 >> (x % 8));
    d.insert(d.end(), line.begin(), line.end());
  }
  return d;
}

std::string makeIco(const std::vector<IcoImage>& images) {
  Bytes out;
  put16(&out, 0);
  put16(&out, 1);
  put16(&out, (uint32_t)images.size());
  std::vector<Bytes> data;
  for (const IcoImage& im : images) data.push_back(imageBytes(im));
  uint32_t at = 6 + 16 * (uint32_t)images.size();
  for (size_t i = 0; i < images.size(); ++i) {
    out.push_back((uint8_t)images[i].side);
    out.push_back((uint8_t)images[i].side);
    out.push_back(images[i].bits == 4 ? 16 : 0);
    out.push_back(0);
    put16(&out, 1);
    put16(&out, images[i].bits);
    put32(&out, (uint32_t)data[i].size());
    put32(&out, at);
    at += (uint32_t)data[i].size();
  }
  for (const Bytes& d : data) out.insert(out.end(), d.begin(), d.end());
  return std::string(out.begin(), out.end());
}

std::vector<uint32_t> vga() { return std::vector<uint32_t>(kVga, kVga + 16); }

IcoImage pattern4() {
  IcoImage im;
  im.palette = vga();
  im.pixel = [](uint32_t x, uint32_t y) { return (x + 3 * y) % 16; };
  im.clear = [](uint32_t x, uint32_t y) { return x < 4 && y < 4; };
  return im;
}

std::string peWithResources(size_t manifestBytes) {
  Bytes f(26112, 0);
  f[0] = 'M';
  f[1] = 'Z';
  set32(&f, 0x3C, 0x80);
  memcpy(&f[0x80], "PE\0\0", 4);
  set16(&f, 0x84, 0x14C);
  set16(&f, 0x86, 2);      // sections
  set16(&f, 0x94, 224);    // optional header size
  const size_t opt = 0x98;
  set16(&f, opt, 0x10B);
  set32(&f, opt + 92, 16);
  const size_t sections = opt + 224;
  memcpy(&f[sections], ".text", 5);
  set32(&f, sections + 8, 0x200);
  set32(&f, sections + 12, 0x1000);
  set32(&f, sections + 16, 0x200);
  set32(&f, sections + 20, 0x200);
  const uint32_t rsrcVa = 0x2000, rsrcAt = 0x400;

  // The tree: root (3 types) -> one name each -> one language -> data entry.
  Bytes r;
  auto dir = [&](uint32_t named, uint32_t ids) {
    for (int i = 0; i < 12; ++i) r.push_back(0);
    put16(&r, named);
    put16(&r, ids);
  };
  dir(0, 3);
  const size_t rootEntries = r.size();
  r.resize(r.size() + 3 * 8);
  size_t typeDirs[3], langDirs[3], dataEntries[3];
  for (int t = 0; t < 3; ++t) {
    typeDirs[t] = r.size();
    dir(t == 1 ? 1 : 0, t == 1 ? 0 : 1);
    r.resize(r.size() + 8);
  }
  for (int t = 0; t < 3; ++t) {
    langDirs[t] = r.size();
    dir(0, 1);
    r.resize(r.size() + 8);
  }
  for (int t = 0; t < 3; ++t) {
    dataEntries[t] = r.size();
    r.resize(r.size() + 16);
  }
  const size_t nameAt = r.size();
  const char* name = "MAIN_ICON";
  put16(&r, 9);
  for (const char* c = name; *c; ++c) put16(&r, (uint8_t)*c);
  while (r.size() % 4) r.push_back(0);
  const uint32_t types[3] = {3, 14, 24};
  for (int t = 0; t < 3; ++t) {
    set32(&r, rootEntries + 8 * t, types[t]);
    set32(&r, rootEntries + 8 * t + 4, 0x80000000u | (uint32_t)typeDirs[t]);
    set32(&r, typeDirs[t] + 16, t == 1 ? 0x80000000u | (uint32_t)nameAt : 1);
    set32(&r, typeDirs[t] + 20, 0x80000000u | (uint32_t)langDirs[t]);
    set32(&r, langDirs[t] + 16, 0x411);
    set32(&r, langDirs[t] + 20, (uint32_t)dataEntries[t]);
  }
  // The data: the manifest first, then the icon image and its group.
  const size_t manifestAt = r.size();
  r.resize(r.size() + manifestBytes, 'm');
  while (r.size() % 4) r.push_back(0);
  const size_t iconAt = r.size();
  IcoImage own;
  own.palette = vga();
  own.pixel = [](uint32_t x, uint32_t) { return x % 16; };
  const Bytes image = imageBytes(own);
  r.insert(r.end(), image.begin(), image.end());
  const size_t groupAt = r.size();
  put16(&r, 0);
  put16(&r, 1);
  put16(&r, 1);
  r.push_back(32);
  r.push_back(32);
  r.push_back(16);
  r.push_back(0);
  put16(&r, 1);
  put16(&r, 4);
  put32(&r, (uint32_t)image.size());
  put16(&r, 1);
  const size_t at[3] = {iconAt, groupAt, manifestAt};
  const size_t len[3] = {image.size(), 20, manifestBytes};
  for (int t = 0; t < 3; ++t) {
    set32(&r, dataEntries[t], rsrcVa + (uint32_t)at[t]);
    set32(&r, dataEntries[t] + 4, (uint32_t)len[t]);
  }
  memcpy(&f[sections + 40], ".rsrc", 5);
  set32(&f, sections + 48, (uint32_t)r.size());
  set32(&f, sections + 52, rsrcVa);
  set32(&f, sections + 56, (uint32_t)((r.size() + 511) & ~511u));
  set32(&f, sections + 60, rsrcAt);
  set32(&f, opt + 96 + 16, rsrcVa);
  set32(&f, opt + 96 + 20, (uint32_t)r.size());
  memcpy(&f[rsrcAt], r.data(), r.size());
  return std::string(f.begin(), f.end());
}

