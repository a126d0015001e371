// What the fuzz targets share: turning fuzz bytes into parameters, the
// fixed stub image, block streams with correct checks (so that inputs get
// past the CRC to the records and the coded data), archives in memory, a
// scratch folder, and putting the process back to a fresh state after each
// input (a fatal exit of the core unwinds as a FuzzExit exception).
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Thrown where a real process would end (the core's pfExitProcess, the
// command-line tool's exit).
struct FuzzExit {
  int code;
};

// Takes parameters from the front of the input; once the input is used up
// every parameter is 0.
struct FuzzInput {
  const uint8_t* data;
  size_t size;
  FuzzInput(const uint8_t* d, size_t n) : data(d), size(n) {}
  uint8_t byte();
  // 0..most, from as many bytes as `most` needs.
  uint32_t upTo(uint32_t most);
  bool flag() { return byte() & 1; }
  Bytes take(size_t count);
  Bytes rest();
};

// The stub image every target and every seed uses: 26,112 fixed bytes
// whose first 16,384 are head slot 0.
const uint8_t* fuzzStubImage();

// The data bytes as a stored block stream: 4,096-byte blocks, each followed
// by its CRC-16 (high byte first), masked with `key` when it is not empty.
Bytes wrapBlocks(const Bytes& data, const Bytes& key);
// The inverse for archives that are well formed: the data bytes, unmasked.
Bytes unwrapBlocks(const Bytes& stored, const Bytes& key);

// The header after the recorded size: comment, launch file, password flags
// and (with flags) the check value of `key`.
Bytes headerBytes(const std::string& comment, const std::string& launch, uint8_t flags, const Bytes& key);

// The archive inputs of the test and extract targets:
//   mode byte: bit 0 = the rest is stored as is (block checks included),
//              else the data bytes are wrapped into blocks here
//   key length byte, key bytes (the password; VELLICOR_PASSWORD for the run)
//   comment 0, launch file 0, flags byte [2 check bytes in stored form]
//   then the block stream (stored form) or its data bytes (wrapped form).
// In the wrapped form the check value is computed from the key, so the
// password is always right. Returns the whole self-extracting file (stub,
// recorded size made to match, header, stream) and the key.
struct ArchiveCase {
  uint8_t mode;
  Bytes key;
  Bytes file;
};
ArchiveCase archiveCase(const uint8_t* data, size_t size);
// The input that gives `file` back through archiveCase (wrapped form):
// how the seeds are written. `file` must be well formed.
Bytes archiveCaseInput(uint8_t mode, const Bytes& key, const Bytes& file);

// A file in memory (memfd) holding `bytes`; its path is /proc/self/fd/N.
// Closed by endRunInProcess.
std::string memoryFile(const Bytes& bytes, int* fd);

// The scratch folder of this process (made on first use, below $TMPDIR or
// /tmp), and emptying it.
const std::string& scratchFolder();
void emptyFolder(const std::string& path);

// Before and after one input: remembers the open descriptors and the
// working folder; afterwards closes descriptors the run left open, goes
// back to the working folder, frees what the core still holds and resets
// the process-wide state.
void beginRunInProcess();
void endRunInProcess();

// Stops the fuzzer with a message when an invariant of ours is broken.
[[noreturn]] void fuzzFail(const char* what);
#define FUZZ_CHECK(cond) \
  do {                   \
    if (!(cond)) fuzzFail(#cond); \
  } while (0)
