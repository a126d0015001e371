#include <gtest/gtest.h>

#include "app/app_state.h"
#include "core_support.h"
#include "decode/crc.h"

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
    int32_t next = a + b;
    a = b;
    b = next;
  }
  buildCodeTree(&t);
  size_t longest = 0;
  for (int s = 0; s < kSymbols; ++s) longest = std::max(longest, SymbolComposer::codeOf(t, s).size());
  EXPECT_GT(longest, 32u);
}
