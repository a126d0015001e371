#include "core_support.h"

#include <stdio.h>
#include <stdlib.h>
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

void SymbolComposer::beforeSymbol() {
  if (isRebuildPoint(count_)) {
    buildCodeTree(&symbols_);
    buildCodeTree(&distances_);
  }
  ++count_;
}

void SymbolComposer::emit(const CodeTree& t, int symbol) {
  for (char c : codeOf(t, symbol)) sink_->bit(c == '1');
}

void SymbolComposer::literal(uint8_t byte) {
  beforeSymbol();
  emit(symbols_, byte);
  countSymbol(&symbols_, byte);
}

void SymbolComposer::match(int length, int distance) {
  beforeSymbol();
  int s = length <= 256 ? length + 254 : 511;
  emit(symbols_, s);
  countSymbol(&symbols_, s);
  if (s == 511) sink_->bits(length - 257, 12);
  int d = (distance - 1) >> 4;
  emit(distances_, d);
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
