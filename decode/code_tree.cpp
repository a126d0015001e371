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
    // The leaves, and their order for the fast build's first sort.
    t->nodes[s].symbol = s;
    t->nodes[s].child0 = kNoChild;
    t->nodes[s].child1 = kNoChild;
    t->sortKeys[kSortStops + s] = (uint64_t)s;
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

// ---- the fast build ----
//
// The same build in fewer steps. Both steps of the reference keep one
// invariant that lets them be done differently with the same outcome: the
// live part of the work list is always in non-increasing weight order.

// A leaf as one number: its weight in the high half, so that heavier leaves
// have smaller keys (weights compare as the signed values they are), and
// its symbol in the low half. Keys are compared by their high half only.
static const uint64_t kLowHalf = 0xFFFFFFFFu;
static inline uint64_t leafKey(int32_t weight, uint32_t symbol) {
  return (uint64_t)((uint32_t)weight ^ 0x7FFFFFFFu) << 32 | symbol;
}
static inline int32_t keyWeight(uint64_t key) { return (int32_t)((uint32_t)(key >> 32) ^ 0x7FFFFFFFu); }
static inline int16_t keySymbol(uint64_t key) { return (int16_t)(key & 0xFFFF); }
// a before b in the sorted list: strictly heavier.
static inline bool heavier(uint64_t a, uint64_t b) { return a < (b & ~kLowHalf); }

// Sorts the leaves into sortKeys from kSortStops on, stably by descending
// weight. The list starts in the previous build's order, and counts only
// grow, so most leaves are already in place. One pass splits the list into
// the leaves that keep a non-increasing run of weights (they stay, in their
// order) and the rest (set aside, in their order); the rest is sorted by
// insertion and merged back from the end. A leaf set aside is heavier than
// a leaf that stayed before it, so every leaf that stayed and weighs as
// much as it stood before it too: between equal weights the merge keeps a
// leaf that stayed ahead, and the result is exactly the stable sort of the
// whole list, as the bubble passes give. Reports whether every weight is at
// least 1 and all of them add up to at most 2^31 - 1 (every real archive).
//
// The previous order is read from the previous build's keys, in sequence,
// when they agree with the ranks (always, after a build or a reset);
// otherwise, from the ranks, and the leaves are placed afresh.
static bool sortLeaves(CodeTree* t) {
  CodeNode* nodes = t->nodes;
  const int32_t* counts = t->counts;
  const int32_t* rank = t->rank;
  for (int i = 0; i < kSortStops; ++i) t->sortKeys[i] = 0;  // heavier than any leaf
  uint64_t* keys = t->sortKeys + kSortStops;
  uint64_t* moved = t->movedKeys;
  uint64_t *keptEnd = keys, *movedEnd = moved;
  uint32_t mismatch = 0;
  for (int pass = 0; pass < 2; ++pass) {
    if (mismatch) {
      for (int s = 0; s < kSymbols; ++s) {
        nodes[s].symbol = s;
        nodes[s].child0 = kNoChild;
        nodes[s].child1 = kNoChild;
        keys[rank[s]] = (uint64_t)s;
      }
      keptEnd = keys;
      movedEnd = moved;
    }
    // Whether a leaf stays is as good as random where leaves move, so both
    // places are written and only the ends tell which one holds it.
    uint32_t last = 0;  // the high half of the last key that stayed
    mismatch = 0;
    for (uint32_t p = 0; p < (uint32_t)kSymbols; ++p) {
      const uint32_t s = (uint32_t)keys[p] & (kSymbols - 1);
      mismatch |= (uint32_t)rank[s] ^ p;
      const int32_t w = counts[s];
      nodes[s].weight = w;
      const uint64_t k = leafKey(w, s);
      const uint32_t high = (uint32_t)(k >> 32);
      const bool stays = high >= last;
      *keptEnd = k;
      *movedEnd = k;
      keptEnd += stays;
      movedEnd += !stays;
      last = stays ? high : last;
    }
    if (!mismatch) break;
  }
  const int movedCount = (int)(movedEnd - moved);
  for (int i = 1; i < movedCount; ++i) {
    const uint64_t k = moved[i];
    int at = i;
    for (; at > 0 && heavier(k, moved[at - 1]); --at) moved[at] = moved[at - 1];
    moved[at] = k;
  }
  // The stop entries before the list are heavier than any leaf.
  uint64_t *from = keptEnd - 1, *out = keys + kSymbols - 1;
  for (int m = movedCount - 1; m >= 0; --m) {
    const uint64_t mk = moved[m];
    while (heavier(mk, *from)) *out-- = *from--;
    *out-- = mk;
  }
  // Every weight at least 1, and a sum that cannot pass 2^31 - 1 (else
  // added up).
  if (keyWeight(keys[kSymbols - 1]) < 1) return false;
  if (keyWeight(keys[0]) <= INT32_MAX / kSymbols) return true;
  int64_t total = 0;
  for (int s = 0; s < kSymbols; ++s) total += counts[s];
  return total <= INT32_MAX;
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

// Merge when every weight is at least 1 and no sum wraps. Then each new node
// weighs at least as much as the one created before it and more than either
// child, and the work list is two queues: the sorted leaves, taken from the
// back, and the internal nodes in creation order, taken from the front. The
// order of equal weights follows the reference: an internal node goes
// behind every leaf of its weight, so it is taken first; among internal
// nodes of one weight the most recent is taken first, so a run of equal
// weight is used up from its back (no new node can join it meanwhile: it
// would be heavier, and no leaf is lighter than the run).
static void mergeCountedWeights(CodeTree* t) {
  CodeNode* inner = t->nodes + kSymbols;  // internal node i is inner[i]
  const uint64_t* leaves = t->sortKeys + kSortStops - 1;  // sorted in 1..512; 0 weighs "more than any"
  int32_t weight[kSymbols];               // of the internal nodes, then "none left"
  int leafEnd = kSymbols;                 // leaves 1 .. leafEnd are live
  int head = 0;                           // the first internal node neither taken nor in the run
  int runLow = 0, runNext = -1;           // the run being used up: runNext down to runLow
  int32_t runWeight = 0;
  int created = 0;
  auto create = [&](int child1, int child0, int32_t sum) {
    CodeNode* node = &inner[created];
    node->symbol = 0;
    node->child0 = (int16_t)child0;
    node->child1 = (int16_t)child1;
    node->weight = weight[created] = sum;
    weight[++created] = INT32_MAX;
  };
  // The lightest live entry, by the reference's order; sets its weight.
  auto take = [&](int32_t* w) -> int {
    if (runNext >= runLow) {
      *w = runWeight;
      return kSymbols + runNext--;
    }
    const int32_t wi = weight[head];
    const uint64_t leaf = leaves[leafEnd];
    if (wi <= keyWeight(leaf)) {
      *w = wi;
      if (weight[head + 1] != wi) return kSymbols + head++;
      runLow = head;
      while (weight[++head] == wi) {}
      runNext = head - 1;
      runWeight = wi;
      return kSymbols + runNext--;
    }
    *w = keyWeight(leaf);
    --leafEnd;
    return keySymbol(leaf);
  };
  weight[0] = INT32_MAX;
  while (created < kSymbols - 1) {
    // Long stretches need no choice: pairs of leaves lighter than every
    // internal node left (while counts are young, most leaves weigh 1),
    // and pairs from the run in use, which no leaf undercuts.
    while (runNext > runLow) {
      create(kSymbols + runNext, kSymbols + runNext - 1, 2 * runWeight);
      runNext -= 2;
    }
    if (runNext < runLow) {
      for (int32_t next = keyWeight(leaves[leafEnd - 1]); next < weight[head] && leafEnd >= 2;
           next = keyWeight(leaves[leafEnd - 1])) {
        const int32_t w1 = keyWeight(leaves[leafEnd]);
        create(keySymbol(leaves[leafEnd]), keySymbol(leaves[leafEnd - 1]), w1 + next);
        leafEnd -= 2;
      }
      if (created == kSymbols - 1) break;
    }
    int32_t w1, w0;
    const int child1 = take(&w1);
    const int child0 = take(&w0);
    create(child1, child0, w0 + w1);
  }
}

void buildCodeTree(CodeTree* t) {
  const bool counted = sortLeaves(t);
  const uint64_t* keys = t->sortKeys + kSortStops;
  for (int p = 0; p < kSymbols; ++p) t->rank[keySymbol(keys[p])] = p;
  if (counted) {
    mergeCountedWeights(t);
  } else {
    for (int p = 0; p < kSymbols; ++p) t->order[p] = keySymbol(keys[p]);
    mergeAnyWeights(t);
  }
  t->order[0] = kRoot;
}

// Breadth first from the root, one depth at a time: while the codes of depth
// d are placed, the table has 2^d entries, and it doubles (a copy of itself,
// since the bit above a shorter code may be anything) before depth d + 1.
// Every child gets its entry at its code's index; an internal child's entry
// is overwritten by its own children one depth later, unless the table has
// reached its full size: then it stays, as the node to go on from.
void fillDecodeTable(const CodeTree* t, DecodeTable* table, uint32_t maxBits) {
  const CodeNode* nodes = t->nodes;
  uint16_t* entries = table->entries;
  // Internal nodes still to expand, depth by depth: node << 16 | code.
  uint32_t queue[kSymbols];
  uint32_t head = 0, tail = 1;
  queue[0] = (uint32_t)kRoot << 16;
  uint32_t size = 1;
  for (uint32_t depth = 0; head < tail && depth < maxBits; ++depth) {
    __builtin_memcpy(entries + size, entries, size * sizeof entries[0]);
    size <<= 1;
    const uint32_t bits = depth + 1, one = 1u << depth;
    for (const uint32_t end = tail; head < end; ++head) {
      const uint32_t code0 = queue[head] & 0xFFFF, code1 = code0 | one;
      uint32_t children;  // child0 in the low half (x86 is little-endian)
      __builtin_memcpy(&children, &nodes[queue[head] >> 16].child0, sizeof children);
      const uint32_t c0 = children & 0xFFFF, c1 = children >> 16;
      entries[code0] = (uint16_t)(c0 << 6 | bits);
      entries[code1] = (uint16_t)(c1 << 6 | bits);
      queue[tail] = c0 << 16 | code0;  // kept only for an internal child
      tail += c0 >= (uint32_t)kSymbols;
      queue[tail] = c1 << 16 | code1;
      tail += c1 >= (uint32_t)kSymbols;
    }
  }
  table->mask = size - 1;
}

// The bit-by-bit walk with the bit reader's state held in locals: one
// stream byte is fetched when the first of its bits is needed, exactly as
// readBit does.
int decodeSymbol(const CodeTree* t) {
  DecoderState* d = decoder;
  const CodeNode* nodes = t->nodes;
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
}
