// The folder walk's memory during an extraction, seen through the counting
// fault layer: how many probes, folders made and opens a deep tree costs
// per file, and that a folder removed (or replaced by a file) while the run
// goes on ends exactly as a walk without memory ends.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "archive/driver.h"
#include "archive/entries.h"
#include "archive/header.h"
#include "common/app_state.h"
#include "core_run_support.h"
#include "core_support.h"
#include "encode_support.h"
#include "fault_support.h"
#include "platform/host/fault_layer.h"
#include "platform/host/scripted_ui.h"

namespace fs = std::filesystem;

namespace {

// A deep tree in the order pack walks it: four levels of folders below
// four top folders (one a leading part of the name before it), names with 0x5C as the second byte of a character
// (表 95 5C, ソ 83 5C) and one whose second byte is a lead byte before a
// separator (ヵ 83 95), files at every level, folder entries for some
// folders only, and a return to a parent folder after its subfolders.
struct DeepTree {
  std::vector<PackItem> items;
  std::map<std::string, Bytes> tree;  // as treeBelow shows it
  std::vector<std::string> fileOrder;  // UTF-8 paths of the files, in archive order
  uint32_t files = 0, folders = 0;
};

const DeepTree& deepTree() {
  static const DeepTree t = [] {
    DeepTree t;
    std::set<std::string> made;
    uint32_t seed = 1;
    auto note = [&](const std::string& shown) {
      // Every folder along a shown path, once.
      for (size_t at = shown.find('/'); at != std::string::npos; at = shown.find('/', at + 1)) {
        const std::string folder = shown.substr(0, at + 1);
        if (made.insert(folder).second) {
          t.tree[folder] = {};
          ++t.folders;
        }
      }
    };
    auto folder = [&](const std::string& cp932, const std::string& shown) {
      PackItem it;
      it.name = cp932;
      it.folder = true;
      t.items.push_back(it);
      note(shown + "/");
    };
    auto file = [&](const std::string& cp932, const std::string& shown) {
      PackItem it;
      it.name = cp932;
      it.content = pseudoText(40 + seed * 7 % 300, seed);
      ++seed;
      t.items.push_back(it);
      note(shown);
      t.tree[shown] = it.content;
      t.fileOrder.push_back(shown);
      ++t.files;
    };
    const std::pair<const char*, const char*> tops[] = {{"\x95\x5C", "表"}, {"\x83\x95", "ヵ"}, {"src", "src"}, {"sr", "sr"}};
    const std::pair<const char*, const char*> mids[] = {{"\x83\x5C", "ソ"}, {"lib", "lib"}};
    for (const auto& [top, topShown] : tops) {
      const std::string t1 = top, s1 = topShown;
      folder(t1, s1);
      file(t1 + "\\top.txt", s1 + "/top.txt");
      for (const auto& [mid, midShown] : mids) {
        const std::string t2 = t1 + "\\" + mid, s2 = s1 + "/" + midShown;
        for (int leaf = 0; leaf < 2; ++leaf) {
          // No folder entries below the second level: the files' walks
          // make those folders.
          const std::string t4 = t2 + "\\deep\\x" + std::to_string(leaf);
          const std::string s4 = s2 + "/deep/x" + std::to_string(leaf);
          for (int f = 0; f < 3; ++f) file(t4 + "\\f" + std::to_string(f) + ".h", s4 + "/f" + std::to_string(f) + ".h");
        }
        file(t2 + "\\after.txt", s2 + "/after.txt");  // back in the parent
      }
    }
    return t;
  }();
  return t;
}

struct WalkRun {
  bool finished = false;
  uint32_t code = 0;
  MessageId box = MsgFinished;
  std::string boxText;
  std::map<std::string, Bytes> tree;
  uint32_t probes = 0, makes = 0, opens = 0, writes = 0;
};

struct FolderWalk : ::testing::Test {
  std::string dir, archive, old, target;
  void SetUp() override {
    char tmpl[] = "/tmp/vellicor-walk-XXXXXX";
    dir = mkdtemp(tmpl);
    archive = dir + "/a.exe";
    writeFileBytes(archive, packItems(deepTree().items));
    old = fs::current_path();
    target = dir + "/t";
  }
  void TearDown() override {
    fs::current_path(old);
    fs::remove_all(dir);
    faultReset();
    scripted::reset();
  }

  // Extracts the deep tree into a fresh folder through extractAll, with
  // `during` called at every status line (what happens to the disk
  // meanwhile), and counts the calls of the run.
  WalkRun extract(std::function<void(const scripted::Status&)> during = nullptr, const char* plan = "") {
    startCoreRun(archive, target);
    scripted::onStatus = during;
    faultReset();
    EXPECT_TRUE(faultArmFromText(plan)) << plan;
    WalkRun r;
    try {
      extractAll(".\\");
      r.finished = true;
    } catch (const scripted::Exit& e) {
      r.code = e.code;
    }
    r.probes = faultCalls(FaultProbe);
    r.makes = faultCalls(FaultMakeFolder);
    r.opens = faultCalls(FaultOpen);
    r.writes = faultCalls(FaultWrite);
    scripted::onStatus = nullptr;
    if (!scripted::boxes.empty()) {
      r.box = scripted::boxes.back().id;
      r.boxText = scripted::boxes.back().subject;
    }
    fs::current_path(old);
    r.tree = treeBelow(target);
    return r;
  }

  // Calls `act` once, when the n-th file's "extracting" line is shown: after
  // its existence probe, before its folder walk.
  static std::function<void(const scripted::Status&)> atFile(uint32_t n, std::function<void()> act) {
    auto seen = std::make_shared<uint32_t>(0);
    return [=](const scripted::Status& s) {
      if (s.id == StatusExtracting && ++*seen == n) act();
    };
  }
  // The index (from 1) of a file in archive order.
  static uint32_t fileNumber(const std::string& shown) {
    const auto& order = deepTree().fileOrder;
    return (uint32_t)(std::find(order.begin(), order.end(), shown) - order.begin()) + 1;
  }
};

TEST_F(FolderWalk, EachFolderIsProbedOnceAndEachFileOpenedOnce) {
  const DeepTree& t = deepTree();
  const WalkRun r = extract();
  ASSERT_TRUE(r.finished);
  ASSERT_EQ(r.tree, t.tree);
  // Per file: the probe before replacing anything, and its open; per
  // folder: one probe and one make, as it is first met; and the target
  // folder "." probed once.
  EXPECT_EQ(r.probes, t.files + t.folders + 1);
  EXPECT_EQ(r.makes, t.folders);
  EXPECT_EQ(r.opens, t.files);
  // Each file is small: one write, and one more only for a file that
  // begins with an earlier file's head (a few); an empty shared prefix
  // costs no call, else every file would cost two.
  EXPECT_LT(r.writes, 2 * t.files);
  EXPECT_GE(r.writes, t.files);
  const double folderProbesPerFile = double(r.probes - t.files) / t.files;
  EXPECT_LE(folderProbesPerFile, 1.2) << t.folders << " folders, " << t.files << " files";
}

TEST_F(FolderWalk, AFolderRemovedDuringTheRunIsMadeAgain) {
  const DeepTree& t = deepTree();
  // The folder of the file before, taken from memory for the next file
  // (same folder: nothing is probed before the open fails) and for a file
  // in a subfolder of it (the make below it fails).
  const struct {
    const char* next;     // the file whose walk comes after the removal
    const char* removed;  // the folder removed just before it
  } cases[] = {
      {"表/ソ/deep/x0/f1.h", "表/ソ/deep/x0"},
      {"表/ソ/deep/x1/f0.h", "表/ソ/deep"},
      {"ヵ/ソ/after.txt", "ヵ/ソ"},
      {"src/lib/deep/x0/f0.h", "src"},
      {"ヵ/lib/deep/x1/f2.h", "ヵ"},
  };
  for (const auto& c : cases) {
    const std::string removed = target + "/" + c.removed;
    const WalkRun r = extract(atFile(fileNumber(c.next), [&] { fs::remove_all(removed); }));
    // As a walk without memory ends: the files of the removed folder that
    // were extracted before are gone, every later file is there, and so is
    // every folder that is not below the removed one or that a later file
    // needs.
    const std::string gone = std::string(c.removed) + "/";
    auto inGone = [&](const std::string& name) { return name.rfind(gone, 0) == 0; };
    std::map<std::string, Bytes> expected;
    for (const auto& [name, bytes] : t.tree)
      if (name.back() != '/' && (!inGone(name) || fileNumber(name) >= fileNumber(c.next))) expected[name] = bytes;
    std::vector<std::string> folders;
    for (const auto& [name, bytes] : t.tree) {
      if (name.back() != '/') continue;
      bool keep = !inGone(name);
      for (const auto& [other, content] : expected) keep = keep || other.rfind(name, 0) == 0;
      if (keep) folders.push_back(name);
    }
    for (const std::string& f : folders) expected[f] = {};
    EXPECT_TRUE(r.finished) << c.removed;
    EXPECT_EQ(r.tree, expected) << c.removed;
  }
}

TEST_F(FolderWalk, AFileInPlaceOfARememberedFolderFailsAsWithoutMemory) {
  // The folder of the file before replaced by a file: the walk that looks
  // finds the file where a folder is needed and reports that folder, with
  // exit code 0, as a walk without memory would have at once. Also for a
  // file in a subfolder, where the make below it fails first.
  const struct {
    const char* next;
    const char* replaced;
    const char* reported;
  } cases[] = {
      {"表/ソ/deep/x0/f1.h", "表/ソ/deep/x0", ".\\\x95\x5C\\\x83\x5C\\deep\\x0"},
      {"ヵ/ソ/deep/x1/f0.h", "ヵ/ソ/deep", ".\\\x83\x95\\\x83\x5C\\deep"},
  };
  for (const auto& c : cases) {
    const std::string replaced = target + "/" + c.replaced;
    const WalkRun r = extract(atFile(fileNumber(c.next), [&] {
      fs::remove_all(replaced);
      writeFileBytes(replaced, {1, 2, 3});
    }));
    EXPECT_FALSE(r.finished) << c.replaced;
    EXPECT_EQ(r.code, 0u) << c.replaced;
    EXPECT_EQ(r.box, MsgFolderFailed) << c.replaced;
    EXPECT_EQ(r.boxText, c.reported) << c.replaced;
    EXPECT_FALSE(r.tree.count(c.next)) << c.replaced;
  }
}

TEST_F(FolderWalk, AFailureBelowRememberedFoldersThatAreStillThereStands) {
  // Every make and every open of a file fails once in turn: with the
  // remembered folders all still there, the walk that looks makes nothing,
  // and the failure ends the run as it would without memory (no second try
  // that would hide it).
  const WalkRun clean = extract();
  ASSERT_TRUE(clean.finished);
  for (uint32_t call = 1; call <= clean.makes; ++call) {
    const std::string plan = "mkdir:" + std::to_string(call);
    const WalkRun r = extract(nullptr, plan.c_str());
    EXPECT_FALSE(r.finished) << plan;
    EXPECT_EQ(r.code, 0u) << plan;
    EXPECT_EQ(r.box, MsgFolderFailed) << plan;
    EXPECT_EQ(r.makes, call) << plan;  // not tried again, nothing made after it
  }
  for (uint32_t call = 1; call <= clean.opens; ++call) {
    const std::string plan = "open:" + std::to_string(call);
    const WalkRun r = extract(nullptr, plan.c_str());
    EXPECT_FALSE(r.finished) << plan;
    EXPECT_EQ(r.code, 1u) << plan;
    EXPECT_EQ(r.box, MsgWriteFailed) << plan;
    EXPECT_EQ(r.opens, call) << plan;
  }
}

}  // namespace
