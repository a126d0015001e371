#include "decode/code_tree.h"
#include "decode/decoder.h"
#include "decode/stream.h"
#include "fileio/byte_string.h"

// Weights are compared as the signed 32-bit values they are; sums wrap as
// 32-bit values would, so every build of the same counts gives the same tree.
static inline int32_t addWeights(int32_t a, int32_t b) { return (int32_t)((uint32_t)a + (uint32_t)b); }

void resetCodeTree(CodeTree* t) {
  for (int s = 0; s < kSymbols; ++s) {
    t->counts[s] = 1;
    t->rank[s] = s;
  }
}

// Leaves, placed where the previous sort left them.
static void placeLeaves(CodeTree* t) {
  CodeNode* nodes = t->nodes;
  for (int s = 0; s < kSymbols; ++s) {
    nodes[s].symbol = s;
    nodes[s].weight = t->counts[s];
    nodes[s].child0 = kNoChild;
    nodes[s].child1 = kNoChild;
    t->order[t->rank[s]] = (int16_t)s;
  }
}

static void takeRanks(CodeTree* t) {
  for (int p = 0; p < kSymbols; ++p) t->rank[t->nodes[t->order[p]].symbol] = p;
}

// The build as the format defines it, step for step. Every faster build
// must give exactly the nodes, ranks and root that this one gives.
void buildCodeTreeReference(CodeTree* t) {
  CodeNode* nodes = t->nodes;
  int16_t* order = t->order;
  placeLeaves(t);

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

  takeRanks(t);

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

#if VELLICOR_FAST_CODE_TREES

// The same build in fewer steps. Both steps of the reference keep one
// invariant that lets them be done differently with the same outcome: the
// live part of the work list is always in non-increasing weight order.

// Stable sort as a radix sort, which keeps the order of equal keys by its
// nature: least significant byte first over a key that orders descending
// weights as ascending unsigned values. Passes in which every key has the
// same byte change nothing and are left out (counts below 65,536 need two).
static void radixSortLeaves(CodeTree* t) {
  // Under 4 KB of stack (the stub's frames must stay below that): keys are
  // taken from the counts as needed, and the order list is one of the two
  // buffers.
  const int32_t* counts = t->counts;
  int16_t other[kSymbols];
  int16_t* buffers[2] = {t->order, other};
  uint16_t histogram[4][256] = {};
  for (int s = 0; s < kSymbols; ++s) {
    const uint32_t key = (uint32_t)counts[s] ^ 0x7FFFFFFFu;
    for (int b = 0; b < 4; ++b) ++histogram[b][key >> (8 * b) & 255];
  }
  int from = 0;
  for (int b = 0; b < 4; ++b) {
    uint16_t* h = histogram[b];
    if (h[((uint32_t)counts[0] ^ 0x7FFFFFFFu) >> (8 * b) & 255] == kSymbols) continue;
    uint16_t at = 0;
    for (int v = 0; v < 256; ++v) {
      const uint16_t n = h[v];
      h[v] = at;
      at = (uint16_t)(at + n);
    }
    const int16_t* src = buffers[from];
    int16_t* dst = buffers[from ^ 1];
    for (int p = 0; p < kSymbols; ++p) {
      const int16_t s = src[p];
      dst[h[((uint32_t)counts[s] ^ 0x7FFFFFFFu) >> (8 * b) & 255]++] = s;
    }
    from ^= 1;
  }
  if (from) copyBytes(t->order, other, sizeof other);
}

// The list starts in the previous build's order, so usually only some
// entries are out of place: insertion moves them behind the last entry of at
// least their weight, which keeps equal weights in order. When that takes
// too many moves the radix sort finishes the job; a list whose front part
// is already sorted stably sorts to the same result as the list it came from.
static void sortLeaves(CodeTree* t) {
  const int32_t* counts = t->counts;
  int16_t* order = t->order;
  int budget = 2 * kSymbols;
  for (int i = 1; i < kSymbols; ++i) {
    const int16_t s = order[i];
    const int32_t w = counts[s];
    int j = i;
    while (j > 0 && counts[order[j - 1]] < w) {
      order[j] = order[j - 1];
      --j;
    }
    order[j] = s;
    budget -= i - j;
    if (budget < 0) {
      radixSortLeaves(t);
      return;
    }
  }
}

// Merge for any weights (zero, negative, sums that wrap): the one-step moves
// of the reference stop behind the last live entry of at least the new
// node's weight, so a binary search over the sorted live list finds the
// same place.
static void mergeAnyWeights(CodeTree* t) {
  CodeNode* nodes = t->nodes;
  int16_t* order = t->order;
  for (int n = kSymbols - 1; n > 0;) {
    const int16_t created = (int16_t)(kNodes - n);
    CodeNode* node = &nodes[created];
    node->symbol = 0;
    node->child0 = order[n - 1];
    node->child1 = order[n];
    const int32_t w = addWeights(nodes[order[n - 1]].weight, nodes[order[n]].weight);
    node->weight = w;
    --n;
    int lo = 0, hi = n;  // the first live position of a smaller weight, or n
    while (lo < hi) {
      const int mid = (lo + hi) >> 1;
      if (nodes[order[mid]].weight < w) hi = mid;
      else lo = mid + 1;
    }
    for (int j = n; j > lo; --j) order[j] = order[j - 1];
    order[lo] = created;
  }
}

// Merge when every weight is at least 1 and all of them add up to at most
// 2^31 - 1, so no sum wraps (every real archive). Then each new node weighs
// at least as much as the one created before it and more than either child,
// and the work list is two queues: the sorted leaves, taken from the back,
// and the internal nodes in creation order, taken from the front. The order
// of equal weights follows the reference: an internal node goes behind
// every leaf of its weight, so it is taken first; among internal nodes of
// one weight the most recent is taken first, so a run of equal weight is
// used up from its back (no new node can join it meanwhile: it would be
// heavier).
static void mergeCountedWeights(CodeTree* t) {
  CodeNode* nodes = t->nodes;
  const int16_t* leaves = t->order;
  // Leaf weights by sorted position; internal node i is nodes[kSymbols + i].
  int32_t leafWeight[kSymbols];
  const CodeNode* inner = nodes + kSymbols;
  for (int p = 0; p < kSymbols; ++p) leafWeight[p] = nodes[leaves[p]].weight;
  int leafEnd = kSymbols;   // leaves[0 .. leafEnd) are live
  int head = 0;             // internal nodes head .. created-1 are live (apart from the run below)
  int runStart = 0, runLeft = 0;  // internal nodes runStart .. runLeft-1: the run being used up
  bool inRun = false;
  for (int created = 0; created < kSymbols - 1; ++created) {
    int taken[2];
    int32_t weight[2];
    for (int k = 0; k < 2; ++k) {
      const int first = inRun ? runStart : head;  // the lightest live internal node, if any
      const bool haveInner = first < created;
      const int32_t w = haveInner ? inner[first].weight : 0;
      if (haveInner && (leafEnd == 0 || w <= leafWeight[leafEnd - 1])) {
        if (!inRun) {
          runStart = head;
          runLeft = head + 1;
          while (runLeft < created && inner[runLeft].weight == w) ++runLeft;
          head = runLeft;
          inRun = true;
        }
        taken[k] = kSymbols + --runLeft;
        inRun = runLeft != runStart;
        weight[k] = w;
      } else {
        --leafEnd;
        taken[k] = leaves[leafEnd];
        weight[k] = leafWeight[leafEnd];
      }
    }
    const int32_t sum = addWeights(weight[1], weight[0]);
    CodeNode* node = &nodes[kSymbols + created];
    node->symbol = 0;
    node->child0 = (int16_t)taken[1];
    node->child1 = (int16_t)taken[0];
    node->weight = sum;
  }
}

// The first-byte table of decodeSymbol: for every 8-bit pattern (first bit
// of the code in bit 0), the node that the walk reaches with those bits and
// how many it takes: a leaf after 1 to 8 bits, else the node after 8.
static void fillFirstByteTable(CodeTree* t) {
  // Depth-first to depth 8; a stack item is node << 16 | depth << 8 | bits,
  // one word, so that popping it reads what one store wrote.
  uint32_t stack[2 * 8 + 2];
  int top = 0;
  stack[top++] = (uint32_t)kRoot << 16;
  while (top) {
    const uint32_t it = stack[--top];
    const uint32_t node = it >> 16, depth = it >> 8 & 255, bits = it & 255;
    const CodeNode& n = t->nodes[node];
    if (depth == 8 || (depth > 0 && n.child0 == kNoChild)) {
      const uint16_t entry = (uint16_t)(node << 4 | depth);
      for (uint32_t p = bits; p < 256; p += 1u << depth) t->firstByte[p] = entry;
      continue;
    }
    stack[top++] = (uint32_t)n.child0 << 16 | (depth + 1) << 8 | bits;
    stack[top++] = (uint32_t)n.child1 << 16 | (depth + 1) << 8 | (bits | 1u << depth);
  }
}

void buildCodeTree(CodeTree* t) {
  placeLeaves(t);
  sortLeaves(t);
  takeRanks(t);
  bool counted = true;
  int64_t total = 0;
  for (int s = 0; s < kSymbols; ++s) {
    counted = counted && t->counts[s] >= 1;
    total += t->counts[s];
  }
  if (counted && total <= 0x7FFFFFFF) mergeCountedWeights(t);
  else mergeAnyWeights(t);
  t->order[0] = kRoot;
  fillFirstByteTable(t);
}

#else

void buildCodeTree(CodeTree* t) { buildCodeTreeReference(t); }

#endif

int decodeSymbol(const CodeTree* t) {
  DecoderState* d = decoder;
  const CodeNode* nodes = t->nodes;
#if VELLICOR_FAST_CODE_TREES
  // Up to 8 bits at once through the first-byte table, from the bits left
  // in the current byte. Bytes are still fetched only when the walk needs
  // their first bit: a pattern whose entry takes more bits than the byte
  // has left goes on into the next byte, which the walk would fetch too.
  uint32_t bits, left;
  if (d->bitsUsed == 0) {
    bits = readStreamByte();
    left = 8;
  } else {
    bits = d->bitByte;
    left = 8u - d->bitsUsed;
  }
  uint32_t entry = t->firstByte[bits & 255];
  if ((entry & 15) > left) {
    bits |= (uint32_t)readStreamByte() << left;
    left += 8;
    entry = t->firstByte[bits & 255];
  }
  bits >>= entry & 15;
  left -= entry & 15;
  int n = (int)(entry >> 4);
  // Codes longer than 8 bits: on bit by bit.
  while (nodes[n].child0 != kNoChild) {
    if (left == 0) {
      bits = readStreamByte();
      left = 8;
    }
    n = bits & 1 ? nodes[n].child1 : nodes[n].child0;
    bits >>= 1;
    --left;
  }
  d->bitByte = (uint8_t)bits;
  d->bitsUsed = (uint8_t)((8u - left) & 7);
  return nodes[n].symbol;
#else
  // The bit-by-bit walk with the bit reader's state held in locals: one
  // stream byte is fetched when the first of its bits is needed, exactly as
  // readBit does.
  uint32_t byte = d->bitByte;
  uint32_t used = d->bitsUsed;
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
#endif
}
