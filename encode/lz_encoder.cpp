#include "encode/lz_encoder.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <condition_variable>
#include <mutex>
#include <thread>

LzParams lzParamsForLevel(int level) {
  switch (level < kMinLevel ? kMinLevel : level > kMaxLevel ? kMaxLevel : level) {
    case 1: return {8, 32, 1, false, 0};
    case 2: return {32, 128, 1, false, 0};
    case 3: return {16, 64, 1, true, 0};
    case 4: return {48, 256, 2, true, 0};
    default: return {256, 1024, 3, true, 6};
  }
}

EntryEncoder* newEntryEncoder() {
  EntryEncoder* e = (EntryEncoder*)calloc(1, sizeof(EntryEncoder));
  if (!e) return 0;
  e->nextBase = 1;
  e->window = e->buffer;
  e->candStart = e->ownCandStart;
  e->cands = e->ownCands;
  return e;
}

void freeEntryEncoder(EntryEncoder* e) { free(e); }

uint32_t entrySymbols(const EntryEncoder* e) { return e->coder.symbolCount; }

uint64_t estimatedBits(const EntryEncoder* e) { return (e->estimate + 15) / 16; }

// ---- hash tables ----

static inline uint32_t hash3(const uint8_t* p) {
  const uint32_t x = (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16;
  return (x * 2654435761u) >> (32 - kHash3Bits);
}

static inline const uint8_t* at(const EntryEncoder* e, uint32_t p) { return e->window + (p - e->windowStart); }

// Enters every position below `upTo` whose three bytes are in the buffer.
static inline void insertUpTo(EntryEncoder* e, uint32_t upTo) {
  uint32_t p = e->inserted;
  const uint32_t limit = e->filled >= 2 ? e->filled - 2 : 0;  // p + 2 < filled
  if (upTo > limit) upTo = limit;
  for (; p < upTo; ++p) {
    const uint8_t* b = at(e, p);
    const uint32_t h = hash3(b);
    e->prev[p & (kPrevSize - 1)] = e->head3[h];
    e->head3[h] = p;
    e->head2[b[0] | b[1] << 8] = p;
  }
  if (p > e->inserted) e->inserted = p;
}

static inline uint32_t matchLength(const uint8_t* a, const uint8_t* b, uint32_t maxLen) {
  uint32_t n = 0;
  while (n + 8 <= maxLen) {
    uint64_t x, y;
    memcpy(&x, a + n, 8);
    memcpy(&y, b + n, 8);
    if (x != y) return n + (uint32_t)(__builtin_ctzll(x ^ y) >> 3);
    n += 8;
  }
  while (n < maxLen && a[n] == b[n]) ++n;
  return n;
}

// Matches at p, by increasing length, each with the shortest distance that
// reaches it. The window holds the preset bytes and what the entry produced
// so far, at most 8,192 bytes back; a match never runs past maxLen.
static int findMatches(EntryEncoder* e, uint32_t p, uint32_t maxLen, Candidate* out) {
  if (maxLen < (uint32_t)kMinMatch) return 0;
  const uint32_t minPos = p - e->entryBase > (uint32_t)kMaxMatchDistance ? p - kMaxMatchDistance : e->entryBase;
  // The address of position q's byte is base + q (kept as an integer: the
  // sum leaves the window only for positions that are never read).
  const uintptr_t base = (uintptr_t)e->window - e->windowStart;
  auto byteAt = [base](uint32_t q) { return (const uint8_t*)(base + q); };
  const uint8_t* cur = byteAt(p);
  uint32_t best = 1;
  int count = 0;
  auto record = [&](uint32_t length, uint32_t c) {
    best = length;
    Candidate cand = {(uint16_t)length, (uint16_t)(p - c)};
    if (count < kMaxCandidates) out[count++] = cand;
    else out[kMaxCandidates - 1] = cand;
  };

  uint32_t c = e->head2[cur[0] | cur[1] << 8];
  if (c >= minPos && c < p) {
    uint32_t n = matchLength(byteAt(c), cur, maxLen);
    if (n >= 2) record(n, c);
  }
  if (maxLen < 3 || best >= maxLen || best >= (uint32_t)e->params.niceLength) return count;
  if (p + 2 >= e->filled) return count;

  c = e->head3[hash3(cur)];
  int depth = e->params.chainDepth;
  while (c >= minPos && c < p && depth-- > 0) {
    const uint8_t* cand = byteAt(c);
    if (cand[best] == cur[best]) {
      uint32_t n = matchLength(cand, cur, maxLen);
      if (n > best) {
        record(n, c);
        if (n >= maxLen || n >= (uint32_t)e->params.niceLength) break;
      }
    }
    const uint32_t next = e->prev[c & (kPrevSize - 1)];
    if (next >= c) break;  // a slot reused by a newer position: the chain ends
    c = next;
  }
  return count;
}

// ---- costs ----

static const uint32_t kBit = 16;  // costs count 1/16 bits

static inline uint32_t matchCost(const EntryEncoder* e, uint32_t length, uint32_t distance) {
  const uint32_t ls = (uint32_t)lengthSymbol((int)length);
  return e->symbolCost[ls] + (ls == 511 ? 12 * kBit : 0) + e->distanceCost[distanceSymbol((int)distance)] + 4 * kBit;
}

// Code lengths of the coder's current trees.
static void costsFromCoder(EntryEncoder* e) {
  for (int s = 0; s < kSymbols; ++s) {
    e->symbolCost[s] = (uint16_t)(e->coder.symbolCodes.length[s] * kBit);
    e->distanceCost[s] = (uint16_t)(e->coder.distanceCodes.length[s] * kBit);
  }
}

// -log2 of each symbol's share of the counts: what an ideal code built from
// them would spend, at least one bit.
static void entropyCosts(const int32_t* counts, uint16_t* cost) {
  uint64_t total = 0;
  for (int s = 0; s < kSymbols; ++s) total += (uint32_t)counts[s];
  const double logTotal = log2((double)total);
  for (int s = 0; s < kSymbols; ++s) {
    const double c = (double)(uint32_t)counts[s];
    double bits = logTotal - log2(c);
    if (bits < 1) bits = 1;
    if (bits > 4000) bits = 4000;
    cost[s] = (uint16_t)(bits * kBit + 0.5);
  }
}

// Estimated costs from the entry's counts so far.
static void costsFromCounts(EntryEncoder* e) {
  entropyCosts(e->coder.symbolTree.counts, e->symbolCost);
  entropyCosts(e->coder.distanceTree.counts, e->distanceCost);
}

// At a rebuild point: the costs the next symbols are coded with. Coding
// builds the trees (once per point) and takes their code lengths; measuring
// estimates them from the counts.
static void refreshCosts(EntryEncoder* e) {
  if (e->costsFor == e->coder.symbolCount + 1) return;
  e->costsFor = e->coder.symbolCount + 1;
  if (e->out) {
    beforeSymbol(&e->coder);
    costsFromCoder(e);
  } else {
    costsFromCounts(e);
  }
}

// ---- coding ----

static inline void codeToken(EntryEncoder* e, uint32_t p, Candidate t) {
  if (e->out) {
    if (t.length == 1) codeLiteral(&e->coder, e->out, *at(e, p));
    else codeMatch(&e->coder, e->out, t.length, t.distance);
    return;
  }
  // Measuring: the same counts and rebuild points, estimated costs.
  if (isRebuildPoint(e->coder.symbolCount)) refreshCosts(e);
  if (t.length == 1) {
    const uint8_t byte = *at(e, p);
    e->estimate += e->symbolCost[byte];
    countSymbol(&e->coder.symbolTree, byte);
  } else {
    e->estimate += matchCost(e, t.length, t.distance);
    countSymbol(&e->coder.symbolTree, lengthSymbol(t.length));
    countSymbol(&e->coder.distanceTree, distanceSymbol(t.distance));
  }
  ++e->coder.symbolCount;
}

// Lazy evaluation: a match found here is deferred when the next position
// offers a better one; "better" is measured in bits under the current codes.
static void parseLazy(EntryEncoder* e, uint32_t segEnd) {
  Candidate found[kMaxCandidates];
  uint32_t p = e->pos;
  const uint32_t nice = (uint32_t)e->params.niceLength;
  while (p < segEnd) {
    // Decide with the costs the token will be coded with.
    if (isRebuildPoint(e->coder.symbolCount)) refreshCosts(e);
    insertUpTo(e, p);
    uint32_t maxLen = segEnd - p < (uint32_t)kMaxMatchLength ? segEnd - p : (uint32_t)kMaxMatchLength;
    int n = findMatches(e, p, maxLen, found);
    Candidate m = n ? found[n - 1] : Candidate{1, 0};
    // Savings in bits of the match against coding its bytes as literals.
    auto savings = [&](uint32_t from, Candidate c) -> int32_t {
      int32_t lits = 0;
      const uint8_t* b = at(e, from);
      for (uint32_t k = 0; k < c.length; ++k) lits += e->symbolCost[b[k]];
      return lits - (int32_t)matchCost(e, c.length, c.distance);
    };
    int32_t gain = m.length >= 2 ? savings(p, m) : 0;
    if (gain <= 0) m = Candidate{1, 0};
    if (m.length >= 2 && m.length < nice && p + 1 < segEnd) {
      insertUpTo(e, p + 1);
      uint32_t maxNext = maxLen - 1;
      int n2 = findMatches(e, p + 1, maxNext, found);
      if (n2) {
        Candidate m2 = found[n2 - 1];
        if (m2.length >= 2 && savings(p + 1, m2) > gain) m = Candidate{1, 0};
      }
    }
    codeToken(e, p, m);
    p += m.length;
  }
  e->pos = p;
}

// Finds the candidates of every position of the segment [segStart, segEnd)
// into candStart and cands. Only the hash tables change: the matches depend
// on the bytes alone, not on the parse or the coder.
static void collectCandidates(EntryEncoder* e, uint32_t segStart, uint32_t segEnd, uint32_t* __restrict candStart,
                              Candidate* __restrict cands) {
  const uint32_t n = segEnd - segStart;
  const uint32_t nice = (uint32_t)e->params.niceLength;
  uint32_t ci = 0;
  for (uint32_t i = 0; i < n;) {
    const uint32_t p = segStart + i;
    insertUpTo(e, p);
    candStart[i] = ci;
    const uint32_t maxLen = segEnd - p < (uint32_t)kMaxMatchLength ? segEnd - p : (uint32_t)kMaxMatchLength;
    int k = findMatches(e, p, maxLen, cands + ci);
    if (k && cands[ci + k - 1].length >= nice) {
      // A long match is taken as it is: keep it alone and give the positions
      // it covers no candidates of their own.
      const uint32_t L = cands[ci + k - 1].length;
      cands[ci] = cands[ci + k - 1];
      ci += 1;
      for (uint32_t j = 1; j < L; ++j) candStart[i + j] = ci;
      i += L;
    } else {
      ci += (uint32_t)k;
      ++i;
    }
  }
  candStart[n] = ci;
}

// Shortest path in bits through the segment under the current cost tables.
// Returns the number of tokens, left in e->tokens in coding order.
template <bool model>
static uint32_t shortestParse(EntryEncoder* e, uint32_t n) {
  const uint32_t kInf = 0xFFFFFFFFu;
  uint32_t* __restrict cost = e->cost;
  Candidate* __restrict reach = e->reach;
  const uint32_t* __restrict candStart = e->candStart;
  const Candidate* __restrict cands = e->cands;
  const uint32_t nice = (uint32_t)e->params.niceLength;
  cost[0] = 0;
  for (uint32_t i = 1; i <= n; ++i) cost[i] = kInf;
  const uint8_t* bytes = at(e, e->pos);
  const uint16_t* symbolCost = e->parseSymbolCost;
  const uint16_t* distanceCost = e->parseDistanceCost;
  for (uint32_t i = 0; i < n; ++i) {
    if (model) {
      symbolCost = e->modelSymbolCost[e->intervalAt[i]];
      distanceCost = e->modelDistanceCost[e->intervalAt[i]];
    }
    const uint32_t base = cost[i];
    const uint32_t lit = base + symbolCost[bytes[i]];
    if (lit < cost[i + 1]) {
      cost[i + 1] = lit;
      reach[i + 1] = Candidate{1, 0};
    }
    uint32_t shorter = 1;
    const uint32_t lastCandidate = candStart[i + 1];
    for (uint32_t k = candStart[i]; k < lastCandidate; ++k) {
      const Candidate c = cands[k];
      const uint32_t dc = base + distanceCost[distanceSymbol(c.distance)] + 4 * kBit;
      uint32_t from = c.length >= nice ? c.length : shorter + 1;
      for (uint32_t l = from; l <= c.length; ++l) {
        const uint32_t total = dc + (l <= (uint32_t)kShortLengthLimit ? symbolCost[l + 254]
                                                                      : symbolCost[511] + 12u * kBit);
        if (total < cost[i + l]) {
          cost[i + l] = total;
          reach[i + l] = Candidate{(uint16_t)l, c.distance};
        }
      }
      shorter = c.length;
    }
  }
  // Walk back from the end, then reverse into coding order.
  uint32_t count = 0;
  for (uint32_t i = n; i > 0; i -= reach[i].length) e->tokens[count++] = reach[i];
  for (uint32_t a = 0, b = count - 1; a < b; ++a, --b) {
    Candidate t = e->tokens[a];
    e->tokens[a] = e->tokens[b];
    e->tokens[b] = t;
  }
  return count;
}

// Costs for the optimal parse of a segment: estimates from the entry's
// counts so far plus the counts of a parse of the segment. (Costs that
// follow the rebuild points, with the flat 9-bit codes of an entry's first
// 256 symbols, were tried: the parse then favours choices that suit the
// young trees and makes the later ones worse; the whole-segment estimate
// gives smaller output.)
static void segmentCosts(EntryEncoder* e, const Candidate* tokens, uint32_t count) {
  int32_t symbols[kSymbols], distances[kSymbols];
  for (int s = 0; s < kSymbols; ++s) {
    symbols[s] = e->coder.symbolTree.counts[s];
    distances[s] = e->coder.distanceTree.counts[s];
  }
  uint32_t p = e->pos;
  for (uint32_t t = 0; t < count; ++t) {
    const Candidate c = tokens[t];
    if (c.length == 1) {
      ++symbols[*at(e, p)];
    } else {
      ++symbols[lengthSymbol(c.length)];
      ++distances[distanceSymbol(c.distance)];
    }
    p += c.length;
  }
  entropyCosts(symbols, e->parseSymbolCost);
  entropyCosts(distances, e->parseDistanceCost);
}

// Runs the adaptive model over the segment's tokens as the coder will: the
// same counts, the same rebuild points, trees built by the decoder's build.
// Returns the exact bits the tokens cost and leaves each stretch's prices
// (and the stretch of every position) for the next parse.
static uint64_t priceWithModel(EntryEncoder* e, const Candidate* tokens, uint32_t count) {
  memcpy(&e->modelSymbols, &e->coder.symbolTree, sizeof e->modelSymbols);
  memcpy(&e->modelDistances, &e->coder.distanceTree, sizeof e->modelDistances);
  uint32_t symbols = e->coder.symbolCount;
  int k = -1;
  uint16_t* exactSymbol = e->exactSymbolLength;
  uint16_t* exactDistance = e->exactDistanceLength;
  auto takeLengths = [&](const uint16_t* symbolLengths, const uint16_t* distanceLengths) {
    ++k;
    for (int s = 0; s < kSymbols; ++s) {
      exactSymbol[s] = symbolLengths[s];
      exactDistance[s] = distanceLengths[s];
      // The next parse's price: half the code length the symbol will be
      // coded with, half the segment's estimate. A choice also moves the
      // counts of later trees, which the code lengths alone do not see;
      // the blend parses smaller than either on the corpus.
      const uint32_t a = (symbolLengths[s] * kBit + e->parseSymbolCost[s]) / 2;
      const uint32_t b = (distanceLengths[s] * kBit + e->parseDistanceCost[s]) / 2;
      e->modelSymbolCost[k][s] = (uint16_t)(a < 0xFFFF ? a : 0xFFFF);
      e->modelDistanceCost[k][s] = (uint16_t)(b < 0xFFFF ? b : 0xFFFF);
    }
  };
  const bool builtHere = isRebuildPoint(symbols) && e->coder.builtFor == symbols + 1;
  if (!isRebuildPoint(symbols) || builtHere) takeLengths(e->coder.symbolCodes.length, e->coder.distanceCodes.length);
  uint64_t bits = 0;
  uint32_t i = 0;
  const uint8_t* bytes = at(e, e->pos);
  for (uint32_t t = 0; t < count; ++t) {
    if (isRebuildPoint(symbols) && !(builtHere && t == 0)) {
      buildCodeTree(&e->modelSymbols);
      buildCodeTree(&e->modelDistances);
      codeLengthsFromTree(&e->modelSymbols, e->symbolLengths);
      codeLengthsFromTree(&e->modelDistances, e->distanceLengths);
      takeLengths(e->symbolLengths, e->distanceLengths);
    }
    const Candidate c = tokens[t];
    memset(e->intervalAt + i, k, c.length);
    if (c.length == 1) {
      bits += exactSymbol[bytes[i]];
      countSymbol(&e->modelSymbols, bytes[i]);
    } else {
      const int ls = lengthSymbol(c.length), ds = distanceSymbol(c.distance);
      bits += exactSymbol[ls] + (ls == 511 ? 12 : 0) + exactDistance[ds] + 4;
      countSymbol(&e->modelSymbols, ls);
      countSymbol(&e->modelDistances, ds);
    }
    i += c.length;
    ++symbols;
  }
  e->intervalAt[i] = (uint8_t)k;
  return bits;
}

// Parses again with the code lengths the last parse would be coded with,
// as long as the exact size goes down; returns the best parse's token count
// (the tokens in e->tokens).
static uint32_t refineWithModel(EntryEncoder* e, uint32_t n, uint32_t count) {
  uint64_t bestBits = priceWithModel(e, e->tokens, count);
  uint32_t bestCount = count;
  memcpy(e->bestTokens, e->tokens, count * sizeof(Candidate));
  for (int pass = 0; pass < e->params.modelPasses; ++pass) {
    count = shortestParse<true>(e, n);
    const uint64_t bits = priceWithModel(e, e->tokens, count);
    if (bits >= bestBits) break;
    bestBits = bits;
    bestCount = count;
    memcpy(e->bestTokens, e->tokens, count * sizeof(Candidate));
  }
  memcpy(e->tokens, e->bestTokens, bestCount * sizeof(Candidate));
  return bestCount;
}

// Parses and codes the segment [pos, segEnd) from the candidates in
// e->candStart and e->cands.
static void parseFound(EntryEncoder* e, uint32_t segEnd) {
  const uint32_t n = segEnd - e->pos;

  // First estimate: a greedy walk over the candidates (longest match of 3
  // or more, else a literal).
  uint32_t count = 0;
  for (uint32_t i = 0; i < n;) {
    Candidate t = {1, 0};
    if (e->candStart[i + 1] > e->candStart[i]) {
      const Candidate c = e->cands[e->candStart[i + 1] - 1];
      if (c.length >= 3) t = c;
    }
    e->tokens[count++] = t;
    i += t.length;
  }
  for (int pass = 0; pass < e->params.passes; ++pass) {
    segmentCosts(e, e->tokens, count);
    count = shortestParse<false>(e, n);
  }
  if (e->params.modelPasses && e->out) count = refineWithModel(e, n, count);

  uint32_t p = e->pos;
  for (uint32_t t = 0; t < count; ++t) {
    codeToken(e, p, e->tokens[t]);
    p += e->tokens[t].length;
  }
  e->pos = p;
}

static void parseOptimal(EntryEncoder* e, uint32_t segEnd) {
  collectCandidates(e, e->pos, segEnd, e->candStart, e->cands);
  parseFound(e, segEnd);
}

static void parseSegment(EntryEncoder* e, uint32_t segEnd) {
  if (e->params.optimal) parseOptimal(e, segEnd);
  else parseLazy(e, segEnd);
}

// Drops buffer bytes that no match and no pending hash entry can reach.
static void slideBuffer(EntryEncoder* e) {
  uint32_t keep = e->pos < e->inserted ? e->pos : e->inserted;
  keep = keep - e->bufStart > kHistory ? keep - kHistory : e->bufStart;
  const uint32_t drop = keep - e->bufStart;
  if (!drop) return;
  memmove(e->buffer, e->buffer + drop, e->filled - keep);
  e->bufStart = keep;
  e->windowStart = keep;
}

void beginEntry(EntryEncoder* e, int level, const uint8_t* preset, uint32_t presetLength, uint32_t total,
                BitWriter* out) {
  e->params = lzParamsForLevel(level);
  // Positions must stay below 2^32: start the tables afresh when they would not.
  const uint64_t need = (uint64_t)presetLength + total + 2 * kHistory;
  if ((uint64_t)e->nextBase + need >= 0xFFFFFF00ull) {
    memset(e->head3, 0, sizeof e->head3);
    memset(e->head2, 0, sizeof e->head2);
    memset(e->prev, 0, sizeof e->prev);
    e->nextBase = 1;
  }
  e->entryBase = e->nextBase;
  e->bufStart = e->entryBase;
  e->window = e->buffer;
  e->windowStart = e->bufStart;
  e->inserted = e->entryBase;
  if (presetLength) memcpy(e->buffer, preset, presetLength);  // no preset may come as a null pointer
  e->filled = e->entryBase + presetLength;
  e->pos = e->filled;
  e->end = e->pos + total;
  // Leave a gap so that nothing of this entry looks valid to the next one.
  e->nextBase = e->end + 1;
  e->out = out;
  e->estimate = 0;
  e->costsFor = 0;
  beginSymbols(&e->coder);
}

void feedEntry(EntryEncoder* e, const uint8_t* bytes, size_t count) {
  while (count) {
    uint32_t room = kLzBufferSize - (e->filled - e->bufStart);
    if (room < kSegment) {
      slideBuffer(e);
      room = kLzBufferSize - (e->filled - e->bufStart);
    }
    const uint32_t left = e->end - e->filled;
    uint32_t n = count < room ? (uint32_t)count : room;
    if (n > left) n = left;  // never more than the entry declared
    if (!n) return;
    memcpy(e->buffer + (e->filled - e->bufStart), bytes, n);
    e->filled += n;
    bytes += n;
    count -= n;
    while (e->filled - e->pos >= kSegment) parseSegment(e, e->pos + kSegment);
  }
}

void endEntry(EntryEncoder* e) {
  while (e->pos < e->filled) {
    const uint32_t segEnd = e->filled - e->pos > kSegment ? e->pos + kSegment : e->filled;
    parseSegment(e, segEnd);
  }
  if (e->out) alignToByte(e->out);
}

// ---- a whole entry in memory ----

// The finder thread and the parser share kAhead sets of candidate arrays:
// segment k's matches go into set k % kAhead once the parser is done with
// segment k - kAhead.
struct FinderShare {
  std::mutex lock;
  std::condition_variable changed;
  uint32_t found = 0;  // segments whose candidates are ready
  uint32_t used = 0;   // segments the parser has finished
  bool quit = false;
};

void codeWholeEntry(EntryEncoder* e, int level, const WholeEntry& w, BitWriter* out) {
  beginEntry(e, level, w.data, w.presetLength, w.total, out);
  e->window = w.data;
  e->windowStart = e->entryBase;
  e->filled = e->end;
  const uint32_t start = e->pos;
  const uint32_t segments = (w.total + kSegment - 1) / kSegment;
  auto segStart = [&](uint32_t k) { return start + k * kSegment; };
  auto segEnd = [&](uint32_t k) { return e->end - segStart(k) > kSegment ? segStart(k) + kSegment : e->end; };
  auto stopped = [&] { return w.stop && w.stop->load(std::memory_order_relaxed); };

  // Candidate sets: the encoder's own and kAhead - 1 more, so that the
  // finder may run up to kAhead segments ahead of the parse.
  static const uint32_t kAhead = 2;
  uint32_t* starts[kAhead] = {e->ownCandStart};
  Candidate* cands[kAhead] = {e->ownCands};
  bool pipelined = w.helper && e->params.optimal && segments >= 2;
  for (uint32_t i = 1; i < kAhead && pipelined; ++i) {
    starts[i] = (uint32_t*)malloc((kSegment + 1) * sizeof(uint32_t));
    cands[i] = (Candidate*)malloc(kSegment * kMaxCandidates * sizeof(Candidate));
    pipelined = starts[i] && cands[i];
  }
  if (!pipelined) {
    for (uint32_t k = 0; k < segments && !stopped(); ++k) {
      parseSegment(e, segEnd(k));
      if (w.onProgress) w.onProgress(w.context, segEnd(k) - segStart(k));
    }
  } else {
    FinderShare share;
    std::thread finder([&] {
      for (uint32_t k = 0; k < segments; ++k) {
        {
          std::unique_lock<std::mutex> hold(share.lock);
          share.changed.wait(hold, [&] { return share.quit || k < share.used + kAhead; });
          if (share.quit) return;
        }
        collectCandidates(e, segStart(k), segEnd(k), starts[k % kAhead], cands[k % kAhead]);
        std::lock_guard<std::mutex> hold(share.lock);
        share.found = k + 1;
        share.changed.notify_all();
      }
    });
    for (uint32_t k = 0; k < segments; ++k) {
      {
        std::unique_lock<std::mutex> hold(share.lock);
        share.changed.wait(hold, [&] { return share.found > k; });
      }
      if (stopped()) break;
      e->candStart = starts[k % kAhead];
      e->cands = cands[k % kAhead];
      parseFound(e, segEnd(k));
      {
        std::lock_guard<std::mutex> hold(share.lock);
        share.used = k + 1;
        share.changed.notify_all();
      }
      if (w.onProgress) w.onProgress(w.context, segEnd(k) - segStart(k));
    }
    {
      std::lock_guard<std::mutex> hold(share.lock);
      share.quit = true;
      share.changed.notify_all();
    }
    finder.join();
    e->candStart = e->ownCandStart;
    e->cands = e->ownCands;
  }
  for (uint32_t i = 1; i < kAhead; ++i) {
    free(starts[i]);
    free(cands[i]);
  }
  if (e->out) alignToByte(e->out);
  // Back to the own buffer (it holds the preset); nothing may read the
  // caller's bytes after the return.
  e->window = e->buffer;
  e->windowStart = e->bufStart;
  e->filled = e->end;
}
