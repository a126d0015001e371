#include "encode/stub_icon.h"

#include <string.h>

#include <vector>

namespace {

const uint16_t kTypeIcon = 3, kTypeGroupIcon = 14;
const uint32_t kSide = 32;

// Little-endian reads that fail outside [0, size).
struct Bytes {
  const uint8_t* p;
  uint64_t size;
  bool ok = true;
  uint32_t u8(uint64_t at) {
    if (at + 1 > size) return ok = false, 0;
    return p[at];
  }
  uint32_t u16(uint64_t at) {
    if (at + 2 > size) return ok = false, 0;
    return (uint32_t)p[at] | (uint32_t)p[at + 1] << 8;
  }
  uint32_t u32(uint64_t at) {
    if (at + 4 > size) return ok = false, 0;
    return (uint32_t)p[at] | (uint32_t)p[at + 1] << 8 | (uint32_t)p[at + 2] << 16 | (uint32_t)p[at + 3] << 24;
  }
};

struct Image {
  Bytes b;
  uint32_t sections, sectionTable;  // count and file offset of the section headers
  uint32_t resourceRva, resourceOffset, resourceSize;
};

// File offset of `length` bytes at `rva`, when one section holds them all.
bool rvaToOffset(Image* im, uint32_t rva, uint32_t length, uint32_t* offset) {
  for (uint32_t i = 0; i < im->sections; ++i) {
    const uint64_t h = im->sectionTable + 40ull * i;
    const uint32_t va = im->b.u32(h + 12), raw = im->b.u32(h + 16), at = im->b.u32(h + 20);
    if (!im->b.ok) return false;
    if (rva < va || (uint64_t)rva - va + length > raw) continue;
    const uint64_t off = (uint64_t)at + (rva - va);
    if (off + length > im->b.size) return false;
    *offset = (uint32_t)off;
    return true;
  }
  return false;
}

bool openImage(const uint8_t* stub, uint32_t size, Image* im) {
  im->b = Bytes{stub, size};
  Bytes& b = im->b;
  if (b.u16(0) != 0x5A4D) return false;  // "MZ"
  const uint32_t pe = b.u32(0x3C);
  if (!b.ok || b.u32(pe) != 0x00004550) return false;  // "PE\0\0"
  im->sections = b.u16(pe + 6);
  const uint32_t optionalSize = b.u16(pe + 20);
  const uint64_t opt = pe + 24ull;
  const uint32_t magic = b.u16(opt);
  uint64_t dirCountAt, dirs;
  if (magic == 0x10B) dirCountAt = opt + 92, dirs = opt + 96;
  else if (magic == 0x20B) dirCountAt = opt + 108, dirs = opt + 112;
  else return false;
  if (b.u32(dirCountAt) < 3 || dirs + 3 * 8 > opt + optionalSize) return false;
  im->resourceRva = b.u32(dirs + 16);
  im->resourceSize = b.u32(dirs + 20);
  im->sectionTable = (uint32_t)(opt + optionalSize);
  if (!b.ok || !im->resourceRva || !im->resourceSize) return false;
  return rvaToOffset(im, im->resourceRva, im->resourceSize, &im->resourceOffset);
}

// A resource directory's entry: an id, or a name (UTF-16, compared with
// `name` in ASCII without regard to case).
bool entryMatches(Image* im, uint32_t entry, int id, const char* name) {
  const uint32_t key = im->b.u32(entry);
  if (!(key & 0x80000000u)) return name == 0 && (int)key == id;
  if (!name) return false;
  const uint64_t at = im->resourceOffset + (uint64_t)(key & 0x7FFFFFFFu);
  const uint32_t length = im->b.u16(at);
  if (length != strlen(name)) return false;
  for (uint32_t i = 0; i < length; ++i) {
    uint32_t c = im->b.u16(at + 2 + 2 * i);
    if (c >= 'a' && c <= 'z') c -= 32;
    uint32_t want = (uint8_t)name[i];
    if (want >= 'a' && want <= 'z') want -= 32;
    if (c != want) return false;
  }
  return im->b.ok;
}

// The entries of the directory at `dir` (an offset into the resources).
bool directoryEntries(Image* im, uint32_t dir, uint32_t* first, uint32_t* count) {
  const uint64_t at = im->resourceOffset + (uint64_t)dir;
  *count = im->b.u16(at + 12) + im->b.u16(at + 14);
  *first = (uint32_t)(at + 16);
  return im->b.ok && at + 16 + 8ull * *count <= im->resourceOffset + (uint64_t)im->resourceSize;
}

// The subdirectory or leaf an entry leads to, and which of the two.
uint32_t entryTarget(Image* im, uint32_t entry, bool* isDirectory) {
  const uint32_t v = im->b.u32(entry + 4);
  *isDirectory = (v & 0x80000000u) != 0;
  return v & 0x7FFFFFFFu;
}

// Follows type -> name -> first language to a data entry: the file offset
// and size of the resource's bytes. With `name` null and `id` < 0, the
// directory must hold exactly one entry of the type, which is taken.
bool findResource(Image* im, int type, int id, const char* name, uint32_t* offset, uint32_t* size) {
  uint32_t first, count;
  bool isDir;
  if (!directoryEntries(im, 0, &first, &count)) return false;
  uint32_t typeDir = 0;
  bool found = false;
  for (uint32_t i = 0; i < count && !found; ++i)
    if (entryMatches(im, first + 8 * i, type, 0)) {
      typeDir = entryTarget(im, first + 8 * i, &isDir);
      found = isDir;
    }
  if (!found || !directoryEntries(im, typeDir, &first, &count)) return false;
  uint32_t nameDir = 0;
  found = false;
  if (!name && id < 0) {
    if (count != 1) return false;
    nameDir = entryTarget(im, first, &isDir);
    found = isDir;
  }
  for (uint32_t i = 0; i < count && !found; ++i)
    if (entryMatches(im, first + 8 * i, id, name)) {
      nameDir = entryTarget(im, first + 8 * i, &isDir);
      found = isDir;
    }
  if (!found || !directoryEntries(im, nameDir, &first, &count) || count < 1) return false;
  const uint32_t leaf = entryTarget(im, first, &isDir);
  if (isDir) return false;
  const uint64_t at = im->resourceOffset + (uint64_t)leaf;
  const uint32_t rva = im->b.u32(at), length = im->b.u32(at + 4);
  if (!im->b.ok || !rvaToOffset(im, rva, length, offset)) return false;
  *size = length;
  return true;
}

// ---- the images' form ----

struct Dib {
  uint32_t headerSize, width, height, bitCount, colours;  // height: of the colour part
  uint64_t palette, pixels, mask;                         // offsets
  uint32_t stride, maskStride;
  uint64_t end;  // offset after the mask
};

// A BMP-form icon image (BITMAPINFOHEADER, doubled height, BI_RGB) at
// [at, at + length) of `b`.
bool readDib(Bytes b, uint64_t at, uint64_t length, Dib* d, std::string* why) {
  b.size = at + length <= b.size ? at + length : b.size;
  d->headerSize = b.u32(at);
  const int32_t width = (int32_t)b.u32(at + 4), height = (int32_t)b.u32(at + 8);
  const uint32_t planes = b.u16(at + 12);
  d->bitCount = b.u16(at + 14);
  const uint32_t compression = b.u32(at + 16);
  const uint32_t used = b.u32(at + 32);
  if (!b.ok || d->headerSize < 40) return *why = "its image data is not a bitmap", false;
  // Icons are at most 256 pixels wide; the height counts the mask's rows too.
  if (width <= 0 || width > 256 || (int64_t)height != 2 * (int64_t)width)
    return *why = "its image has a size that does not match its entry", false;
  d->width = (uint32_t)width;
  d->height = (uint32_t)width;
  if (planes != 1 || (compression != 0 && !(compression == 3 && d->bitCount == 32)))
    return *why = "its image is compressed, which the conversion does not read", false;
  if (d->bitCount != 1 && d->bitCount != 4 && d->bitCount != 8 && d->bitCount != 24 && d->bitCount != 32)
    return *why = "its image has " + std::to_string(d->bitCount) + " bits per pixel (1, 4, 8, 24 or 32 can be read)",
           false;
  d->colours = d->bitCount <= 8 ? (used ? used : 1u << d->bitCount) : 0;
  if (d->colours > 256) return *why = "its palette is too long", false;
  d->palette = at + d->headerSize + (compression == 3 ? 12 : 0);
  d->pixels = d->palette + 4ull * d->colours;
  d->stride = (d->width * d->bitCount + 31) / 32 * 4;
  d->maskStride = (d->width + 31) / 32 * 4;
  d->mask = d->pixels + (uint64_t)d->stride * d->height;
  d->end = d->mask + (uint64_t)d->maskStride * d->height;
  return true;
}

struct Rgb {
  uint8_t r, g, b;
  bool clear;
};

// The pixels of a read image, top row first.
bool pixelsOf(Bytes b, const Dib& d, std::vector<Rgb>* out, std::string* why) {
  if (d.end > b.size) {
    // Some 32-bit images leave out the mask; the alpha channel is then all.
    if (!(d.bitCount == 32 && d.mask <= b.size)) return *why = "the file ends inside its image", false;
  }
  const bool haveMask = d.end <= b.size;
  out->assign((size_t)d.width * d.height, Rgb{0, 0, 0, false});
  bool anyAlpha = false;
  if (d.bitCount == 32)
    for (uint32_t i = 0; i < d.width * d.height; ++i) anyAlpha = anyAlpha || b.p[d.pixels + 4ull * i + 3];
  for (uint32_t y = 0; y < d.height; ++y) {
    const uint64_t row = d.pixels + (uint64_t)(d.height - 1 - y) * d.stride;
    const uint64_t maskRow = d.mask + (uint64_t)(d.height - 1 - y) * d.maskStride;
    for (uint32_t x = 0; x < d.width; ++x) {
      Rgb& px = (*out)[(size_t)y * d.width + x];
      uint32_t index = 0;
      switch (d.bitCount) {
        case 1: index = (b.p[row + x / 8] >> (7 - x % 8)) & 1; break;
        case 4: index = (b.p[row + x / 2] >> (x % 2 ? 0 : 4)) & 15; break;
        case 8: index = b.p[row + x]; break;
        default: {
          const uint64_t at = row + (uint64_t)x * (d.bitCount / 8);
          px.b = b.p[at];
          px.g = b.p[at + 1];
          px.r = b.p[at + 2];
          if (d.bitCount == 32 && anyAlpha) px.clear = b.p[at + 3] < 128;
        }
      }
      if (d.bitCount <= 8) {
        if (index >= d.colours) return *why = "a pixel names a colour its palette does not have", false;
        px.b = b.p[d.palette + 4ull * index];
        px.g = b.p[d.palette + 4ull * index + 1];
        px.r = b.p[d.palette + 4ull * index + 2];
      }
      if (!(d.bitCount == 32 && anyAlpha) && haveMask) px.clear = (b.p[maskRow + x / 8] >> (7 - x % 8)) & 1;
    }
  }
  return true;
}

}  // namespace

bool findStubIcon(const uint8_t* stub, uint32_t size, StubIconPlace* place, std::string* why) {
  Image im;
  if (!openImage(stub, size, &im)) return *why = "the stub has no resource directory", false;
  uint32_t groupAt = 0, groupSize = 0;
  if (!findResource(&im, kTypeGroupIcon, -1, "MAIN_ICON", &groupAt, &groupSize) &&
      !findResource(&im, kTypeGroupIcon, -1, 0, &groupAt, &groupSize))
    return *why = "the stub has no icon group", false;
  Bytes& b = im.b;
  const uint32_t count = b.u16(groupAt + 4);
  if (!b.ok || b.u16(groupAt + 2) != 1 || count != 1 || groupSize < 6 + 14)
    return *why = "the stub's icon group does not hold exactly one image", false;
  const uint32_t id = b.u16(groupAt + 6 + 12), bytesInRes = b.u32(groupAt + 6 + 8);
  uint32_t at = 0, length = 0;
  if (!b.ok || !findResource(&im, kTypeIcon, (int)id, 0, &at, &length) || length != bytesInRes)
    return *why = "the stub's icon group names no icon image of its size", false;
  Dib d;
  std::string ignored;
  if (!readDib(b, at, length, &d, &ignored) || d.width != kSide || d.bitCount > 8 || d.headerSize != 40 ||
      d.colours > (1u << d.bitCount) || d.end != (uint64_t)at + length)
    return *why = "the stub's icon image is not a 32 x 32 image with a palette and a mask", false;
  place->offset = at;
  place->length = length;
  place->width = d.width;
  place->height = d.height;
  place->bitCount = d.bitCount;
  place->paletteColours = d.colours;
  return true;
}

bool replaceStubIcon(std::string* stub, const std::string& ico, std::string* why) {
  StubIconPlace place;
  std::string problem;
  if (!findStubIcon((const uint8_t*)stub->data(), (uint32_t)stub->size(), &place, &problem)) {
    *why = "the icon cannot be replaced: " + problem;
    return false;
  }
  Bytes f{(const uint8_t*)ico.data(), ico.size()};
  const uint32_t count = f.u16(4);
  if (!f.ok || f.u16(0) != 0 || f.u16(2) != 1 || count == 0)
    return *why = "it is not an icon file (.ico)", false;
  // The 32 x 32 images; of them the one with the most bits per pixel.
  int best = -1;
  uint32_t bestBits = 0;
  std::string sizes, why32;
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t e = 6 + 16ull * i;
    const uint32_t w = f.u8(e) ? f.u8(e) : 256, h = f.u8(e + 1) ? f.u8(e + 1) : 256;
    const uint32_t length = f.u32(e + 8), at = f.u32(e + 12);
    if (!f.ok) return *why = "the file ends inside its list of images", false;
    const std::string shown = std::to_string(w) + " x " + std::to_string(h);
    if (sizes.find(shown) == std::string::npos) sizes += (sizes.empty() ? "" : ", ") + shown;
    if (w != kSide || h != kSide) continue;
    if ((uint64_t)at + 8 <= ico.size() && memcmp(ico.data() + at, "\x89PNG", 4) == 0) {
      why32 = "its 32 x 32 image is stored as PNG; save the icon with that image in the BMP form";
      continue;
    }
    Dib d;
    if (!readDib(f, at, length, &d, &why32)) continue;
    if (d.width != kSide) {
      why32 = "its 32 x 32 entry holds an image of another size";
      continue;
    }
    if (best < 0 || d.bitCount > bestBits) {
      best = (int)i;
      bestBits = d.bitCount;
    }
  }
  if (best < 0) {
    *why = !why32.empty() ? why32 : "it holds no 32 x 32 image (only " + sizes + "); the stub's icon is 32 x 32";
    return false;
  }
  Dib d;
  const uint64_t e = 6 + 16ull * (uint32_t)best;
  readDib(f, f.u32(e + 12), f.u32(e + 8), &d, &problem);
  Bytes whole = f;
  whole.size = (uint64_t)f.u32(e + 12) + f.u32(e + 8) <= f.size ? (uint64_t)f.u32(e + 12) + f.u32(e + 8) : f.size;
  std::vector<Rgb> pixels;
  if (!pixelsOf(whole, d, &pixels, why)) return false;

  // The stub's own form: its header and palette stay; each pixel becomes
  // the nearest colour of that palette (the first of equals), a clear pixel
  // colour 0 with its mask bit set.
  uint8_t* out = (uint8_t*)&(*stub)[place.offset];
  const uint8_t* palette = out + 40;
  const uint32_t stride = (kSide * place.bitCount + 31) / 32 * 4, maskStride = 4;
  std::vector<uint8_t> image(out, out + place.length);
  uint8_t* colour = image.data() + 40 + 4 * place.paletteColours;
  uint8_t* mask = colour + (size_t)stride * kSide;
  memset(colour, 0, (size_t)stride * kSide);
  memset(mask, 0, (size_t)maskStride * kSide);
  for (uint32_t y = 0; y < kSide; ++y) {
    uint8_t* row = colour + (size_t)(kSide - 1 - y) * stride;
    uint8_t* maskRow = mask + (size_t)(kSide - 1 - y) * maskStride;
    for (uint32_t x = 0; x < kSide; ++x) {
      const Rgb& px = pixels[(size_t)y * kSide + x];
      uint32_t index = 0;
      if (px.clear) {
        maskRow[x / 8] |= (uint8_t)(0x80 >> (x % 8));
      } else {
        uint32_t bestDistance = ~0u;
        for (uint32_t k = 0; k < place.paletteColours; ++k) {
          const int db = (int)palette[4 * k] - px.b, dg = (int)palette[4 * k + 1] - px.g,
                    dr = (int)palette[4 * k + 2] - px.r;
          const uint32_t distance = (uint32_t)(dr * dr + dg * dg + db * db);
          if (distance < bestDistance) {
            bestDistance = distance;
            index = k;
          }
        }
      }
      switch (place.bitCount) {
        case 1: row[x / 8] |= (uint8_t)(index << (7 - x % 8)); break;
        case 4: row[x / 2] |= (uint8_t)(index << (x % 2 ? 0 : 4)); break;
        default: row[x] = (uint8_t)index;
      }
    }
  }
  memcpy(out, image.data(), image.size());
  return true;
}

StubKind compareStub(const uint8_t* stub, const uint8_t* ours, uint32_t size) {
  if (memcmp(stub, ours, size) == 0) return StubOurs;
  StubIconPlace mine, theirs;
  std::string ignored;
  if (!findStubIcon(ours, size, &mine, &ignored) || !findStubIcon(stub, size, &theirs, &ignored) ||
      mine.offset != theirs.offset || mine.length != theirs.length)
    return StubOther;
  // The header and palette of the image are ours too; only its bits differ.
  const uint32_t bits = mine.offset + 40 + 4 * mine.paletteColours;
  if (memcmp(stub, ours, bits) != 0) return StubOther;
  const uint32_t after = mine.offset + mine.length;
  return memcmp(stub + after, ours + after, size - after) == 0 ? StubOursOtherIcon : StubOther;
}
