// Adaptive prefix codes over 512 symbols, rebuilt from running counts. The
// compressor keeps the same counts and rebuilds at the same points, so both
// sides derive identical trees; every order and tie-break below matters.
#pragma once
#include <stdint.h>

static const int kSymbols = 512;
static const int kNodes = 2 * kSymbols - 1;
static const int16_t kNoChild = -1;

struct CodeNode {
  int32_t symbol;   // leaves only
  int32_t weight;   // the leaf's count at the build, or the sum of the children
  int16_t child0;   // kNoChild for a leaf
  int16_t child1;
};

static const int kSortStops = 4;

struct CodeTree {
  CodeNode nodes[kNodes];   // 0..511 leaves, 512..1022 internal, 1022 the root
  int16_t order[kSymbols];  // the build's work list; order[0] is the root after it
  int32_t counts[kSymbols]; // decoded so far in this entry, plus 1
  int32_t rank[kSymbols];   // position of each leaf after the last sort
  // Work areas of buildCodeTree: the leaves as sort keys, sorted from entry
  // kSortStops on (the entries before stand for "no leaf left"), and the
  // keys of the leaves that the sort moves.
  uint64_t sortKeys[kSortStops + kSymbols];
  uint64_t movedKeys[kSymbols];
};

static const int16_t kRoot = kNodes - 1;

void resetCodeTree(CodeTree* t);
// Rebuilds nodes and order from counts and rank, and updates rank: the same
// nodes, ranks and root as buildCodeTreeReference (order beyond its first
// entry is scratch), in time linear in the symbols once they are sorted.
void buildCodeTree(CodeTree* t);
// The build step for step as the format defines it: bubble passes for the
// sort and one-step moves for every new node. The fast build is tested
// against it.
void buildCodeTreeReference(CodeTree* t);
// Walks from the root taking one bit per step from readBit.
int decodeSymbol(const CodeTree* t);
// True when both trees are rebuilt before the symbol with this index.
inline bool isRebuildPoint(uint32_t symbolCount) {
  return (symbolCount & 255) == 0 && (symbolCount < 2048 || (symbolCount & 1023) == 0);
}
// Counts grow without any cap; they wrap as 32-bit values would.
inline void countSymbol(CodeTree* t, int s) { t->counts[s] = (int32_t)((uint32_t)t->counts[s] + 1u); }

// The lookup table of a built tree for the decoder: indexed by the next bits
// of the input (the first bit of a code in bit 0), as many bits as the
// longest code needs, at most maxBits (at most kDecodeTableBits). An entry
// is node << 6 | bits: a leaf (node < 512, the symbol) reached after `bits`
// bits, or for longer codes the internal node reached after maxBits bits,
// from which the walk goes on bit by bit.
#if VELLICOR_HOST_DECODER
static const uint32_t kDecodeTableBits = 11;
#else
static const uint32_t kDecodeTableBits = 10;
#endif
struct DecodeTable {
  uint16_t entries[1 << kDecodeTableBits];
  uint32_t mask;  // table size - 1
};
void fillDecodeTable(const CodeTree* t, DecodeTable* table, uint32_t maxBits);
