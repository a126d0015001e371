// The coding side of the adaptive model: the same two trees as the decoder,
// built by the decoder's own buildCodeTree from the same counts at the same
// rebuild points, so the codes written are the codes the decoder walks.
#pragma once
#include <stdint.h>

#include "decode/code_tree.h"
#include "encode/bit_writer.h"

static const int kMinMatch = 2;
static const int kMaxMatchLength = 4352;
static const int kMaxMatchDistance = 8192;
static const int kShortLengthLimit = 256;  // longer lengths take symbol 511 and 12 bits

// Codes derived from a built tree: the code of a symbol is its path from the
// root (child0 = 0), first bit at the root. Codes have no length cap: counts
// are never scaled, so a huge file can give codes longer than 64 bits; those
// are written from the path itself.
struct CodeTable {
  uint64_t bits[kSymbols];     // root-first path, first bit in bit 0 (when length <= 64)
  uint16_t length[kSymbols];   // bits in the code
  int16_t parent[kNodes];      // for codes longer than 64 bits: the path upward
  uint8_t side[kNodes];        // 0: child0 of its parent, 1: child1
  bool hasLongCodes;
};

void codeTableFromTree(const CodeTree* t, CodeTable* c);
// Code lengths only (for cost estimates).
void codeLengthsFromTree(const CodeTree* t, uint16_t* lengths);
void putCode(BitWriter* w, const CodeTable* c, int symbol);

// Symbol-tree symbol for a match length, and the extra length bits.
static inline int lengthSymbol(int length) { return length <= kShortLengthLimit ? length + 254 : 511; }
static inline int distanceSymbol(int distance) { return (distance - 1) >> 4; }

struct SymbolCoder {
  CodeTree symbolTree;
  CodeTree distanceTree;
  CodeTable symbolCodes;
  CodeTable distanceCodes;
  uint32_t symbolCount;   // symbols of this entry so far (literals and matches)
  uint32_t builds;        // rebuild points passed (tests and statistics)
  uint32_t builtFor;      // symbolCount + 1 of the last build, 0 for none
};

// Start of a file entry's coded data: fresh counts on both trees.
void beginSymbols(SymbolCoder* s);
// Builds both trees and their codes (the decoder does the same at every
// rebuild point).
void rebuildCodes(SymbolCoder* s);

// Rebuilds both trees when the next symbol is at a rebuild point.
static inline void beforeSymbol(SymbolCoder* s) {
  if (isRebuildPoint(s->symbolCount) && s->builtFor != s->symbolCount + 1) rebuildCodes(s);
}

static inline void codeLiteral(SymbolCoder* s, BitWriter* w, uint8_t byte) {
  beforeSymbol(s);
  putCode(w, &s->symbolCodes, byte);
  countSymbol(&s->symbolTree, byte);
  ++s->symbolCount;
}

// length 2..4,352, distance 1..8,192.
static inline void codeMatch(SymbolCoder* s, BitWriter* w, int length, int distance) {
  beforeSymbol(s);
  const int ls = lengthSymbol(length);
  putCode(w, &s->symbolCodes, ls);
  countSymbol(&s->symbolTree, ls);
  if (ls == 511) putBits(w, (uint32_t)(length - 257), 12);
  const int ds = distanceSymbol(distance);
  putCode(w, &s->distanceCodes, ds);
  countSymbol(&s->distanceTree, ds);
  putBits(w, (uint32_t)((distance - 1) & 15), 4);
  ++s->symbolCount;
}
