#include <gtest/gtest.h>

#include <string.h>

#include <memory>

#include "common/app_state.h"
#include "archive/entries.h"
#include "core_support.h"
#include "decode/decoder.h"
#include "platform/host/scripted_ui.h"

namespace {

struct EntriesTest : ::testing::Test {
  TestArchive archive;
  std::unique_ptr<HeadRing> ring = std::make_unique<HeadRing>();
  EntryHeader h{};
  void TearDown() override {
    bsRelease(&h.entryName);
    bsRelease(&h.fullPath);
  }
  std::string name() { return bsText(&h.entryName); }
  std::string full() { return bsText(&h.fullPath); }
};

TEST_F(EntriesTest, SharedNamesFoldersAndFileFields) {
  Bytes s;
  auto add = [&](const Bytes& b) { s.insert(s.end(), b.begin(), b.end()); };
  add(fileRecord(std::string("*\x03x"), 5));                 // shares with an empty name: "x"
  add({'d', 'o', 'c', 's', '\\', '.', 0});                   // folder docs
  add(fileRecord(std::string("*\x03" "a.txt"), 300, 7, 12, 0x0102030405060708ull, 2, 3));
  add(fileRecord(std::string("*\0", 2), 1));                  // the first 2 bytes only
  add({0x83, 0x5C, '.', 0});                                  // ソ + "." ends with the bytes "\."
  add({'.', 0});                                              // the target folder itself
  add(fileRecord(std::string("*\xFFy"), 0));                  // up to 257 bytes of "."
  archive.open(makeBlockStream(s));
  clearPreviousName();

  readEntryHeader("T\\", &h);
  EXPECT_EQ(name(), "x");
  EXPECT_FALSE(h.isFolder);
  EXPECT_EQ(h.fileSize, 5);
  readEntryHeader("T\\", &h);
  EXPECT_TRUE(h.isFolder);
  EXPECT_EQ(full(), "T\\docs\\.");
  readEntryHeader("T\\", &h);
  EXPECT_EQ(name(), "docs\\a.txt");
  EXPECT_EQ(h.creationTime, 0x0102030405060708ull);
  EXPECT_EQ(h.lastAccessTime, 2u);
  EXPECT_EQ(h.lastWriteTime, 3u);
  EXPECT_EQ(h.fileSize, 300);
  EXPECT_EQ(h.back, 7);
  EXPECT_EQ(h.prefixLength, 12);
  readEntryHeader("T\\", &h);
  EXPECT_EQ(name(), "do");
  EXPECT_EQ(h.back, 0);
  EXPECT_EQ(h.prefixLength, 0);
  readEntryHeader("T\\", &h);
  EXPECT_TRUE(h.isFolder);
  readEntryHeader("T\\", &h);
  EXPECT_TRUE(h.isFolder);
  EXPECT_EQ(full(), "T\\.");
  readEntryHeader("T\\", &h);
  EXPECT_EQ(name(), ".y");
  EXPECT_TRUE(app.endOfArchive);
}

TEST_F(EntriesTest, RecordsThatReachOutsideTheRingAreDamaged) {
  resetHeadRing(ring.get(), testStubImage().data());
  archive.open({});
  auto verdict = [&](int32_t size, uint8_t back, uint16_t prefix) {
    h.fileSize = size;
    h.back = back;
    h.prefixLength = prefix;
    try {
      checkFileEntry(ring.get(), &h);
    } catch (const scripted::Exit& e) {
      return (int)e.code;
    }
    return -1;
  };
  EXPECT_EQ(verdict(100, 1, 100), -1);    // the first file may start like the stub head
  EXPECT_EQ(verdict(100, 2, 0), 1);       // no second file back yet
  EXPECT_EQ(verdict(100, 1, 101), 1);     // a prefix longer than the file
  EXPECT_EQ(verdict(-5, 0, 0), 1);        // 2,147,483,648 bytes or more
  setCurrentLength(ring.get(), 10);
  advanceHeadRing(ring.get());
  EXPECT_EQ(verdict(100, 1, 11), 1);      // longer than the referenced head
  EXPECT_EQ(verdict(100, 2, 100), -1);    // the stub head, two back
  EXPECT_EQ(scripted::boxes.back().id, MsgDamaged);
}

TEST_F(EntriesTest, UnsafeNamesAreDamaged) {
  archive.open({});
  for (const char* bad : {"..\\x.txt", "a\\..\\..\\x.txt", "\\x.txt", "C:x.txt", "a.txt:hidden", "a/../../x",
                          "/etc/x", "a\\..", "*.txt", "a?b",
                          // Windows drops trailing dots and spaces: these could mean "..".
                          "x\\...\\y", "a\\.. \\b", ". .\\x", "a\\ "}) {
    bsAssign(&h.entryName, bad, (uint32_t)strlen(bad));
    EXPECT_THROW(checkEntryName(&h), scripted::Exit) << bad;
  }
  for (const char* good : {"a.txt", "..a\\b..", "a\\.", ".", "\x95\\x", "x\\..y\\z"}) {
    bsAssign(&h.entryName, good, (uint32_t)strlen(good));
    EXPECT_NO_THROW(checkEntryName(&h)) << good;
  }
}

TEST_F(EntriesTest, PresetSizes) {
  resetHeadRing(ring.get(), testStubImage().data());
  ring->slots[1].length = 16384;
  ring->current = 2;
  Preset p = presetBytes(ring.get(), 1, 16384);
  EXPECT_EQ(p.length, 8192);  // A = 0, B = 8,192: the end of the shared prefix
  EXPECT_EQ(p.bytes, ring->slots[1].bytes + 8192);
  p = presetBytes(ring.get(), 1, 0);
  EXPECT_EQ(p.length, 7168);  // A = 7,168, B = 0
  EXPECT_EQ(p.bytes, ring->slots[1].bytes);
  p = presetBytes(ring.get(), 1, 10000);
  EXPECT_EQ(p.length, 6384 + 1808);  // A = 6,384 after the prefix, B = 1,808 before it
  ring->slots[1].length = 0;
  EXPECT_EQ(presetBytes(ring.get(), 1, 0).length, 0);
}

TEST_F(EntriesTest, RingWrapsAndSlotZeroHoldsTheStubHead) {
  resetHeadRing(ring.get(), testStubImage().data());
  EXPECT_EQ(referencedSlot(ring.get(), 0), 0u);  // the first file is coded against the stub head
  EXPECT_TRUE(std::equal(testStubImage().begin(), testStubImage().begin() + 16384, ring->slots[0].bytes));
  for (int i = 0; i < 255; ++i) advanceHeadRing(ring.get());
  EXPECT_EQ(ring->current, 0u);  // the 256th file overwrites slot 0
  EXPECT_EQ(referencedSlot(ring.get(), 255), 1u);
}

}  // namespace
