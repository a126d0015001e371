// The coding side against the decoder: codes taken from the built trees,
// the block stream, and every parse level decoded back by the core.
#include <gtest/gtest.h>

#include <string>

#include "core_support.h"
#include "common/app_state.h"
#include "decode/code_tree.h"
#include "encode/bit_writer.h"
#include "encode/block_writer.h"
#include "encode/lz_encoder.h"
#include "encode/symbol_coder.h"
#include "encode_support.h"

namespace {

// The bits a writer produced, in reading order.
std::string bitString(BitWriter* w) {
  const uint64_t total = bitsWritten(w);
  std::string s;
  for (uint64_t i = 0; i < total; ++i) {
    const uint64_t byte = i / 8;
    uint8_t b;
    if (byte < w->used) b = w->buffer[byte];
    else b = (uint8_t)(w->acc >> (8 * (byte - w->used)));
    s += ((b >> (i % 8)) & 1) ? '1' : '0';
  }
  return s;
}

std::string emitted(const CodeTable& table, int symbol) {
  static BitWriter w;
  initBitWriter(&w, 0);
  putCode(&w, &table, symbol);
  return bitString(&w);
}

TEST(SymbolCoder, FirstBuildCodesAreTheTreePaths) {
  CodeTree t{};
  resetCodeTree(&t);
  buildCodeTree(&t);
  static CodeTable table;
  codeTableFromTree(&t, &table);
  EXPECT_EQ(emitted(table, 0), "010101010");
  EXPECT_EQ(emitted(table, 1), "010101011");
  EXPECT_EQ(emitted(table, 2), "010101000");
  EXPECT_EQ(emitted(table, 255), "001010101");
  EXPECT_EQ(emitted(table, 256), "110101010");
  EXPECT_EQ(emitted(table, 511), "101010101");
  for (int s = 0; s < kSymbols; ++s) ASSERT_EQ(emitted(table, s), SymbolComposer::codeOf(t, s)) << s;
}

TEST(SymbolCoder, SkewedCountsGiveShortAndLongCodes) {
  CodeTree t{};
  resetCodeTree(&t);
  t.counts[65] = 5;
  t.counts[300] = 3;
  buildCodeTree(&t);
  static CodeTable table;
  codeTableFromTree(&t, &table);
  EXPECT_EQ(emitted(table, 65), "0000001");
  EXPECT_EQ(emitted(table, 300), "00000100");
  EXPECT_EQ(emitted(table, 0), "000001110");
  EXPECT_EQ(emitted(table, 511), "000001011");
}

// Counts that grow like Fibonacci numbers under a total that a legal file
// reaches give codes of 33 bits and more; codes past 64 bits (reachable once counts wrap) are
// written from the path. Every code must be the tree's path, whatever its length.
TEST(SymbolCoder, CodesOfAnyLengthAreWritten) {
  static CodeTable table;
  CodeTree t{};
  resetCodeTree(&t);
  for (int s = 0; s < kSymbols; ++s) t.counts[s] = 2000000;
  int64_t a = 1, b = 1;
  for (int s = 0; s < 40; ++s) {
    t.counts[s] = (int32_t)b;
    int64_t c = a + b;
    a = b;
    b = c;
  }
  buildCodeTree(&t);
  codeTableFromTree(&t, &table);
  int longest = 0;
  for (int s = 0; s < kSymbols; ++s) {
    longest = std::max<int>(longest, table.length[s]);
    ASSERT_EQ(emitted(table, s), SymbolComposer::codeOf(t, s)) << s;
  }
  EXPECT_GT(longest, 33);

  // Equal zero weights never move a new node forward: a chain 511 deep.
  for (int s = 0; s < kSymbols; ++s) t.counts[s] = 0;
  buildCodeTree(&t);
  codeTableFromTree(&t, &table);
  EXPECT_TRUE(table.hasLongCodes);
  longest = 0;
  for (int s = 0; s < kSymbols; ++s) {
    longest = std::max<int>(longest, table.length[s]);
    ASSERT_EQ(emitted(table, s), SymbolComposer::codeOf(t, s)) << s;
  }
  EXPECT_EQ(longest, 511);
}

// The coder against the composer of the core's tests (a separate walk of
// the same model): the same literal/match sequence gives the same bits,
// across many rebuild points and with the 12 and 4 extra bits.
TEST(SymbolCoder, SameBitsAsAnIndependentComposer) {
  BitSink sink;
  SymbolComposer composer(&sink);
  static BitWriter w;
  initBitWriter(&w, 0);
  static SymbolCoder coder;
  beginSymbols(&coder);
  uint32_t x = 7;
  for (int i = 0; i < 5000; ++i) {
    x = x * 1664525u + 1013904223u;
    if ((x >> 28) < 9) {
      uint8_t byte = (uint8_t)((x >> 8) % ((x >> 20) % 40 + 1) + 'a');
      composer.literal(byte);
      codeLiteral(&coder, &w, byte);
    } else {
      int length = (x >> 28) == 15 ? 257 + (int)((x >> 4) % 4096) : 2 + (int)((x >> 4) % 40);
      int distance = 1 + (int)((x >> 12) % 8192);
      composer.match(length, distance);
      codeMatch(&coder, &w, length, distance);
    }
  }
  alignToByte(&w);
  ASSERT_EQ(w.used, sink.bytes.size());
  EXPECT_EQ(Bytes(w.buffer, w.buffer + w.used), sink.bytes);
  EXPECT_EQ(coder.builds, 9u + (5000 - 2048) / 1024);
}

TEST(BlockWriter, MatchesTheReferenceStreamWithAndWithoutKey) {
  for (size_t size : {1u, 4095u, 4096u, 4097u, 8192u, 10000u}) {
    for (std::string key : {"", "abc", "k"}) {
      Bytes data(size);
      for (size_t i = 0; i < size; ++i) data[i] = (uint8_t)(i * 7 + i / 13);
      TestArchive t;
      FILE* f = fopen(t.path.c_str(), "w+b");
      static BlockWriter b;
      initBlockWriter(&b, fileno(f), 0, (const uint8_t*)key.data(), (uint32_t)key.size(), 1ull << 40);
      // Uneven pieces, so block boundaries fall inside them.
      for (size_t at = 0; at < size; at += 1000) writeStreamBytes(&b, data.data() + at, std::min<size_t>(1000, size - at));
      ASSERT_TRUE(finishBlocks(&b));
      fclose(f);
      EXPECT_EQ(readFileBytes(t.path), makeBlockStream(data, key)) << size << " key " << key;
      EXPECT_EQ(b.fileBytes, makeBlockStream(data, key).size());
    }
  }
}

TEST(BlockWriter, StopsAtTheSizeLimit) {
  TestArchive t;
  FILE* f = fopen(t.path.c_str(), "w+b");
  static BlockWriter b;
  initBlockWriter(&b, fileno(f), 100, 0, 0, 100 + 2 * 4098);
  Bytes data(8192, 1);
  writeStreamBytes(&b, data.data(), data.size());
  EXPECT_EQ(b.error, BlockWriterOk);
  writeStreamBytes(&b, data.data(), 1);
  EXPECT_FALSE(finishBlocks(&b));
  EXPECT_EQ(b.error, BlockWriterTooLarge);
  fclose(f);
}

// Data the parsers find all kinds of matches in.
Bytes mixedData(size_t size, uint32_t seed) {
  Bytes d;
  uint32_t x = seed;
  auto next = [&] { return x = x * 1103515245u + 12345u, x >> 8; };
  while (d.size() < size) {
    uint32_t r = next() % 10;
    if (r < 3 || d.size() < 16) {
      for (int i = 0; i < 20; ++i) d.push_back((uint8_t)("the quick brown fox "[next() % 20]));
    } else if (r < 6) {
      size_t dist = 1 + next() % std::min<size_t>(d.size(), 9000);
      size_t len = 2 + next() % 300;
      for (size_t i = 0; i < len; ++i) d.push_back(d[d.size() - dist]);
    } else if (r < 7) {
      d.insert(d.end(), 5000 + next() % 3000, (uint8_t)next());
    } else {
      for (int i = 0; i < 50; ++i) d.push_back((uint8_t)next());
    }
  }
  d.resize(size);
  return d;
}

TEST(LzEncoder, EveryLevelDecodesBackExactly) {
  const Bytes data = mixedData(300000, 99);
  for (int level = kMinLevel; level <= kMaxLevel; ++level) {
    std::vector<ReadEntry> back;
    ArchiveSettings s;
    s.level = level;
    Bytes a = packItems({{"a.bin", false, data}}, s);
    ASSERT_FALSE(a.empty());
    ASSERT_EQ(readBack(a, "", &back), -1) << "level " << level;
    ASSERT_EQ(back.size(), 1u);
    EXPECT_TRUE(back[0].content == data) << "level " << level;
    EXPECT_LT(a.size(), data.size() / 2) << "level " << level;
  }
}

// A run coded as one match of the longest length at distance 1, and a
// repeat exactly 8,192 bytes back: the largest length and distance.
TEST(LzEncoder, LongestMatchAndFarthestDistance) {
  static EntryEncoder* e = newEntryEncoder();
  static BitWriter w;
  for (int level = kMinLevel; level <= kMaxLevel; ++level) {
    Bytes run(1 + 4352, 'z');
    initBitWriter(&w, 0);
    beginEntry(e, level, 0, 0, (uint32_t)run.size(), &w);
    feedEntry(e, run.data(), run.size());
    endEntry(e);
    // A literal and one match: two symbols of at most a few dozen bits.
    EXPECT_EQ(e->coder.symbolCount, 2u) << level;

    Bytes far(8192);
    uint32_t x = 5;
    for (auto& b : far) b = (uint8_t)((x = x * 1103515245u + 12345u) >> 16);  // little repeats inside
    Bytes twice = far;
    twice.insert(twice.end(), far.begin(), far.end());
    std::vector<ReadEntry> back;
    ArchiveSettings s;
    s.level = level;
    Bytes a = packItems({{"x", false, run}, {"y", false, twice}}, s);
    ASSERT_EQ(readBack(a, "", &back), -1);
    EXPECT_TRUE(back[0].content == run);
    EXPECT_TRUE(back[1].content == twice);
    EXPECT_LT(a.size(), kStubSize + 64 + 9000u) << level;  // the repeat cost next to nothing
  }
}

// Matches never reach before the window's start or past the entry's end:
// the decoder refuses both as damaged, so decoding proves it. Small
// presets and files of every small size probe both limits.
TEST(LzEncoder, MatchesStayInsideWindowAndEntry) {
  std::vector<PackItem> items;
  for (int n = 0; n < 40; ++n) {
    PackItem it;
    it.name = "f" + std::to_string(n);
    for (int i = 0; i < n; ++i) it.content.push_back((uint8_t)("abababcabc"[i % 10]));
    items.push_back(it);
  }
  for (int level = kMinLevel; level <= kMaxLevel; ++level) {
    ArchiveSettings s;
    s.level = level;
    std::vector<ReadEntry> back;
    Bytes a = packItems(items, s);
    ASSERT_EQ(readBack(a, "", &back), -1) << level;
    for (size_t i = 0; i < items.size(); ++i) EXPECT_TRUE(back[i].content == items[i].content) << level << " " << i;
  }
}

}  // namespace
