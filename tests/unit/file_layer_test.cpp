#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/app_state.h"
#include "core_support.h"
#include "fileio/fatal.h"
#include "platform/host/scripted_ui.h"
#include "platform/platform.h"

namespace {

struct FileLayerTest : ::testing::Test {
  TestArchive tmp;  // only for its folder
  BlockFile f{};
  void SetUp() override { scripted::resetRun(); }
  std::string at(const char* name) { return tmp.dir + "/" + name; }
};

TEST_F(FileLayerTest, PendingCodesFollowTheirRules) {
  openForReading(&f);
  EXPECT_EQ(takeIoError(), kIoUnbound);
  deleteFile(&f);
  EXPECT_EQ(takeIoError(), kIoUnbound);
  close(&f);
  EXPECT_EQ(takeIoError(), kIoNotOpen);

  writeFileBytes(at("in"), Bytes(10, 'a'));
  bind(&f, at("in").c_str());
  openForReading(&f);
  EXPECT_EQ(takeIoError(), 0u);
  uint8_t buf[20];
  uint32_t got = 99;
  readBlock(&f, buf, 20, &got);  // a short read with an out-count is no error
  EXPECT_EQ(got, 10u);
  EXPECT_EQ(takeIoError(), 0u);
  EXPECT_TRUE(atEnd(&f));
  readBlock(&f, buf, 1);  // without one it is code 100
  EXPECT_EQ(takeIoError(), kIoShortRead);
  writeBlock(&f, buf, 1);  // read-only
  EXPECT_EQ(takeIoError(), kIoNotOpen);
  EXPECT_EQ(size(&f), 10);
  // A failure stays pending across later successes and is replaced by the next.
  close(&f);
  close(&f);
  EXPECT_EQ(size(&f), -1);
  EXPECT_EQ(takeIoError(), kIoNotOpen);
  EXPECT_EQ(takeIoError(), 0u);

  bind(&f, at("missing").c_str());
  openForReading(&f);
  EXPECT_NE(takeIoError(), 0u);
  EXPECT_EQ(f.state, FileClosed);
}

// A signed archive's reader: the file ends at its logical end for size,
// atEnd and every read; a seek reads elsewhere before that end is set.
TEST_F(FileLayerTest, ALogicalEndShortensTheFileForReading) {
  Bytes content(100);
  for (size_t i = 0; i < content.size(); ++i) content[i] = (uint8_t)i;
  writeFileBytes(at("in"), content);
  bind(&f, at("in").c_str());
  openForReading(&f);
  uint8_t buf[64];
  readBlock(&f, buf, 10);
  seekTo(&f, 40);
  readBlock(&f, buf, 2);
  EXPECT_EQ(buf[0], 40);
  seekTo(&f, 10);
  EXPECT_EQ(takeIoError(), 0u);

  endFileAt(&f, 30, 10);
  EXPECT_EQ(size(&f), 30);
  EXPECT_FALSE(atEnd(&f));
  uint32_t got = 0;
  readBlock(&f, buf, 64, &got);  // the stream reader's short last block
  EXPECT_EQ(got, 20u);
  EXPECT_EQ(buf[0], 10);
  EXPECT_EQ(buf[19], 29);
  EXPECT_TRUE(atEnd(&f));
  EXPECT_EQ(takeIoError(), 0u);
  readBlock(&f, buf, 1);  // nothing is left, though the file goes on
  EXPECT_EQ(takeIoError(), kIoShortRead);
  close(&f);
  seekTo(&f, 0);
  EXPECT_EQ(takeIoError(), kIoNotOpen);

  bind(&f, at("in").c_str());  // a file bound anew has its own end again
  openForReading(&f);
  EXPECT_EQ(size(&f), 100);
  close(&f);
}

// The host reads a file opened for reading ahead in large pieces; position,
// size, end, seeks and reads answer as they would without it, also across
// the pieces and for a second file read at the same time.
TEST_F(FileLayerTest, ReadingAheadIsInvisible) {
  Bytes content(700000);
  for (size_t i = 0; i < content.size(); ++i) content[i] = (uint8_t)(i * 7 + (i >> 11));
  writeFileBytes(at("big"), content);
  writeFileBytes(at("small"), Bytes(10, 'x'));
  bind(&f, at("big").c_str());
  openForReading(&f);
  BlockFile other{};
  bind(&other, at("small").c_str());
  openForReading(&other);
  uint32_t position = 0;
  Bytes got;
  for (uint32_t piece = 1; got.size() < content.size(); piece = piece * 3 % 9001 + 1) {
    Bytes buf(piece);
    uint32_t n = 0;
    readBlock(&f, buf.data(), piece, &n);
    got.insert(got.end(), buf.begin(), buf.begin() + n);
    ASSERT_TRUE(pfFilePosition(handleOf(&f), &position));
    ASSERT_EQ(position, got.size());
    ASSERT_EQ(atEnd(&f), got.size() == content.size());
  }
  EXPECT_EQ(got, content);
  EXPECT_EQ(size(&f), 700000);
  seekTo(&f, 262143);  // back, across a piece's edge
  uint8_t two[2];
  readBlock(&f, two, 2);
  EXPECT_EQ(two[0], content[262143]);
  EXPECT_EQ(two[1], content[262144]);
  uint8_t ten[10];
  readBlock(&other, ten, 10);
  EXPECT_TRUE(atEnd(&other));
  EXPECT_EQ(takeIoError(), 0u);
  close(&other);
  close(&f);
}

TEST_F(FileLayerTest, OverlongNameFailsWithoutOpeningAShortenedName) {
  std::string name = tmp.dir + "/" + std::string(300 - tmp.dir.size(), 'n');
  std::string shortened = name.substr(0, kMaxFileName);
  bind(&f, name.c_str());
  createForWriting(&f);
  EXPECT_NE(takeIoError(), 0u);
  EXPECT_EQ(f.state, FileClosed);
  std::error_code ec;
  EXPECT_FALSE(std::filesystem::exists(shortened, ec));
  EXPECT_FALSE(std::filesystem::exists(name, ec));
  // Exactly 259 bytes still fit.
  bind(&f, shortened.c_str());
  EXPECT_FALSE(f.nameTooLong);
}

TEST_F(FileLayerTest, FatalExitDeletesTheOutputOnlyWhileItIsOpen) {
  writeFileBytes(at("archive"), Bytes(4, 0));
  bind(&app.archiveFile, at("archive").c_str());
  openForReading(&app.archiveFile);
  bind(&app.outputFile, at("partial").c_str());
  createForWriting(&app.outputFile);
  writeBlock(&app.outputFile, "abc", 3);
  try {
    failWrite();
  } catch (const scripted::Exit& e) {
    EXPECT_EQ(e.code, 1u);
  }
  EXPECT_FALSE(std::filesystem::exists(at("partial")));
  EXPECT_EQ(scripted::boxes.at(0).id, MsgWriteFailed);
  EXPECT_EQ(app.archiveFile.state, FileClosed);

  // A finished (closed) output file stays.
  openForReading(&app.archiveFile);
  bind(&app.outputFile, at("done").c_str());
  createForWriting(&app.outputFile);
  close(&app.outputFile);
  EXPECT_THROW(failRead(), scripted::Exit);
  EXPECT_TRUE(std::filesystem::exists(at("done")));
}

}  // namespace
