// Archives from the writer, read back by the core as the stub reads them:
// records, shared names, the head ring, the header and the mask.
#include <gtest/gtest.h>

#include <string>

#include "common/app_state.h"
#include "core_support.h"
#include "encode_support.h"

namespace {

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

PackItem folder(const std::string& name) {
  PackItem it;
  it.name = name;
  it.folder = true;
  return it;
}

void expectSameEntries(const std::vector<PackItem>& items, const std::vector<ReadEntry>& back) {
  ASSERT_EQ(back.size(), items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    const std::string expectName = items[i].folder ? items[i].name + "\\." : items[i].name;
    EXPECT_EQ(back[i].name, expectName) << i;
    EXPECT_EQ(back[i].folder, items[i].folder) << i;
    if (items[i].folder) continue;
    EXPECT_TRUE(back[i].content == items[i].content) << items[i].name;
    EXPECT_EQ(back[i].creation, items[i].times.creation);
    EXPECT_EQ(back[i].lastAccess, items[i].times.lastAccess);
    EXPECT_EQ(back[i].lastWrite, items[i].times.lastWrite);
  }
}

TEST(PackRoundTrip, FoldersEmptyFilesTextBinaryAndJapaneseNames) {
  std::vector<PackItem> items;
  items.push_back(folder("docs"));
  items.push_back(folder("docs\\empty"));
  items.push_back({"docs\\a.txt", false, pseudoText(5000, 1)});
  items.push_back({"docs\\zero", false, {}});
  // 資料\表.txt: the second byte of 表 is 0x5C.
  items.push_back(folder("\x8E\x91\x97\xBF"));
  items.push_back({"\x8E\x91\x97\xBF\\\x95\x5C.txt", false, text("table")});
  items.push_back({"bin.dat", false, noiseBytes(70000, 3)});
  items.push_back({"big.txt", false, pseudoText(200000, 2)});
  items[2].times = {1, 2, 0xFFFFFFFFFFFFFFFFull};
  std::vector<ReadEntry> back;
  ASSERT_EQ(readBack(packItems(items), "", &back), -1);
  expectSameEntries(items, back);
}

TEST(PackRoundTrip, IdenticalFilesShrinkToRecords) {
  std::vector<PackItem> items;
  const Bytes same = pseudoText(3000, 7);
  for (int i = 0; i < 20; ++i) items.push_back({"copy" + std::to_string(i) + ".txt", false, same});
  // A file that is the start of an earlier one, and an empty one between.
  items.push_back({"zero", false, {}});
  items.push_back({"part.txt", false, Bytes(same.begin(), same.begin() + 1000)});
  ArchiveStats stats;
  Bytes a = packItems(items, {}, 1 << 20, &stats);
  std::vector<ReadEntry> back;
  ASSERT_EQ(readBack(a, "", &back), -1);
  expectSameEntries(items, back);
  EXPECT_EQ(stats.prefixOnlyFiles, 20u);
  Bytes one = packItems({items[0]});
  // Each copy costs its record: name, times, size, back and prefix length.
  EXPECT_LT(a.size(), one.size() + 21 * 48);
}

TEST(PackRoundTrip, NearIdenticalFilesUseEarlierHeads) {
  std::vector<PackItem> items;
  const Bytes base = pseudoText(12000, 11);
  for (int i = 0; i < 12; ++i) {
    Bytes v = base;
    v[6000 + i * 10] ^= 0x20;  // each differs after a shared start
    items.push_back({"v" + std::to_string(i), false, v});
    // Unrelated files between them push the similar ones further back.
    items.push_back({"noise" + std::to_string(i), false, noiseBytes(3000, 100 + i)});
  }
  ArchiveStats stats;
  Bytes a = packItems(items, {}, 1 << 20, &stats);
  std::vector<ReadEntry> back;
  ASSERT_EQ(readBack(a, "", &back), -1);
  expectSameEntries(items, back);
  EXPECT_GE(stats.nonDefaultContext, 10u);
  // Twelve 12,000-byte variants cost far less than twelve separate codings.
  EXPECT_LT(a.size(), kStubSize + 12 * 3100 + 2 * 6000 + 12 * 600u);
}

TEST(PackRoundTrip, MoreThan256FilesWrapTheRing) {
  std::vector<PackItem> items;
  for (int i = 0; i < 600; ++i) {
    PackItem it;
    it.name = "d" + std::to_string(i / 100) + "\\f" + std::to_string(i) + ".txt";
    if (i % 100 == 0) items.push_back(folder("d" + std::to_string(i / 100)));
    // Some repeat a file 255 back (the farthest a record can reach), some
    // one 256 back (out of reach), some are new.
    if (i >= 300 && i % 3 == 0) it.content = items[items.size() - 255 - (i / 100 - (i - 255) / 100)].content;
    else it.content = pseudoText(100 + (i * 37) % 3000, (uint32_t)i);
    items.push_back(it);
  }
  std::vector<ReadEntry> back;
  ASSERT_EQ(readBack(packItems(items), "", &back), -1);
  expectSameEntries(items, back);
}

TEST(PackRoundTrip, FirstFileUsesTheStubHead) {
  const Bytes& stub = testStubImage();
  Bytes content(stub.begin() + 100, stub.begin() + 6000);  // context only the stub head gives
  Bytes a = packItems({{"stubby", false, content}});
  std::vector<ReadEntry> back;
  ASSERT_EQ(readBack(a, "", &back), -1);
  EXPECT_TRUE(back[0].content == content);
  EXPECT_LT(a.size(), kStubSize + 100u);
  // A file that begins like the stub is stored as a prefix of slot 0.
  Bytes head(stub.begin(), stub.begin() + 9000);
  ArchiveStats stats;
  a = packItems({{"head", false, head}}, {}, 1 << 20, &stats);
  ASSERT_EQ(readBack(a, "", &back), -1);
  EXPECT_TRUE(back[0].content == head);
  EXPECT_EQ(stats.prefixOnlyFiles, 1u);
}

TEST(PackRoundTrip, HeaderFieldsAndPassword) {
  std::vector<PackItem> items = {{"a.txt", false, pseudoText(20000, 5)}, {"b.txt", false, text("b")}};
  ArchiveSettings s;
  s.comment = "line 1\r\nline 2";
  s.launchFile = "a.txt";
  std::string comment, launch;
  std::vector<ReadEntry> back;
  ASSERT_EQ(readBack(packItems(items, s), "", &back, &comment, &launch), -1);
  EXPECT_EQ(comment, s.comment);
  EXPECT_EQ(launch, "a.txt");
  EXPECT_FALSE(app.passwordProtected);
  expectSameEntries(items, back);

  for (uint8_t flags : {1, 2}) {
    s.passwordFlags = flags;
    s.password = "p\x83X";  // three bytes: the key restarts inside every block
    Bytes a = packItems(items, s);
    ASSERT_EQ(readBack(a, s.password, &back), -1);
    EXPECT_TRUE(app.passwordProtected);
    expectSameEntries(items, back);
    // Same check value but a different key: every block fails its check.
    EXPECT_EQ(readBack(a, "wrong", &back), 101);
    // The data bytes really are masked.
    Bytes clear = packItems(items, ArchiveSettings{});
    EXPECT_NE(Bytes(a.end() - 200, a.end()), Bytes(clear.end() - 200, clear.end()));
  }
}

TEST(PackRoundTrip, AnArchivePastTheSizeLimitIsNotFinished) {
  ArchiveSettings s;
  s.sizeLimit = kStubSize + 20000;
  EXPECT_TRUE(packItems({{"r", false, noiseBytes(30000, 9)}}, s).empty());
  EXPECT_FALSE(packItems({{"r", false, noiseBytes(10000, 9)}}, s).empty());
  s.comment.assign(30000, 'c');  // the header alone passes it
  EXPECT_TRUE(packItems({{"r", false, text("x")}}, s).empty());
}

TEST(PackRoundTrip, SameInputSameBytesAndStreamingDoesNotMatter) {
  std::vector<PackItem> items;
  for (int i = 0; i < 30; ++i) items.push_back({"f" + std::to_string(i), false, pseudoText(1000 + i * 5000, i)});
  const Bytes a = packItems(items);
  EXPECT_EQ(packItems(items), a);
  EXPECT_EQ(packItems(items, {}, 777), a);
  EXPECT_EQ(packItems(items, {}, 4099), a);
}

TEST(PackRoundTrip, NamesShareTheirStartWhenItSaves) {
  EXPECT_EQ(nameRecordBytes("", "abc"), "abc");
  EXPECT_EQ(nameRecordBytes("docs\\a.txt", "docs\\b.txt"), std::string("*\x03") + "b.txt");
  EXPECT_EQ(nameRecordBytes("ab", "abc"), "abc");          // two shared bytes save nothing
  EXPECT_EQ(nameRecordBytes("abc", "abcd"), std::string("*\x01") + "d");
  EXPECT_EQ(nameRecordBytes("abc", "abc"), std::string("*\x01"));
  const std::string longName(300, 'x');
  EXPECT_EQ(nameRecordBytes(longName, longName + "y"), std::string("*\xFF") + std::string(43, 'x') + "y");
  // Read back: long shared runs and names that end inside a shared run.
  std::vector<PackItem> items = {{longName, false, text("1")},
                                 {longName + "y", false, text("2")},
                                 {"x", false, text("3")},
                                 {longName.substr(0, 100), false, text("4")}};
  std::vector<ReadEntry> back;
  ASSERT_EQ(readBack(packItems(items), "", &back), -1);
  expectSameEntries(items, back);
}

}  // namespace
