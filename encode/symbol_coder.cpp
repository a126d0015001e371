#include "encode/symbol_coder.h"

void codeTableFromTree(const CodeTree* t, CodeTable* c) {
  // Depth-first from the root with an explicit stack; every internal node has
  // two children, so the stack never holds more than the tree's height + 1.
  struct Item {
    int16_t node;
    uint16_t depth;
    uint64_t bits;
  };
  Item stack[kNodes];
  int top = 0;
  c->hasLongCodes = false;
  c->parent[kRoot] = -1;
  stack[top++] = {kRoot, 0, 0};
  while (top) {
    const Item it = stack[--top];
    const CodeNode& n = t->nodes[it.node];
    if (n.child0 == kNoChild) {
      c->bits[n.symbol] = it.bits;
      c->length[n.symbol] = it.depth;
      if (it.depth > 64) c->hasLongCodes = true;
      continue;
    }
    c->parent[n.child0] = it.node;
    c->parent[n.child1] = it.node;
    c->side[n.child0] = 0;
    c->side[n.child1] = 1;
    const uint64_t one = it.depth < 64 ? 1ull << it.depth : 0;
    stack[top++] = {n.child0, (uint16_t)(it.depth + 1), it.bits};
    stack[top++] = {n.child1, (uint16_t)(it.depth + 1), it.bits | one};
  }
}

void codeLengthsFromTree(const CodeTree* t, uint16_t* lengths) {
  int16_t stack[kNodes];
  uint16_t depth[kNodes];
  int top = 0;
  stack[top] = kRoot;
  depth[top++] = 0;
  while (top) {
    --top;
    const int16_t node = stack[top];
    const uint16_t d = depth[top];
    const CodeNode& n = t->nodes[node];
    if (n.child0 == kNoChild) {
      lengths[n.symbol] = d;
      continue;
    }
    stack[top] = n.child0;
    depth[top++] = (uint16_t)(d + 1);
    stack[top] = n.child1;
    depth[top++] = (uint16_t)(d + 1);
  }
}

static void putLongCode(BitWriter* w, const CodeTable* c, int symbol) {
  // Climb from the leaf to the root, then write the path root first.
  uint8_t path[kNodes];
  int n = 0;
  for (int node = symbol; c->parent[node] >= 0; node = c->parent[node]) path[n++] = c->side[node];
  while (n) putBits(w, path[--n], 1);
}

void putCode(BitWriter* w, const CodeTable* c, int symbol) {
  const int length = c->length[symbol];
  if (length <= 32) {
    putBits(w, c->bits[symbol], length);
  } else if (length <= 64) {
    putBits(w, c->bits[symbol], 32);
    putBits(w, c->bits[symbol] >> 32, length - 32);
  } else {
    putLongCode(w, c, symbol);
  }
}

void beginSymbols(SymbolCoder* s) {
  resetCodeTree(&s->symbolTree);
  resetCodeTree(&s->distanceTree);
  s->symbolCount = 0;
  s->builds = 0;
  s->builtFor = 0;
}

void rebuildCodes(SymbolCoder* s) {
  // Symbol tree first, then the distance tree, also when no distance has
  // been coded since the last build: the decoder rebuilds both here.
  buildCodeTree(&s->symbolTree);
  buildCodeTree(&s->distanceTree);
  codeTableFromTree(&s->symbolTree, &s->symbolCodes);
  codeTableFromTree(&s->distanceTree, &s->distanceCodes);
  ++s->builds;
  s->builtFor = s->symbolCount + 1;
}
