#include <gtest/gtest.h>

#include <memory>

#include "common/app_state.h"
#include "core_support.h"
#include "decode/decoder.h"
#include "decode/stream.h"
#include "platform/host/scripted_ui.h"

namespace {

struct StreamTest : ::testing::Test {
  TestArchive archive;
  std::unique_ptr<DecoderState> state = std::make_unique<DecoderState>();
  void SetUp() override { decoder = state.get(); }
  void TearDown() override { decoder = nullptr; }
};

Bytes pattern(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = (uint8_t)(i * 7 + (i >> 9));
  return b;
}

// Runs `body` and returns the exit code it ended with (-1: it returned).
template <class F>
int exitCodeOf(F body) {
  try {
    body();
  } catch (const scripted::Exit& e) {
    return (int)e.code;
  }
  return -1;
}

TEST_F(StreamTest, MaskedStreamAcrossBlocksWithThreeByteKey) {
  Bytes data = pattern(4096 * 2 + 100);
  archive.open(makeBlockStream(data, "k3y"), 1, "k3y");
  for (size_t i = 0; i < data.size(); ++i) {
    ASSERT_FALSE(app.endOfArchive);
    ASSERT_EQ(readStreamByte(), data[i]) << "byte " << i;
    // The check bytes do not advance the key: byte 4,096 uses key[1].
    if (i == 4095) {
      EXPECT_EQ(app.keyPos, 1);
    }
  }
  EXPECT_TRUE(app.endOfArchive);
  EXPECT_EQ(app.keyPos, (int32_t)(data.size() % 3));
}

TEST_F(StreamTest, LastBlockOfExactlyFullSizeEndsTheArchive) {
  Bytes data = pattern(4096);
  archive.open(makeBlockStream(data));
  for (size_t i = 0; i < 4095; ++i) readStreamByte();
  EXPECT_FALSE(app.endOfArchive);
  readStreamByte();
  EXPECT_TRUE(app.endOfArchive);
  // Nothing follows: the next byte is a read failure.
  EXPECT_EQ(exitCodeOf([] { readStreamByte(); }), 1);
  ASSERT_EQ(scripted::boxes.size(), 1u);
  EXPECT_EQ(scripted::boxes[0].id, MsgReadFailed);
}

TEST_F(StreamTest, EmptyStreamAndEmptyBlockAreReadFailures) {
  archive.open({});
  EXPECT_EQ(exitCodeOf([] { readStreamByte(); }), 1);
  EXPECT_EQ(scripted::boxes.at(0).id, MsgReadFailed);

  TestArchive second;
  second.open({0, 0});  // two check bytes of empty data pass the check
  EXPECT_EQ(exitCodeOf([] { readStreamByte(); }), 1);
  EXPECT_EQ(scripted::boxes.at(0).id, MsgReadFailed);
}

TEST_F(StreamTest, DamagedBlockOrWrongKeyEndsAsDamaged) {
  Bytes stream = makeBlockStream(pattern(5000));
  stream[4100] ^= 0x20;  // a data byte of the second block
  archive.open(stream);
  for (int i = 0; i < 4096; ++i) readStreamByte();
  EXPECT_EQ(exitCodeOf([] { readStreamByte(); }), 1);
  EXPECT_EQ(scripted::boxes.at(0).id, MsgDamaged);

  TestArchive masked;
  masked.open(makeBlockStream(pattern(10), "right"), 1, "right");
  bsAssign(&app.key, "wrong", 5);
  EXPECT_EQ(exitCodeOf([] { readStreamByte(); }), 1);
  EXPECT_EQ(scripted::boxes.at(0).id, MsgDamaged);
}

TEST_F(StreamTest, BitsComeLeastSignificantFirstAndResetDropsTheRest) {
  archive.open(makeBlockStream({0xB5, 0x0F, 0xAA}));
  resetBits();
  EXPECT_EQ(readBit(), 1u);
  EXPECT_EQ(readBit(), 0u);
  EXPECT_EQ(readBits(4), 0xDu);  // bits 2..5 of 0xB5
  resetBits();                   // the two high bits of 0xB5 are dropped
  EXPECT_EQ(readBits(12), 0xA0Fu);  // all of 0x0F, then the low half of 0xAA
  EXPECT_TRUE(app.endOfArchive);
}

}  // namespace
