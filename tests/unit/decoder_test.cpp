#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "common/app_state.h"
#include "core_support.h"
#include "decode/decoder.h"
#include "decode/stream.h"
#include "platform/host/scripted_ui.h"

namespace {

struct DecoderTest : ::testing::Test {
  TestArchive archive;
  std::unique_ptr<DecoderState> state = std::make_unique<DecoderState>();
  uint8_t capture[16384] = {};
  BitSink sink;
  SymbolComposer compose{&sink};
  std::string outPath;

  void SetUp() override {
    decoder = state.get();
    outPath = archive.dir + "/out.bin";
  }
  void TearDown() override { decoder = nullptr; }

  // Decodes what `compose` wrote; returns the exit code (-1: returned).
  int decode(int32_t total, const Bytes& preset = {}, bool skip = false, int32_t captureOffset = 0,
             int cancelAtPump = 0) {
    archive.open(makeBlockStream(sink.bytes));
    scripted::cancelAtPump = cancelAtPump;
    bind(&app.outputFile, outPath.c_str());
    if (!skip) createForWriting(&app.outputFile);
    try {
      decodeEntry(total, preset.data(), (int32_t)preset.size(), capture, captureOffset, skip,
                  skip ? nullptr : &app.outputFile);
    } catch (const scripted::Exit& e) {
      return (int)e.code;
    }
    if (!skip) close(&app.outputFile);
    return -1;
  }
  Bytes output() { return readFileBytes(outPath); }

  // Decodes what `compose` wrote when it starts `lead` bytes into the
  // stream (read before, as a record would be) and `trail` bytes follow it.
  int decodeAt(size_t lead, const Bytes& trail, int32_t total, bool damageNextBlock = false) {
    Bytes data(lead, 0x5A);
    data.insert(data.end(), sink.bytes.begin(), sink.bytes.end());
    data.insert(data.end(), trail.begin(), trail.end());
    Bytes stream = makeBlockStream(data);
    if (damageNextBlock) stream.at(kBlockBytes + 1) ^= 1;
    archive.open(stream);
    bind(&app.outputFile, outPath.c_str());
    createForWriting(&app.outputFile);
    try {
      for (size_t i = 0; i < lead; ++i) readStreamByte();
      decodeEntry(total, nullptr, 0, capture, 0, false, &app.outputFile);
    } catch (const scripted::Exit& e) {
      return (int)e.code;
    }
    close(&app.outputFile);
    return -1;
  }
};

int exitCodeOf(void (*body)()) {
  try {
    body();
  } catch (const scripted::Exit& e) {
    return (int)e.code;
  }
  return -1;
}

// Literals whose counts grow like Fibonacci numbers, so that the rebuilt
// trees give codes far longer than the decoder's tables, then every symbol
// of each length, literals and matches mixed. Returns the bytes they make.
Bytes composeLongCodes(SymbolComposer* compose) {
  Bytes expected;
  int64_t a = 1, b = 1;
  for (int s = 0; s < 22; ++s) {
    for (int64_t k = 0; k < a; ++k) {
      compose->literal((uint8_t)s);
      expected.push_back((uint8_t)s);
    }
    std::swap(a, b += a);
  }
  for (int round = 0; round < 3; ++round) {
    for (int s = 0; s < 256; ++s) {
      compose->literal((uint8_t)s);
      expected.push_back((uint8_t)s);
      if (s % 5 == round) {
        const int reach = (int)std::min<size_t>(expected.size(), 8192);
        const int length = 2 + (s * 7 + round) % 300, distance = 1 + (s * 131 + round * 17) % reach;
        compose->match(length, distance);
        for (int k = 0; k < length; ++k) expected.push_back(expected[expected.size() - distance]);
      }
    }
  }
  return expected;
}

TEST_F(DecoderTest, LongestMatchAtDistanceOneRepeatsTheLastByte) {
  compose.literal('z');
  compose.match(4352, 1);
  ASSERT_EQ(decode(4353), -1);
  EXPECT_EQ(output(), Bytes(4353, 'z'));
}

TEST_F(DecoderTest, FarthestDistanceReachesIntoThePreset) {
  Bytes preset(8192);
  for (size_t i = 0; i < preset.size(); ++i) preset[i] = (uint8_t)(i * 13);
  compose.match(256, 8192);
  ASSERT_EQ(decode(256, preset), -1);
  EXPECT_EQ(output(), Bytes(preset.begin(), preset.begin() + 256));  // preset bytes are never written
}

TEST_F(DecoderTest, SlidesKeepHistoryAndMatchesAcrossTheSlide) {
  // 100,000 bytes after 7,168 preset bytes: the window slides three times,
  // and matches copy from the far end of the history across each slide.
  Bytes preset(7168, 'p');
  Bytes expected;
  uint32_t x = 1;
  while (expected.size() < 100000) {
    x = x * 1664525u + 1013904223u;
    if (expected.size() > 9000 && (x >> 28) < 6) {
      int length = 2 + (int)((x >> 8) % 600);
      int distance = 1 + (int)((x >> 4) % 8192);
      length = std::min<int>(length, 100000 - (int)expected.size());
      if (length < 2) length = 2;
      if (expected.size() + length > 100000) break;
      compose.match(length, distance);
      for (int k = 0; k < length; ++k) expected.push_back(expected[expected.size() - distance]);
    } else {
      uint8_t b = (uint8_t)(x >> 24);
      compose.literal(b);
      expected.push_back(b);
    }
  }
  ASSERT_EQ(decode((int32_t)expected.size(), preset), -1);
  EXPECT_EQ(output(), expected);
  // The head of the file is captured for later entries.
  EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + 16384, capture));
}

TEST_F(DecoderTest, SkipModeWritesNothingButCapturesFromTheOffset) {
  for (int i = 0; i < 300; ++i) compose.literal((uint8_t)i);
  ASSERT_EQ(decode(300, {}, /*skip=*/true, /*captureOffset=*/16200), -1);
  EXPECT_FALSE(std::filesystem::exists(outPath));
  for (int i = 0; i < 184; ++i) ASSERT_EQ(capture[16200 + i], (uint8_t)i);
}

TEST_F(DecoderTest, NothingToProduceDecodesNothing) {
  ASSERT_EQ(decode(0), -1);
  EXPECT_TRUE(output().empty());
  EXPECT_EQ(scripted::pumps, 0);
}

TEST_F(DecoderTest, PumpsOnceAtEveryRebuildPointAndStopsOnCancel) {
  for (int i = 0; i < 5000; ++i) compose.literal((uint8_t)(i % 7));
  ASSERT_EQ(decode(5000), -1);
  // Rebuilds before symbols 0, 256, ..., 1,792, 2,048, 3,072 and 4,096.
  EXPECT_EQ(scripted::pumps, 11);

  // A cancel served by the third pump (the rebuild before symbol 512) is seen
  // before symbol 513; what was produced is still written out.
  ASSERT_EQ(decode(5000, {}, false, 0, /*cancelAtPump=*/3), -1);
  EXPECT_EQ(output().size(), 513u);
}

TEST_F(DecoderTest, LongCodesAtAnyPlaceOfTheBlocksAndTheNextRecordsStart) {
  // The coded data starts at different places of the stream, so codes,
  // extra bits and the end of the data fall on every kind of block edge;
  // bytes follow the data. The data is decoded exactly, and the next record
  // starts at the byte after the last one whose bits were taken.
  const Bytes expected = composeLongCodes(&compose);
  const Bytes trail = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  for (size_t lead : {0u, 1u, 3u, 7u, 4090u, 4095u, 4100u}) {
    ASSERT_EQ(decodeAt(lead, trail, (int32_t)expected.size()), -1) << "lead " << lead;
    ASSERT_EQ(output(), expected) << "lead " << lead;
    EXPECT_EQ(app.consumedCount, lead + sink.bytes.size()) << "lead " << lead;
    EXPECT_EQ(state->bitsUsed, sink.used) << "lead " << lead;
    EXPECT_FALSE(app.endOfArchive);
    EXPECT_EQ(readStreamByte(), 1) << "lead " << lead;
  }
  size_t longest = 0;
  for (int s = 0; s < 256; ++s) longest = std::max(longest, SymbolComposer::codeOf(state->symbolTree, s).size());
  EXPECT_GT(longest, (size_t)kDecodeTableBits);  // the table alone cannot decode them
}

TEST_F(DecoderTest, DataEndingWithItsBlockLeavesTheNextBlockUnread) {
  // The data ends with the first block; the second block is damaged. The
  // decoder never looks into it: the damage is found when the next record
  // is read.
  for (int i = 0; i < 3000; ++i) compose.literal((uint8_t)(i * 7));
  ASSERT_LT(sink.bytes.size(), (size_t)kBlockData);
  const size_t lead = kBlockData - sink.bytes.size();
  ASSERT_EQ(decodeAt(lead, Bytes(500, 9), 3000, /*damageNextBlock=*/true), -1);
  EXPECT_EQ(output().size(), 3000u);
  EXPECT_EQ(app.consumedCount, kBlockData);
  EXPECT_FALSE(app.endOfArchive);
  EXPECT_EQ(exitCodeOf([] { readStreamByte(); }), 1);
  EXPECT_EQ(scripted::boxes.at(0).id, MsgDamaged);
}

TEST_F(DecoderTest, EndOfArchiveComesWithTheLastDataByteOnly) {
  for (int i = 0; i < 700; ++i) compose.literal((uint8_t)i);
  // Data that ends the stream, in its first block and after a full one.
  for (size_t lead : {0u, 5000u}) {
    ASSERT_EQ(decodeAt(lead, {}, 700), -1);
    EXPECT_TRUE(app.endOfArchive) << "lead " << lead;
  }
  // One byte more: not yet; reading it sets the flag.
  ASSERT_EQ(decodeAt(0, {42}, 700), -1);
  EXPECT_FALSE(app.endOfArchive);
  EXPECT_EQ(readStreamByte(), 42);
  EXPECT_TRUE(app.endOfArchive);
}

TEST_F(DecoderTest, StreamEndingInsideTheDataIsAReadFailure) {
  for (int i = 0; i < 700; ++i) compose.literal((uint8_t)i);
  sink.bytes.resize(sink.bytes.size() / 2);
  EXPECT_EQ(decodeAt(0, {}, 700), 1);
  EXPECT_EQ(scripted::boxes.at(0).id, MsgReadFailed);
}

TEST_F(DecoderTest, DistanceBeforeTheWindowStartIsDamaged) {
  compose.literal('a');
  compose.literal('b');
  compose.match(2, 3);  // only two bytes are there
  EXPECT_EQ(decode(4), 1);
  EXPECT_EQ(scripted::boxes.at(0).id, MsgDamaged);
}

TEST_F(DecoderTest, MatchRunningPastTheRecordedSizeIsDamaged) {
  compose.literal('a');
  compose.match(10, 1);
  EXPECT_EQ(decode(5), 1);
  EXPECT_EQ(scripted::boxes.at(0).id, MsgDamaged);
  // The partly written file is removed by the fatal exit.
  EXPECT_FALSE(std::filesystem::exists(outPath));
}

}  // namespace
