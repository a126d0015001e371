#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "common/app_state.h"
#include "core_support.h"
#include "decode/crc.h"
#include "decode/decoder.h"
#include "decode/stream.h"

// The bit-serial register step the table must agree with.
static uint32_t bitwiseStep(uint32_t reg, uint8_t byte) {
  for (int i = 7; i >= 0; --i) {
    reg = (reg << 1) | ((byte >> i) & 1);
    if (reg & 0x10000) reg ^= 0x18005;
  }
  return reg;
}

TEST(Crc, CheckValueAndBlockProperty) {
  EXPECT_EQ(crc16("123456789", 9), 0xFEE8);
  EXPECT_EQ(crc16("", 0), 0);
  // A message followed by its CRC, high byte first, leaves 0.
  const char msg[] = "block data";
  uint16_t c = crc16(msg, 10);
  uint32_t r = 0;
  for (int i = 0; i < 10; ++i) r = crcStep(r, (uint8_t)msg[i]);
  r = crcStep(crcStep(r, (uint8_t)(c >> 8)), (uint8_t)c);
  EXPECT_EQ(r, 0u);
}

TEST(Crc, BlockRegisterMatchesTheBitSerialRegister) {
  // The block check computes the register from the block's CRC and its
  // last two bytes; any length, any bytes, also a block with its right CRC.
  std::mt19937 rng(5);
  for (uint32_t n : {0u, 1u, 2u, 3u, 7u, 8u, 9u, 15u, 16u, 17u, 100u, 4096u, 4097u, 4098u}) {
    Bytes block(n);
    for (auto& b : block) b = (uint8_t)rng();
    uint32_t r = 0;
    for (uint8_t b : block) r = bitwiseStep(r, b);
    EXPECT_EQ(crcOfBlock(block.data(), n), r) << n << " bytes";
    if (n >= 2) {
      const uint16_t c = crc16(block.data(), n - 2);
      block[n - 2] = (uint8_t)(c >> 8);
      block[n - 1] = (uint8_t)c;
      EXPECT_EQ(crcOfBlock(block.data(), n), 0u) << n << " bytes with their check";
    }
  }
}

TEST(Crc, TableStepMatchesBitSerialStep) {
  uint32_t a = 0, b = 0;
  for (int i = 0; i < 5000; ++i) {
    uint8_t byte = (uint8_t)(i * 131 + (i >> 3));
    a = crcStep(a, byte);
    b = bitwiseStep(b, byte);
    ASSERT_EQ(a, b) << "at byte " << i;
  }
  app.crcRegister = 0;
  crcFeed('x');
  EXPECT_EQ(app.crcRegister, bitwiseStep(0, 'x'));
}

static CodeTree builtTree(std::initializer_list<std::pair<int, int>> counts) {
  CodeTree t{};
  resetCodeTree(&t);
  for (auto [s, c] : counts) t.counts[s] = c;
  buildCodeTree(&t);
  return t;
}

TEST(CodeTree, FirstBuildGivesNineBitCodes) {
  CodeTree t = builtTree({});
  EXPECT_EQ(SymbolComposer::codeOf(t, 0), "010101010");
  EXPECT_EQ(SymbolComposer::codeOf(t, 1), "010101011");
  EXPECT_EQ(SymbolComposer::codeOf(t, 2), "010101000");
  EXPECT_EQ(SymbolComposer::codeOf(t, 3), "010101001");
  EXPECT_EQ(SymbolComposer::codeOf(t, 255), "001010101");
  EXPECT_EQ(SymbolComposer::codeOf(t, 256), "110101010");
  EXPECT_EQ(SymbolComposer::codeOf(t, 257), "110101011");
  EXPECT_EQ(SymbolComposer::codeOf(t, 510), "101010100");
  EXPECT_EQ(SymbolComposer::codeOf(t, 511), "101010101");
  EXPECT_EQ(t.order[0], kRoot);
  EXPECT_EQ(t.nodes[kRoot].weight, 512);
}

TEST(CodeTree, HeavierSymbolsMoveAheadAndGetShorterCodes) {
  CodeTree t = builtTree({{65, 5}, {300, 3}});
  EXPECT_EQ(t.rank[65], 0);
  EXPECT_EQ(t.rank[300], 1);
  EXPECT_EQ(t.rank[0], 2);
  EXPECT_EQ(t.rank[64], 66);
  EXPECT_EQ(t.rank[66], 67);
  EXPECT_EQ(SymbolComposer::codeOf(t, 65), "0000001");
  EXPECT_EQ(SymbolComposer::codeOf(t, 300), "00000100");
  EXPECT_EQ(SymbolComposer::codeOf(t, 0), "000001110");
  EXPECT_EQ(SymbolComposer::codeOf(t, 511), "000001011");
}

TEST(CodeTree, EqualCountsKeepThePreviousOrder) {
  CodeTree t{};
  resetCodeTree(&t);
  t.counts[10] = 4;
  t.counts[20] = 9;
  buildCodeTree(&t);
  EXPECT_LT(t.rank[20], t.rank[10]);
  // Now 10 catches up with 20: equal weights keep 20 ahead of 10.
  t.counts[10] = 9;
  buildCodeTree(&t);
  EXPECT_EQ(t.rank[20], 0);
  EXPECT_EQ(t.rank[10], 1);
}

TEST(CodeTree, UncappedCountsGiveCodesLongerThan32Bits) {
  // Counts growing like Fibonacci numbers make a deep chain; nothing caps
  // the code length, so codes past 32 bits come out.
  CodeTree t{};
  resetCodeTree(&t);
  int32_t a = 512, b = 512;
  for (int s = 0; s < 33; ++s) {
    t.counts[s] = a;
    int32_t next = (int32_t)((uint32_t)a + (uint32_t)b);  // the last ones wrap, as counts may
    a = b;
    b = next;
  }
  buildCodeTree(&t);
  size_t longest = 0;
  for (int s = 0; s < kSymbols; ++s) longest = std::max(longest, SymbolComposer::codeOf(t, s).size());
  EXPECT_GT(longest, 32u);
}

// ---- the faster build and the table walk against the reference ----

// Builds a copy with each build and expects the same nodes, ranks and root.
static void expectSameBuild(const CodeTree& start, const char* what) {
  static CodeTree ref, fast;
  ref = start;
  fast = start;
  buildCodeTreeReference(&ref);
  buildCodeTree(&fast);
  for (int i = 0; i < kNodes; ++i) {
    const CodeNode &a = ref.nodes[i], &b = fast.nodes[i];
    ASSERT_TRUE(a.symbol == b.symbol && a.weight == b.weight && a.child0 == b.child0 && a.child1 == b.child1)
        << what << ": node " << i;
  }
  for (int s = 0; s < kSymbols; ++s) ASSERT_EQ(ref.rank[s], fast.rank[s]) << what << ": rank of " << s;
  ASSERT_EQ(ref.order[0], fast.order[0]) << what;
}

TEST(CodeTree, FasterBuildGivesTheReferenceTreeForAnyWeights) {
  std::mt19937 rng(1234);
  static CodeTree t;
  auto randomRanks = [&] {
    for (int s = 0; s < kSymbols; ++s) t.rank[s] = s;
    std::shuffle(t.rank, t.rank + kSymbols, rng);
  };
  using Fill = std::function<int32_t(int)>;
  const std::vector<std::pair<const char*, Fill>> shapes = {
      {"small counts, many ties", [&](int) { return (int32_t)(1 + rng() % 4); }},
      {"wide counts", [&](int) { return (int32_t)(1 + rng() % 100000); }},
      {"skewed", [&](int s) { return (int32_t)(1 + 5000000 / (1 + s + (int)(rng() % 16))); }},
      {"Fibonacci chain (long codes)",
       [&](int s) {
         int64_t a = 1, b = 1;
         for (int k = 0; k < s % 44; ++k) std::swap(a, b += a);
         return (int32_t)a;
       }},
      {"zeros and ones", [&](int) { return (int32_t)(rng() % 2); }},
      {"negative (wrapped) counts", [&](int) { return (int32_t)(rng() % 7) - 3; }},
      {"huge counts whose sums wrap", [&](int) { return (int32_t)(0x7FFFFFF0u - rng() % 64); }},
      {"any 32-bit values", [&](int) { return (int32_t)rng(); }},
      {"sum just past 2^31 - 1", [&](int s) { return s == 0 ? (int32_t)(0x7FFFFFFF - 510) : 1; }},
      {"sum exactly 2^31 - 1", [&](int s) { return s == 0 ? (int32_t)(0x7FFFFFFF - 511) : 1; }},
      {"young: most counts still 1", [&](int) { return (int32_t)(rng() % 8 ? 1 : 1 + rng() % 60); }},
      {"young: a few heavy symbols", [&](int) { return (int32_t)(rng() % 32 ? 1 + rng() % 2 : 50 + rng() % 500); }},
  };
  // Ranks from the identity, from a shuffle, or carried over from the build
  // before (any counts, also falling ones, on the order that build left).
  for (const auto& [what, fill] : shapes) {
    for (int round = 0; round < 60; ++round) {
      for (int s = 0; s < kSymbols; ++s) t.counts[s] = fill(s);
      if (round % 3 == 1) randomRanks();
      else if (round % 3 == 0) for (int s = 0; s < kSymbols; ++s) t.rank[s] = s;
      expectSameBuild(t, what);
      if (HasFatalFailure()) return;
      buildCodeTree(&t);
    }
  }
}

TEST(CodeTree, FasterBuildFollowsTheReferenceThroughAnEntry) {
  // Counts grow as a decoder's do, ranks carry over from build to build,
  // and both builds must agree at every rebuild point.
  std::mt19937 rng(99);
  static CodeTree ref, fast;
  resetCodeTree(&ref);
  resetCodeTree(&fast);
  for (uint32_t n = 0; n < 300000; ++n) {
    if (isRebuildPoint(n)) {
      expectSameBuild(fast, "carried ranks");
      if (HasFatalFailure()) return;
      buildCodeTreeReference(&ref);
      buildCodeTree(&fast);
    }
    // Mostly a few symbols, in phases that change which ones.
    const int s = rng() % 4 ? (int)((n >> 14) * 37 + rng() % 24) % kSymbols : (int)(rng() % kSymbols);
    countSymbol(&ref, s);
    countSymbol(&fast, s);
  }
}

// Every entry of a decode table against the tree: the walk from the root
// with the entry's index as bits (first bit in bit 0) reaches the entry's
// leaf after its bits, or its internal node after all the table's bits; the
// table is as deep as the longest code or maxBits, whichever is less.
static void expectTableOfTree(const CodeTree& t, uint32_t maxBits, const char* what) {
  static DecodeTable table;
  fillDecodeTable(&t, &table, maxBits);
  uint32_t deepest = 0;
  for (int s = 0; s < kSymbols; ++s) deepest = std::max<uint32_t>(deepest, (uint32_t)SymbolComposer::codeOf(t, s).size());
  const uint32_t bits = std::min(deepest, maxBits);
  ASSERT_EQ(table.mask, (1u << bits) - 1) << what;
  for (uint32_t index = 0; index <= table.mask; ++index) {
    int node = kRoot;
    uint32_t taken = 0;
    while (t.nodes[node].child0 != kNoChild && taken < bits) {
      node = index >> taken & 1 ? t.nodes[node].child1 : t.nodes[node].child0;
      ++taken;
    }
    ASSERT_EQ(table.entries[index], (uint16_t)(node << 6 | taken)) << what << ", index " << index;
  }
}

TEST(CodeTree, DecodeTablesAgreeWithTheTrees) {
  static CodeTree t;
  resetCodeTree(&t);
  buildCodeTree(&t);
  for (uint32_t bits : {8u, 9u, kDecodeTableBits}) expectTableOfTree(t, bits, "first build");
  // Codes of 1 to more than 40 bits.
  int64_t a = 1, b = 1;
  for (int s = 0; s < kSymbols; ++s) {
    t.counts[s] = s < 44 ? (int32_t)a : 1 + s % 3;
    if (s < 44) std::swap(a, b += a);
  }
  buildCodeTree(&t);
  for (uint32_t bits : {1u, 8u, kDecodeTableBits}) expectTableOfTree(t, bits, "long codes");
  // Few symbols with all the weight: the longest code is short, and so is the table.
  for (int s = 0; s < kSymbols; ++s) t.counts[s] = s < 4 ? 1000000 : 1;
  buildCodeTree(&t);
  expectTableOfTree(t, kDecodeTableBits, "skewed");
}

TEST(CodeTree, BitWalkFetchesEachByteWhenItsFirstBitIsNeeded) {
  // A tree with codes of 1 to over 24 bits; every symbol is decoded after 0
  // to 7 bits of padding, so codes start and end at every bit of a byte.
  static CodeTree t;
  resetCodeTree(&t);
  int64_t a = 1, b = 1;
  for (int s = 0; s < kSymbols; ++s) {
    t.counts[s] = s < 44 ? (int32_t)a : 1 + s % 3;
    if (s < 44) std::swap(a, b += a);
  }
  buildCodeTree(&t);
  std::vector<int> symbols;
  for (int s = 0; s < kSymbols; ++s) symbols.push_back(s);
  std::shuffle(symbols.begin(), symbols.end(), std::mt19937(7));
  std::vector<std::string> codes;
  size_t longest = 0;
  for (int s : symbols) {
    codes.push_back(SymbolComposer::codeOf(t, s));
    longest = std::max(longest, codes.back().size());
  }
  ASSERT_GT(longest, 24u);
  static DecoderState state;
  decoder = &state;
  for (int pad = 0; pad < 8; ++pad) {
    BitSink sink;
    sink.bits(0, pad);
    for (const std::string& code : codes)
      for (char c : code) sink.bit(c == '1');
    TestArchive archive;
    archive.open(makeBlockStream(sink.bytes));
    resetBits();
    readBits(pad);
    size_t bitsRead = pad;
    for (size_t i = 0; i < symbols.size(); ++i) {
      ASSERT_EQ(decodeSymbol(&t), symbols[i]) << "pad " << pad << ", symbol " << i;
      bitsRead += codes[i].size();
      // A byte is fetched only when its first bit is needed.
      ASSERT_EQ(app.consumedCount, (bitsRead + 7) / 8) << "pad " << pad << ", symbol " << i;
      ASSERT_EQ(state.bitsUsed, bitsRead % 8);
    }
  }
}
