#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "common/app_state.h"
#include "core_support.h"
#include "decode/decoder.h"
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
};

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
