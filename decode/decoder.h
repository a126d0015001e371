// LZ77 with two adaptive prefix codes: one symbol tree (literals and match
// lengths) and one distance tree, decoded through a 40,960-byte window that
// keeps 8,192 bytes of history and writes the file out in 32,768-byte pieces.
#pragma once
#include <stdint.h>
#include "decode/code_tree.h"
#include "fileio/block_file.h"

static const int32_t kWindowSize = 40960;
static const int32_t kSlideSize = 32768;
static const int32_t kMaxDistance = 8192;
static const int32_t kMaxPreset = 8192;
static const int32_t kMaxMatch = 4352;
// The window slides after the symbol that filled it, so a match may run on
// past its 40,960 bytes; matches are copied in machine words and may write
// up to a word beyond their last byte.
static const int32_t kWindowRoom = kWindowSize + kMaxMatch + 16;

struct DecoderState {
  uint8_t window[kWindowRoom];
  // Positions count from the first preset byte. A legal file of up to
  // 2,147,483,647 bytes plus 8,192 preset bytes passes the signed 32-bit
  // range, so the positions and the produced count are 64-bit.
  int64_t writePos;
  int64_t base;
  int32_t flushFrom;
  int32_t presetLength;
  int32_t captureOffset;
  uint8_t* capture;
  bool skip;
  BlockFile* out;
  // Produced bytes and decoded symbols of the entry: exact when decodeEntry
  // returns, brought up to date at every rebuild point in between.
  int64_t produced;
  uint32_t symbolCount;
  CodeTree symbolTree;
  CodeTree distanceTree;
  DecodeTable symbolTable;
  DecodeTable distanceTable;
  // The bit reader of readBit: the byte in use and how many of its bits are
  // taken. decodeEntry leaves them as readBit would after the same bits.
  uint8_t bitByte;
  uint8_t bitsUsed;
};

// The decoder of the current run (allocated once per run by its owner).
extern DecoderState* decoder;

#if VELLICOR_HOST_DECODER
// For the benchmark only (null otherwise): called at every rebuild point of
// decodeEntry before both code trees are rebuilt (false) and after (true).
extern void (*rebuildHook)(bool done);
#endif

// Produces `total` bytes of one file entry after `presetLength` bytes of
// context, capturing file offsets below 16,384 into `capture`. Writes to
// `out` unless `skip`. Stops early when the cancel flag is set. Malformed
// data (a distance before the window's start, a match that runs past the
// recorded size) ends the process as a damaged file.
void decodeEntry(int32_t total, const uint8_t* preset, int32_t presetLength, uint8_t* capture,
                 int32_t captureOffset, bool skip, BlockFile* out);
// Writes what the window holds and has not written yet.
void finalFlush();
