#include "decode/code_tree.h"
#include "decode/decoder.h"
#include "decode/stream.h"

// Weights are compared as the signed 32-bit values they are; sums wrap as
// 32-bit values would, so every build of the same counts gives the same tree.
static inline int32_t addWeights(int32_t a, int32_t b) { return (int32_t)((uint32_t)a + (uint32_t)b); }

void resetCodeTree(CodeTree* t) {
  for (int s = 0; s < kSymbols; ++s) {
    t->counts[s] = 1;
    t->rank[s] = s;
  }
}

void buildCodeTree(CodeTree* t) {
  CodeNode* nodes = t->nodes;
  int16_t* order = t->order;

  // Leaves, placed where the previous sort left them.
  for (int s = 0; s < kSymbols; ++s) {
    nodes[s].symbol = s;
    nodes[s].weight = t->counts[s];
    nodes[s].child0 = kNoChild;
    nodes[s].child1 = kNoChild;
    order[t->rank[s]] = (int16_t)s;
  }

  // Stable sort into descending weight by backward bubble passes. The list
  // starts in the previous build's order, so it is nearly sorted.
  int lower = 0;
  for (;;) {
    int lowestSwap = -1;
    for (int j = kSymbols - 2; j >= lower; --j) {
      if (nodes[order[j]].weight < nodes[order[j + 1]].weight) {
        int16_t x = order[j];
        order[j] = order[j + 1];
        order[j + 1] = x;
        lowestSwap = j;
      }
    }
    if (lowestSwap < 0) break;
    lower = lowestSwap + 1;
    if (lower > kSymbols - 2) break;
  }

  for (int p = 0; p < kSymbols; ++p) t->rank[nodes[order[p]].symbol] = p;

  // Merge the two last entries into a new node and move it forward past
  // every entry of strictly smaller weight.
  for (int n = kSymbols - 1; n > 0;) {
    int16_t created = (int16_t)(kNodes - n);
    CodeNode* node = &nodes[created];
    node->symbol = 0;
    node->child0 = order[n - 1];
    node->child1 = order[n];
    node->weight = addWeights(nodes[order[n - 1]].weight, nodes[order[n]].weight);
    order[n - 1] = created;
    --n;
    if (n > 0) {
      int p = n;
      while (p > 0 && nodes[order[p - 1]].weight < node->weight) {
        order[p] = order[p - 1];
        order[p - 1] = created;
        --p;
      }
    }
  }
}

int decodeSymbol(const CodeTree* t) {
  // The bit-by-bit walk with the bit reader's state held in locals: one
  // stream byte is fetched when the first of its bits is needed, exactly as
  // readBit does.
  DecoderState* d = decoder;
  uint32_t byte = d->bitByte;
  uint32_t used = d->bitsUsed;
  const CodeNode* nodes = t->nodes;
  int n = kRoot;
  do {
    if (used == 0) byte = readStreamByte();
    const uint32_t bit = byte & 1;
    byte >>= 1;
    used = (used + 1) & 7;
    n = bit ? nodes[n].child1 : nodes[n].child0;
  } while (nodes[n].child0 != kNoChild);
  d->bitByte = (uint8_t)byte;
  d->bitsUsed = (uint8_t)used;
  return nodes[n].symbol;
}
