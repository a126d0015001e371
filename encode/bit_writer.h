// Bits in the order the decoder takes them: least significant bit of each
// byte first. Whole bytes go on to a block writer, into a byte vector (an
// entry coded on a worker thread, written out later in archive order), or
// are only counted (trial encodings that compare choices).
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <vector>

struct BlockWriter;

static const uint32_t kBitBufferSize = 1 << 16;

struct BitWriter {
  uint64_t acc;         // pending bits, the next one to write in bit 0
  int32_t accBits;      // 0..31 between calls
  uint32_t used;        // whole bytes waiting in `buffer`
  uint64_t bytesDone;   // bytes already handed on (or dropped when counting)
  BlockWriter* sink;    // null: keep or count only
  std::vector<uint8_t>* keep;  // with no sink: whole bytes are appended here
  uint8_t buffer[kBitBufferSize];
};

void initBitWriter(BitWriter* w, BlockWriter* sink);
// Whole bytes are appended to `keep` instead of going to a block writer.
void initBitWriterToMemory(BitWriter* w, std::vector<uint8_t>* keep);
// Hands the whole bytes on to the sink.
void drainBits(BitWriter* w);

static inline void storeWord(BitWriter* w) {
  uint8_t* p = w->buffer + w->used;
  p[0] = (uint8_t)w->acc;
  p[1] = (uint8_t)(w->acc >> 8);
  p[2] = (uint8_t)(w->acc >> 16);
  p[3] = (uint8_t)(w->acc >> 24);
  w->used += 4;
  w->acc >>= 32;
  w->accBits -= 32;
  if (w->used > kBitBufferSize - 8) drainBits(w);
}

// Appends `count` (0..32) bits of `value`, lowest first.
static inline void putBits(BitWriter* w, uint64_t value, int count) {
  w->acc |= (value & ((1ull << count) - 1)) << w->accBits;
  w->accBits += count;
  if (w->accBits >= 32) storeWord(w);
}

// Ends the current byte with zero bits (nothing when already on a byte).
void alignToByte(BitWriter* w);
// Whole bytes (the writer must be on a byte boundary).
void putAlignedBytes(BitWriter* w, const uint8_t* bytes, size_t count);
// Bits written so far, including the pending ones.
static inline uint64_t bitsWritten(const BitWriter* w) {
  return (w->bytesDone + w->used) * 8 + (uint64_t)w->accBits;
}
