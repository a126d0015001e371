#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "common/app_state.h"
#include "archive/driver.h"
#include "core_support.h"
#include "platform/host/scripted_ui.h"

namespace fs = std::filesystem;

namespace {

// Builds the data bytes of a block stream entry by entry.
struct StreamBuilder {
  Bytes data;
  void folder(const std::string& name) {
    data.insert(data.end(), name.begin(), name.end());
    data.insert(data.end(), {'\\', '.', 0});
  }
  // A file coded as literals (content after the prefix).
  void file(const std::string& name, const Bytes& content, uint8_t back = 0, uint16_t prefix = 0,
            uint64_t writeTime = 132000000000000000ull) {
    Bytes r = fileRecord(name, (uint32_t)content.size(), back, prefix, writeTime, writeTime, writeTime);
    data.insert(data.end(), r.begin(), r.end());
    BitSink sink;
    SymbolComposer c(&sink);
    for (size_t i = prefix; i < content.size(); ++i) c.literal(content[i]);
    data.insert(data.end(), sink.bytes.begin(), sink.bytes.end());
  }
};

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

struct DriverTest : ::testing::Test {
  TestArchive archive;
  std::string old;
  void SetUp() override {
    old = fs::current_path();
    fs::create_directory(archive.dir + "/t");
    fs::current_path(archive.dir + "/t");
  }
  void TearDown() override { fs::current_path(old); }

  int run(const StreamBuilder& b, std::initializer_list<int> answers = {}, int cancelAtPump = 0) {
    archive.open(makeBlockStream(b.data));
    scripted::answers.assign(answers.begin(), answers.end());
    scripted::cancelAtPump = cancelAtPump;
    try {
      extractAll(".\\");
    } catch (const scripted::Exit& e) {
      return (int)e.code;
    }
    return -1;
  }
};

TEST_F(DriverTest, ExtractsFoldersFilesPrefixesAndTimes) {
  StreamBuilder b;
  Bytes big(20000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = (uint8_t)(i * 31 >> 3);
  b.folder("docs");
  b.folder("empty");
  b.file("docs\\a.txt", text("hello world"));
  b.file("docs\\b.txt", text("hello there"), 1, 6);  // starts like a.txt
  b.file("zero", {});
  b.file("deep\\er\\big.bin", big);
  Bytes same(big.begin(), big.begin() + 16384);
  b.file("same.bin", same, 1, 16384);  // all of it is the previous head
  ASSERT_EQ(run(b), -1);

  EXPECT_TRUE(fs::is_directory("empty"));
  EXPECT_EQ(readFileBytes("docs/a.txt"), text("hello world"));
  EXPECT_EQ(readFileBytes("docs/b.txt"), text("hello there"));
  EXPECT_TRUE(fs::exists("zero"));
  EXPECT_EQ(fs::file_size("zero"), 0u);
  EXPECT_EQ(readFileBytes("deep/er/big.bin"), big);
  EXPECT_EQ(readFileBytes("same.bin"), same);
  struct stat st;
  ASSERT_EQ(stat("docs/a.txt", &st), 0);
  EXPECT_EQ(st.st_mtime, (time_t)(132000000000000000ull / 10000000 - 11644473600ull));
  EXPECT_EQ(app.archiveFile.state, FileClosed);
  EXPECT_FALSE(app.cancelFlag);
  // Status lines: processing, then extracting, per file.
  ASSERT_GE(scripted::statuses.size(), 2u);
  EXPECT_EQ(scripted::statuses[0].id, StatusProcessing);
  EXPECT_EQ(scripted::statuses[1].id, StatusExtracting);
}

TEST_F(DriverTest, OverwriteNoSkipsButLaterFilesStillReferToIt) {
  writeFileBytes("a.txt", text("old content"));
  StreamBuilder b;
  b.file("a.txt", text("new content A"));
  b.file("b.txt", text("new content B"), 1, 12);  // its prefix comes from the skipped a.txt
  ASSERT_EQ(run(b, {kIdNo}), -1);
  EXPECT_EQ(readFileBytes("a.txt"), text("old content"));
  EXPECT_EQ(readFileBytes("b.txt"), text("new content B"));
  ASSERT_EQ(scripted::boxes.size(), 1u);
  EXPECT_EQ(scripted::boxes[0].id, MsgOverwrite);
  EXPECT_EQ(scripted::boxes[0].flags, 0x23u);
  EXPECT_EQ(scripted::statuses[1].id, StatusSkipping);
}

TEST_F(DriverTest, OverwriteYesReplacesAndCancelStopsAtOnce) {
  writeFileBytes("a.txt", text("old"));
  writeFileBytes("b.txt", text("old b"));
  StreamBuilder b;
  b.file("a.txt", text("new a"));
  b.file("b.txt", text("new b"));
  b.file("c.txt", text("new c"));
  ASSERT_EQ(run(b, {kIdYes, kIdCancel}), -1);
  EXPECT_EQ(readFileBytes("a.txt"), text("new a"));
  EXPECT_EQ(readFileBytes("b.txt"), text("old b"));
  EXPECT_FALSE(fs::exists("c.txt"));
  EXPECT_TRUE(app.cancelFlag);
}

TEST_F(DriverTest, CancelDuringAFileDeletesItAndKeepsEarlierFiles) {
  StreamBuilder b;
  b.file("first.txt", text("complete"));
  Bytes big(3000, 'x');
  b.file("second.bin", big);
  b.file("third.txt", text("never read"));
  // first.txt pumps once; second.bin pumps at symbols 0, 256, ...: cancel there.
  ASSERT_EQ(run(b, {}, 3), -1);
  EXPECT_TRUE(app.cancelFlag);
  EXPECT_EQ(readFileBytes("first.txt"), text("complete"));
  EXPECT_FALSE(fs::exists("second.bin"));
  EXPECT_FALSE(fs::exists("third.txt"));
}

TEST_F(DriverTest, DamagedBlockInTheMiddleOfAFileRemovesThePartialFile) {
  StreamBuilder b;
  Bytes big(12000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = (uint8_t)(i * 7 + i / 100);
  b.file("done.txt", text("kept"));
  b.file("big.bin", big);
  Bytes stream = makeBlockStream(b.data);
  stream[4098 * 2 + 50] ^= 1;  // the third block
  archive.open(stream);
  int code = -1;
  try {
    extractAll(".\\");
  } catch (const scripted::Exit& e) {
    code = (int)e.code;
  }
  EXPECT_EQ(code, 1);
  EXPECT_EQ(scripted::boxes.at(0).id, MsgDamaged);
  EXPECT_EQ(readFileBytes("done.txt"), text("kept"));
  EXPECT_FALSE(fs::exists("big.bin"));
}

TEST_F(DriverTest, NamesThatLeaveTheTargetAreDamagedAndWriteNothing) {
  for (const char* name : {"..\\x.txt", "a\\..\\..\\x.txt", "\\x.txt", "C:x.txt", "a.txt:hidden"}) {
    StreamBuilder b;
    b.file(name, text("evil"));
    EXPECT_EQ(run(b), 1) << name;
    EXPECT_EQ(scripted::boxes.at(0).id, MsgDamaged);
  }
  EXPECT_TRUE(fs::is_empty("."));
  EXPECT_FALSE(fs::exists("../x.txt"));
}

TEST_F(DriverTest, FileInThePlaceOfAFolderFailsTheFolder) {
  writeFileBytes("docs", text("a file"));
  StreamBuilder b;
  b.file("docs\\a.txt", text("x"));
  EXPECT_EQ(run(b), 0);
  EXPECT_EQ(scripted::boxes.at(0).id, MsgFolderFailed);
  EXPECT_EQ(scripted::boxes.at(0).subject, ".\\docs");
}

}  // namespace
