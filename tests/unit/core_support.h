// Helpers that make block streams and coded data by hand, so the core's
// tests can state exactly which bytes and symbols reach the decoder.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "decode/code_tree.h"

using Bytes = std::vector<uint8_t>;

// Writes bits least significant first, as the reader takes them.
struct BitSink {
  Bytes bytes;
  int used = 0;
  void bit(int b);
  void bits(uint32_t value, int count);
  void flush() { used = 0; }
};

// Codes the symbols of one file entry against the same adaptive model the
// decoder keeps, so tests can write any literal/match sequence.
class SymbolComposer {
 public:
  explicit SymbolComposer(BitSink* sink);
  void literal(uint8_t byte);
  void match(int length, int distance);
  // The code of a symbol under the tree as it stands now, in reading order.
  static std::string codeOf(const CodeTree& t, int symbol);

 private:
  void beforeSymbol();
  void emit(const std::vector<std::string>& codes, int symbol);
  BitSink* sink_;
  CodeTree symbols_{}, distances_{};
  std::vector<std::string> symbolCodes_, distanceCodes_;  // of the trees as last built
  uint32_t count_ = 0;
};

// Block stream of the given data bytes: 4,096-byte blocks, CRC high byte
// first, masked with `key` when it is not empty.
Bytes makeBlockStream(const Bytes& data, const std::string& key = "");

// A test archive on disk, opened the way start-up leaves it: stub image
// read, header fields set, positioned at the block stream.
struct TestArchive {
  std::string dir;   // a fresh temporary folder (removed by the destructor)
  std::string path;  // the archive file
  TestArchive();
  ~TestArchive();
  // Writes stub image + header + stream and opens it as app.archiveFile.
  void open(const Bytes& stream, uint8_t passwordFlags = 0, const std::string& password = "");
};

// A stub image whose bytes are a fixed pseudo-random pattern.
const Bytes& testStubImage();

// Test data, the same for the same seed: bytes that do not compress, and
// text of a few repeated words (lines end in CR LF).
Bytes noiseBytes(size_t size, uint32_t seed);
Bytes pseudoText(size_t size, uint32_t seed);
// Entry record bytes (file entry, no sharing).
Bytes fileRecord(const std::string& name, uint32_t size, uint8_t back = 0, uint16_t prefix = 0,
                 uint64_t t1 = 1, uint64_t t2 = 2, uint64_t t3 = 3);
Bytes readFileBytes(const std::string& path);
void writeFileBytes(const std::string& path, const Bytes& bytes);

// Signing as the tools do it, for the signed-file tests. Files here are
// whole self-extracting files (stub image first).
static const uint32_t kPe32 = 0x10b, kPe32Plus = 0x20b;
// The test stub image with a header of the given form at offset 0x80, as our
// build leaves it: checksum 0, sixteen data directories, no security entry.
Bytes peStubImage(uint32_t magic);
void put32(Bytes* b, size_t at, uint32_t value);
uint32_t get32(const Bytes& b, size_t at);
// File offsets of the header's checksum and of its security entry (offset,
// then length), found from the file's own header.
size_t checksumAt(const Bytes& file);
size_t securityEntryAt(const Bytes& file);
// A signed copy: zero bytes up to the next multiple of 8, a certificate
// table of `tableLength` bytes, its offset and length in the security entry
// and a new checksum.
Bytes signedCopy(const Bytes& file, uint32_t tableLength = 1456);
