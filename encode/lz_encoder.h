// One file entry's coded data: LZ77 parsing over the preset bytes and the
// file's bytes, coded with the adaptive model of SymbolCoder.
//
// Positions are absolute and keep growing from entry to entry, so the hash
// tables never need clearing between entries: anything before the current
// entry's first preset byte is simply out of reach.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <atomic>

#include "encode/bit_writer.h"
#include "encode/symbol_coder.h"

static const int kMinLevel = 1;
static const int kMaxLevel = 5;
static const int kDefaultLevel = 4;

struct LzParams {
  int chainDepth;   // hash-chain candidates examined per position
  int niceLength;   // a match this long is taken without looking further
  int passes;       // optimal parse: cost estimates refined this often
  bool optimal;     // false: lazy evaluation, one step ahead
  int modelPasses;  // optimal parse: re-parses priced with the model's own codes
};
LzParams lzParamsForLevel(int level);

static const uint32_t kHash3Bits = 15;
static const uint32_t kPrevSize = 16384;       // > the largest distance
static const uint32_t kSegment = 1 << 16;      // positions parsed together
static const uint32_t kHistory = 8192;
static const uint32_t kLzBufferSize = kHistory + 2 * kSegment + 64;
static const int kMaxCandidates = 8;
// Stretches of a segment between rebuild points: at most 8 of 256 symbols
// below 2,048, then one per 1,024 symbols, plus the one in progress.
static const int kMaxIntervals = 8 + (int)(kSegment / 1024) + 2;

struct Candidate {
  uint16_t length;    // 1: a literal (in parse results)
  uint16_t distance;
};

struct EntryEncoder {
  LzParams params;
  SymbolCoder coder;
  BitWriter* out;       // null: estimate the size only (no trees are built)
  uint64_t estimate;    // estimated size in 1/16 bits (when out is null)
  uint32_t costsFor;    // symbolCount + 1 the estimate's costs were made for
  uint32_t entryBase;   // absolute position of the first preset byte
  uint32_t pos;         // next position to code
  uint32_t end;         // one past the entry's last byte
  uint32_t filled;      // one past the last byte in `buffer`
  uint32_t bufStart;    // absolute position of buffer[0]
  uint32_t inserted;    // next position to enter into the hash tables
  uint32_t nextBase;    // where the next entry's positions start
  // Where position p's byte is: window[p - windowStart]. The window is
  // `buffer`, or for a whole entry in memory the caller's bytes.
  const uint8_t* window;
  uint32_t windowStart;
  uint32_t head3[1u << kHash3Bits];
  uint32_t head2[1u << 16];
  uint32_t prev[kPrevSize];
  uint8_t buffer[kLzBufferSize];

  // Work of one segment of the optimal parse: the matches found at each of
  // its positions (candStart: where a position's matches begin in cands).
  // They point into ownCandStart and ownCands, or into a helper's arrays.
  uint32_t* candStart;
  Candidate* cands;
  uint32_t ownCandStart[kSegment + 1];
  Candidate ownCands[kSegment * kMaxCandidates];
  uint32_t cost[kSegment + 1];
  Candidate reach[kSegment + 1];  // the step that reached each position best
  Candidate tokens[kSegment];
  // Costs in 1/16 bits: code lengths of built trees, or estimates from counts.
  uint16_t symbolCost[kSymbols];
  uint16_t distanceCost[kSymbols];
  // The optimal parse's costs for the current segment.
  uint16_t parseSymbolCost[kSymbols];
  uint16_t parseDistanceCost[kSymbols];
  // Model pricing: the code lengths (1/16 bits) of the trees each stretch
  // between rebuild points of the segment will be coded with, under the
  // last parse tried, and the stretch each position fell in.
  uint16_t modelSymbolCost[kMaxIntervals][kSymbols];
  uint16_t modelDistanceCost[kMaxIntervals][kSymbols];
  uint8_t intervalAt[kSegment + 1];
  Candidate bestTokens[kSegment];
  CodeTree modelSymbols, modelDistances;  // the coder's trees carried through a trial
  uint16_t symbolLengths[kSymbols], distanceLengths[kSymbols];
  uint16_t exactSymbolLength[kSymbols], exactDistanceLength[kSymbols];
};

// Allocates an encoder (several MB); false when memory is short.
EntryEncoder* newEntryEncoder();
void freeEntryEncoder(EntryEncoder* e);

// Starts one file entry of `total` bytes. The preset bytes (0..8,192) are the
// window's earlier context, as the decoder places them. With `out` null the
// entry is only measured: the parse is the same, and the size is estimated
// from the running counts instead of building trees (for comparing choices).
void beginEntry(EntryEncoder* e, int level, const uint8_t* preset, uint32_t presetLength, uint32_t total,
                BitWriter* out);
// The entry's bytes, in order, in pieces of any size.
void feedEntry(EntryEncoder* e, const uint8_t* bytes, size_t count);
// Codes the rest and ends the coded data on a byte boundary.
void endEntry(EntryEncoder* e);

// A whole entry at once: `data` holds the preset bytes followed by all of
// the entry's bytes (it must stay as it is until the call returns). The
// coded data is the same as through beginEntry, feedEntry and endEntry.
// With `helper`, another thread finds the matches of each next segment
// while this one parses and codes the current one (the optimal levels).
// `onProgress` (when given) hears of the entry's bytes as they are coded;
// `stop` (when given and set) cuts the coding short.
struct WholeEntry {
  const uint8_t* data;
  uint32_t presetLength;
  uint32_t total;
  bool helper;
  void (*onProgress)(void* context, uint32_t bytes);
  void* context;
  const std::atomic<bool>* stop;
};
void codeWholeEntry(EntryEncoder* e, int level, const WholeEntry& entry, BitWriter* out);

// Literal/match counts of the current entry so far (for statistics).
uint32_t entrySymbols(const EntryEncoder* e);
// The estimated size in bits of a measured entry.
uint64_t estimatedBits(const EntryEncoder* e);
