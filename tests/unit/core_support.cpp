#include "core_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "common/app_state.h"
#include "decode/crc.h"
#include "platform/host/scripted_ui.h"

void BitSink::bit(int b) {
  if (used == 0) bytes.push_back(0);
  if (b) bytes.back() |= (uint8_t)(1u << used);
  used = (used + 1) & 7;
}

void BitSink::bits(uint32_t value, int count) {
  for (int k = 0; k < count; ++k) bit((value >> k) & 1);
}

SymbolComposer::SymbolComposer(BitSink* sink) : sink_(sink) {
  sink_->flush();
  resetCodeTree(&symbols_);
  resetCodeTree(&distances_);
}

std::string SymbolComposer::codeOf(const CodeTree& t, int symbol) {
  std::string found;
  std::function<bool(int, std::string)> walk = [&](int node, std::string path) {
    const CodeNode& n = t.nodes[node];
    if (n.child0 == kNoChild) {
      if (n.symbol != symbol) return false;
      found = path;
      return true;
    }
    return walk(n.child0, path + "0") || walk(n.child1, path + "1");
  };
  walk(kRoot, "");
  return found;
}

// Every symbol's code of a tree, in one walk.
static std::vector<std::string> codesOf(const CodeTree& t) {
  std::vector<std::string> codes(kSymbols);
  std::function<void(int, std::string)> walk = [&](int node, std::string path) {
    const CodeNode& n = t.nodes[node];
    if (n.child0 == kNoChild) {
      codes[n.symbol] = path;
      return;
    }
    walk(n.child0, path + "0");
    walk(n.child1, path + "1");
  };
  walk(kRoot, "");
  return codes;
}

void SymbolComposer::beforeSymbol() {
  if (isRebuildPoint(count_)) {
    buildCodeTree(&symbols_);
    buildCodeTree(&distances_);
    symbolCodes_ = codesOf(symbols_);
    distanceCodes_ = codesOf(distances_);
  }
  ++count_;
}

void SymbolComposer::emit(const std::vector<std::string>& codes, int symbol) {
  for (char c : codes[symbol]) sink_->bit(c == '1');
}

void SymbolComposer::literal(uint8_t byte) {
  beforeSymbol();
  emit(symbolCodes_, byte);
  countSymbol(&symbols_, byte);
}

void SymbolComposer::match(int length, int distance) {
  beforeSymbol();
  int s = length <= 256 ? length + 254 : 511;
  emit(symbolCodes_, s);
  countSymbol(&symbols_, s);
  if (s == 511) sink_->bits(length - 257, 12);
  int d = (distance - 1) >> 4;
  emit(distanceCodes_, d);
  countSymbol(&distances_, d);
  sink_->bits((distance - 1) & 15, 4);
}

Bytes makeBlockStream(const Bytes& data, const std::string& key) {
  Bytes out;
  size_t keyPos = 0;
  for (size_t at = 0; at < data.size(); at += 4096) {
    size_t n = std::min<size_t>(4096, data.size() - at);
    uint16_t crc = crc16(data.data() + at, (uint32_t)n);
    for (size_t i = 0; i < n; ++i) {
      uint8_t b = data[at + i];
      if (!key.empty()) {
        b ^= (uint8_t)key[keyPos];
        keyPos = (keyPos + 1) % key.size();
      }
      out.push_back(b);
    }
    out.push_back((uint8_t)(crc >> 8));
    out.push_back((uint8_t)crc);
  }
  return out;
}

const Bytes& testStubImage() {
  static Bytes image = [] {
    Bytes b(kStubSize);
    uint32_t x = 12345;
    for (auto& c : b) {
      x = x * 1103515245u + 12345u;
      c = (uint8_t)(x >> 16);
    }
    return b;
  }();
  return image;
}

Bytes noiseBytes(size_t size, uint32_t seed) {
  Bytes d(size);
  for (auto& b : d) b = (uint8_t)((seed = seed * 1103515245u + 12345u) >> 16);
  return d;
}

Bytes pseudoText(size_t size, uint32_t seed) {
  static const char* words[] = {"alpha ", "beta ", "gamma ", "delta ", "epsilon\r\n", "zeta ", "eta ", "theta "};
  Bytes d;
  while (d.size() < size) {
    seed = seed * 1103515245u + 12345u;
    const char* w = words[(seed >> 16) & 7];
    d.insert(d.end(), w, w + strlen(w));
  }
  d.resize(size);
  return d;
}

TestArchive::TestArchive() {
  char tmpl[] = "/tmp/vellicor-test-XXXXXX";
  dir = mkdtemp(tmpl);
  path = dir + "/archive.exe";
}

TestArchive::~TestArchive() {
  if (app.archiveFile.state == FileReading) close(&app.archiveFile);
  takeIoError();
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

void TestArchive::open(const Bytes& stream, uint8_t passwordFlags, const std::string& password) {
  Bytes file = testStubImage();
  Bytes header = {0, 0, 0, 0, 0, 0, passwordFlags};  // size, comment, launch file, flags
  if (passwordFlags) {
    uint16_t check = (uint16_t)(crc16(password.data(), (uint32_t)password.size()) ^ (passwordFlags * 0x0101));
    header.push_back((uint8_t)check);
    header.push_back((uint8_t)(check >> 8));
  }
  uint32_t total = (uint32_t)(file.size() + header.size() + stream.size());
  for (int i = 0; i < 4; ++i) header[i] = (uint8_t)(total >> (8 * i));
  file.insert(file.end(), header.begin(), header.end());
  file.insert(file.end(), stream.begin(), stream.end());
  writeFileBytes(path, file);

  scripted::resetRun();
  copyBytes(app.stubImage, testStubImage().data(), kStubSize);
  bind(&app.archiveFile, path.c_str());
  openForReading(&app.archiveFile);
  Bytes skip(kStubSize + header.size());
  readBlock(&app.archiveFile, skip.data(), (uint32_t)skip.size());
  app.passwordProtected = passwordFlags != 0;
  app.passwordCheck = crc16(password.data(), (uint32_t)password.size());
  bsAssign(&app.key, password.data(), (uint32_t)password.size());
}

Bytes fileRecord(const std::string& name, uint32_t size, uint8_t back, uint16_t prefix, uint64_t t1, uint64_t t2,
                 uint64_t t3) {
  Bytes r(name.begin(), name.end());
  r.push_back(0);
  for (uint64_t t : {t1, t2, t3})
    for (int i = 0; i < 8; ++i) r.push_back((uint8_t)(t >> (8 * i)));
  for (int i = 0; i < 4; ++i) r.push_back((uint8_t)(size >> (8 * i)));
  r.push_back(back);
  if (back) {
    r.push_back((uint8_t)prefix);
    r.push_back((uint8_t)(prefix >> 8));
  }
  return r;
}

Bytes readFileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

void writeFileBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write((const char*)bytes.data(), (std::streamsize)bytes.size());
}

void put32(Bytes* b, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = (uint8_t)(value >> (8 * i));
}

uint32_t get32(const Bytes& b, size_t at) {
  return (uint32_t)b[at] | (uint32_t)b[at + 1] << 8 | (uint32_t)b[at + 2] << 16 | (uint32_t)b[at + 3] << 24;
}

Bytes peStubImage(uint32_t magic) {
  Bytes image = testStubImage();
  put32(&image, 0x3c, 0x80);
  image[0x98] = (uint8_t)magic;
  image[0x99] = (uint8_t)(magic >> 8);
  put32(&image, checksumAt(image), 0);
  const size_t entry = securityEntryAt(image);
  put32(&image, entry - 36, 16);  // the number of data directories
  put32(&image, entry, 0);
  put32(&image, entry + 4, 0);
  return image;
}

size_t checksumAt(const Bytes& file) { return get32(file, 0x3c) + 24 + 64; }

size_t securityEntryAt(const Bytes& file) {
  const size_t optional = get32(file, 0x3c) + 24;
  return optional + (file[optional] == 0x0b && file[optional + 1] == 0x02 ? 144 : 128);
}

Bytes signedCopy(const Bytes& file, uint32_t tableLength) {
  Bytes s = file;
  s.resize((s.size() + 7) & ~(size_t)7, 0);
  const uint32_t tableAt = (uint32_t)s.size();
  for (uint32_t i = 0; i < tableLength; ++i) s.push_back((uint8_t)(0xA5 ^ i));
  if (tableLength >= 8) put32(&s, tableAt, tableLength);  // the certificate's own length
  put32(&s, securityEntryAt(s), tableAt);
  put32(&s, securityEntryAt(s) + 4, tableLength);
  put32(&s, checksumAt(s), 0x0001F2E3);
  return s;
}
