#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "common/texts.h"
#include "core_support.h"
#include "fs/folders.h"
#include "fs/paths.h"
#include "platform/host/scripted_ui.h"

namespace {

std::string trailing(const char* path) {
  ByteString out{};
  withTrailingBackslash(path, &out);
  std::string r = bsText(&out);
  bsRelease(&out);
  return r;
}

std::string folderOf(const char* path) {
  ByteString out{};
  folderPartOf(path, &out);
  std::string r = bsText(&out);
  bsRelease(&out);
  return r;
}

TEST(Paths, TrailingBackslashStepsCharacters) {
  EXPECT_EQ(trailing(""), ".\\");
  EXPECT_EQ(trailing("C:"), "C:\\");
  EXPECT_EQ(trailing("C:\\"), "C:\\");
  EXPECT_EQ(trailing("C:\\data\\"), "C:\\data\\");
  EXPECT_EQ(trailing("a\\\\"), "a\\\\");
  EXPECT_EQ(trailing("\x83\x5C"), "\x83\x5C\\");  // ソ ends in 0x5C but is no separator
  EXPECT_EQ(trailing("a/"), "a/\\");
  // Half a character at the end would swallow the backslash: it goes.
  EXPECT_EQ(trailing("C:\\data\x83"), "C:\\data\\");
  EXPECT_EQ(trailing("data\x95\x5C\x83"), "data\x95\x5C\\");
  EXPECT_EQ(trailing("\x83"), ".\\");
}

TEST(Paths, FolderPartStepsCharacters) {
  EXPECT_EQ(folderOf("C:\\data\\readme.txt"), "C:\\data\\");
  EXPECT_EQ(folderOf("readme.txt"), "");
  EXPECT_EQ(folderOf("data\\"), "data\\");
  EXPECT_EQ(folderOf("C:readme.txt"), "");
  EXPECT_EQ(folderOf("\x95\x5C\\x"), "\x95\x5C\\");  // 表\x
  EXPECT_EQ(folderOf("\x95\x5Cx"), "");
}

struct FolderTest : ::testing::Test {
  std::string old;
  TestArchive tmp;
  void SetUp() override {
    scripted::resetRun();
    old = std::filesystem::current_path();
    std::filesystem::current_path(tmp.dir);
  }
  void TearDown() override { std::filesystem::current_path(old); }
  std::string create(const char* path, bool* ok) {
    ByteString failed{};
    *ok = createFolderPath(path, &failed);
    std::string r = bsText(&failed);
    bsRelease(&failed);
    return r;
  }
};

TEST_F(FolderTest, FolderStateProbesWithoutTheTrailingByte) {
  EXPECT_EQ(folderState("C:\\"), FolderExists);  // a drive root is never looked up
  EXPECT_EQ(folderState("z:\\"), FolderExists);
  EXPECT_EQ(folderState(".\\"), FolderExists);
  EXPECT_EQ(folderState("nothing\\"), FolderMissing);
  writeFileBytes("file", {1});
  EXPECT_EQ(folderState("file\\"), FolderIsFile);
}

TEST_F(FolderTest, CreatesEveryMissingFolderAndStopsAtAFile) {
  bool ok;
  EXPECT_EQ(create("", &ok), "");
  EXPECT_TRUE(ok);
  EXPECT_EQ(create("out\\new\\sub\\", &ok), "");
  EXPECT_TRUE(ok);
  EXPECT_TRUE(std::filesystem::is_directory("out/new/sub"));
  writeFileBytes("out/name", {1});
  EXPECT_EQ(create("out\\name\\x\\", &ok), "out\\name");
  EXPECT_FALSE(ok);
  EXPECT_FALSE(std::filesystem::exists("out/name/x"));
  // A name whose second byte is 0x5C is one folder, not two.
  EXPECT_EQ(create("\x83\x5C\x95\x5C\\", &ok), "");
  EXPECT_TRUE(std::filesystem::is_directory("ソ表"));
}

TEST_F(FolderTest, PathEndingInsideADoubleByteCharacterEndsTheWalk) {
  // "ソ" + "." reaches folder creation as "ソ" with no backslash after it:
  // the last name is made as a folder and the walk ends.
  bool ok;
  EXPECT_EQ(create("a\\\x83\x5C", &ok), "");
  EXPECT_TRUE(ok);
  EXPECT_TRUE(std::filesystem::is_directory("a/ソ"));
}

TEST_F(FolderTest, FailFolderClosesTheArchiveAndExitsWithZero) {
  try {
    failFolder("out\\sub");
    FAIL();
  } catch (const scripted::Exit& e) {
    EXPECT_EQ(e.code, 0u);
  }
  ASSERT_EQ(scripted::boxes.size(), 1u);
  EXPECT_EQ(scripted::boxes[0].text, std::string(kTextFolderFailed) + "out\\sub");
  EXPECT_EQ(scripted::boxes[0].flags, 0x10u);
}

}  // namespace
