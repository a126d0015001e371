// The writer with worker threads: held files coded on any thread and
// written in archive order give the same archive for every thread count,
// every run, and the same as the one-file-at-a-time streamed path; held
// bytes stay within their budget; every level decodes back through the core.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "core_support.h"
#include "encode_support.h"

namespace {

// Data with words, repeats at all distances, runs and noise.
Bytes variedData(size_t size, uint32_t seed) {
  static const char* words[] = {"stream ", "window ", "slot ", "record\r\n", "tree ", "count ", "rank ", "\x82\xa0"};
  Bytes d;
  uint32_t x = seed;
  auto next = [&] { return x = x * 1103515245u + 12345u, x >> 8; };
  while (d.size() < size) {
    const uint32_t r = next() % 10;
    if (r < 4 || d.size() < 32) {
      const char* w = words[next() % 8];
      d.insert(d.end(), w, w + strlen(w));
    } else if (r < 7) {
      const size_t dist = 1 + next() % std::min<size_t>(d.size(), 9000);
      const size_t len = 2 + next() % 200;
      for (size_t i = 0; i < len; ++i) d.push_back(d[d.size() - dist]);
    } else if (r < 8) {
      d.insert(d.end(), 100 + next() % 2000, (uint8_t)next());
    } else {
      for (int i = 0; i < 40; ++i) d.push_back((uint8_t)next());
    }
  }
  d.resize(size);
  return d;
}

// A tree of files that exercises every kind of entry: folders between
// files, empty files, files that are an earlier file's head, files that
// share a start with an earlier one, and sizes around the look-ahead.
std::vector<PackItem> mixedTree() {
  std::vector<PackItem> items;
  auto file = [&](const std::string& name, Bytes content) {
    PackItem it;
    it.name = name;
    it.content = std::move(content);
    items.push_back(it);
  };
  auto folder = [&](const std::string& name) {
    PackItem it;
    it.name = name;
    it.folder = true;
    items.push_back(it);
  };
  const Bytes base = variedData(70000, 1);
  folder("docs");
  for (int i = 0; i < 12; ++i) file("docs\\f" + std::to_string(i), variedData(500 + 3001 * i, 10 + i));
  file("docs\\empty", {});
  file("docs\\copy", Bytes(base.begin(), base.begin() + 9000));
  folder("docs\\sub");
  file("docs\\sub\\base", base);
  file("docs\\sub\\head", Bytes(base.begin(), base.begin() + 5000));
  Bytes edited = base;
  edited[20000] ^= 0x55;
  file("docs\\sub\\edited", edited);
  file("docs\\sub\\edge", variedData(kEntryLookahead + 1, 77));
  file("docs\\sub\\big", variedData(300000, 5));
  folder("z");
  return items;
}

// Writes the items as `vellicor pack` does (an empty result: a held file
// was not taken, or the held bytes passed the budget).
Bytes packHeld(const std::vector<PackItem>& items, ArchiveSettings settings, ArchiveStats* stats = 0) {
  return packItems(items, settings, kFeedAsPack, stats);
}

void expectDecodes(const Bytes& archive, const std::vector<PackItem>& items, const std::string& what) {
  std::vector<ReadEntry> back;
  ASSERT_EQ(readBack(archive, "", &back), -1) << what;
  ASSERT_EQ(back.size(), items.size()) << what;
  for (size_t i = 0; i < items.size(); ++i) {
    EXPECT_EQ(back[i].folder, items[i].folder) << what << " " << items[i].name;
    if (!items[i].folder) {
      EXPECT_TRUE(back[i].content == items[i].content) << what << " " << items[i].name;
    }
  }
}

TEST(ParallelPack, SameBytesForEveryThreadCountRunAndPath) {
  const std::vector<PackItem> items = mixedTree();
  ArchiveSettings s;
  s.threads = 1;
  const Bytes one = packHeld(items, s);
  ASSERT_FALSE(one.empty());
  expectDecodes(one, items, "one thread");
  // The streamed path, one file after the other, gives the same archive.
  EXPECT_TRUE(packItems(items, s, 7777) == one);
  for (int threads : {2, 3, 8, 2}) {
    s.threads = threads;
    EXPECT_TRUE(packHeld(items, s) == one) << threads << " threads";
  }
  // Nothing held (every file streamed after the queue is written out), and
  // a budget that holds only the small files: still the same archive.
  for (uint64_t budget : {0ull, 20000ull}) {
    s.threads = 3;
    s.heldBytes = budget;
    EXPECT_TRUE(packHeld(items, s) == one) << "budget " << budget;
  }
}

TEST(ParallelPack, HeldBytesStayWithinTheBudget) {
  std::vector<PackItem> items;
  for (int i = 0; i < 30; ++i) {
    PackItem it;
    it.name = "f" + std::to_string(i);
    it.content = variedData(9000 + 500 * i, 100 + i);
    items.push_back(it);
  }
  ArchiveSettings s;
  s.threads = 2;
  s.heldBytes = 50000;
  ArchiveStats stats = {};
  const Bytes a = packHeld(items, s, &stats);
  ASSERT_FALSE(a.empty());
  EXPECT_GT(stats.peakHeldBytes, 0u);
  EXPECT_LE(stats.peakHeldBytes, 50000u);
  EXPECT_EQ(stats.files, 30u);
  expectDecodes(a, items, "budget 50000");
}

// Every level through the threaded writer and the core's decoder, on files
// that reach the model's later rebuild points and several segments.
TEST(ParallelPack, EveryLevelDecodesBackExactly) {
  std::vector<PackItem> items = mixedTree();
  PackItem large;
  large.name = "large";
  large.content = variedData(200000, 9);
  large.content.insert(large.content.end(), 70000, 'x');
  Bytes tail = variedData(100000, 10);
  large.content.insert(large.content.end(), tail.begin(), tail.end());
  items.push_back(large);
  for (int level = kMinLevel; level <= kMaxLevel; ++level) {
    ArchiveSettings s;
    s.level = level;
    s.threads = 2;
    const Bytes a = packHeld(items, s);
    ASSERT_FALSE(a.empty()) << level;
    expectDecodes(a, items, "level " + std::to_string(level));
    // Matches found on a helper thread, segments ahead of the parse: the
    // same archive as one thread streaming file after file.
    s.threads = 1;
    EXPECT_TRUE(packItems(items, s) == a) << "level " << level;
  }
}

}  // namespace
