// The block stream as the stub reads it: blocks of 4,096 data bytes (the last
// one shorter), each followed by the CRC-16 of its clear data, high byte
// first. With a key, data byte j is stored XOR key[j mod k]; the check bytes
// are neither masked nor counted.
#pragma once
#include <stddef.h>
#include <stdint.h>

static const uint32_t kStreamBlockData = 4096;
static const uint32_t kOutBufferBlocks = 16;

// Why writing stopped (first failure only).
enum BlockWriterError : uint8_t { BlockWriterOk, BlockWriterIoFailed, BlockWriterTooLarge };

struct BlockWriter {
  int fd;
  const uint8_t* key;   // null or empty: no masking
  uint32_t keyLength;
  uint32_t keyPos;
  uint64_t fileOffset;  // where the stream starts in the file
  uint64_t limit;       // the whole file may not pass this many bytes
  uint64_t dataBytes;   // data bytes taken so far
  uint64_t fileBytes;   // fileOffset + bytes of finished blocks
  BlockWriterError error;
  int ioErrno;
  uint32_t blockUsed;   // clear data bytes in `block`
  uint32_t outUsed;
  uint8_t block[kStreamBlockData];
  uint8_t out[kOutBufferBlocks * (kStreamBlockData + 2)];
};

// `fileOffset` is where the stream's first block lands in `fd` (the file is
// written sequentially from there). The key bytes must outlive the writer.
void initBlockWriter(BlockWriter* b, int fd, uint64_t fileOffset, const uint8_t* key, uint32_t keyLength,
                     uint64_t limit);
void writeStreamBytes(BlockWriter* b, const uint8_t* bytes, size_t count);
// Writes the last, short block and everything buffered. Returns false when
// any write failed or the file would pass the limit.
bool finishBlocks(BlockWriter* b);
// The size the whole file has once the current data is finished.
uint64_t projectedFileSize(const BlockWriter* b);
