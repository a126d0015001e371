// Every failure of the system during an extraction, injected through the
// fault layer under the core: the k-th call of each kind fails, for every k
// of a small multi-file extraction. Each run must end with the message and
// exit code of that failure, leave no partly written file, keep the files
// finished before it intact, and never end as done.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
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

struct Outcome {
  bool finished;  // extractAll returned (no fatal exit)
  uint32_t code;
  MessageId box;  // the last message box
  std::map<std::string, Bytes> tree;
};

struct FaultExtract : ::testing::Test {
  std::string dir, archive, old;
  void SetUp() override {
    char tmpl[] = "/tmp/vellicor-faults-XXXXXX";
    dir = mkdtemp(tmpl);
    archive = dir + "/a.exe";
    writeFileBytes(archive, faultTestArchive());
    old = fs::current_path();
  }
  void TearDown() override {
    fs::current_path(old);
    fs::remove_all(dir);
    faultReset();
  }

  // Opens the archive as start-up does, arms `plan`, extracts into a fresh
  // folder and reports how the run ended and what it left.
  Outcome extract(const char* plan) {
    const std::string target = dir + "/t";
    startCoreRun(archive, target);
    faultReset();
    EXPECT_TRUE(faultArmFromText(plan)) << plan;
    Outcome r = {false, 0, MsgFinished, {}};
    try {
      extractAll(".\\");
      r.finished = true;
    } catch (const scripted::Exit& e) {
      r.code = e.code;
    }
    if (!scripted::boxes.empty()) r.box = scripted::boxes.back().id;
    fs::current_path(old);
    r.tree = treeBelow(target);
    return r;
  }
};

std::string plan(FaultKind kind, uint32_t call, const char* more = "") {
  return std::string(faultKindName(kind)) + ":" + std::to_string(call) + more;
}

TEST_F(FaultExtract, EveryCallOfEveryKindFailsCleanly) {
  const Outcome clean = extract("");
  ASSERT_TRUE(clean.finished);
  ASSERT_EQ(clean.tree, faultTestTree());
  uint32_t calls[FaultKindCount];
  for (int k = 0; k < FaultKindCount; ++k) calls[k] = faultCalls((FaultKind)k);
  // The extraction makes each kind of call at least once, apart from
  // deleting (only failures delete).
  for (FaultKind k : {FaultOpen, FaultRead, FaultWrite, FaultClose, FaultSetTimes, FaultMakeFolder, FaultProbe,
                      FaultQuery, FaultAlloc})
    EXPECT_GT(calls[k], 0u) << faultKindName(k);

  for (int kind = 0; kind < FaultKindCount; ++kind) {
    for (uint32_t call = 1; call <= calls[kind]; ++call) {
      const std::string p = plan((FaultKind)kind, call);
      const Outcome r = extract(p.c_str());
      EXPECT_EQ(faultsStruck(), 1u) << p;
      // Whatever happened, nothing partial is left: every file there is
      // complete, and they are the files before the failure.
      expectFinishedPrefix(r.tree, p);
      switch (kind) {
        case FaultProbe:
          // A failed search finds nothing; where something is, making it
          // fails and a second probe finds it: the run goes on.
          EXPECT_TRUE(r.finished) << p;
          EXPECT_EQ(r.tree, faultTestTree()) << p;
          break;
        case FaultMakeFolder:
          EXPECT_FALSE(r.finished) << p;
          EXPECT_EQ(r.code, 0u) << p;
          EXPECT_EQ(r.box, MsgFolderFailed) << p;
          break;
        case FaultOpen:
        case FaultWrite:
        case FaultSetTimes:
          EXPECT_FALSE(r.finished) << p;
          EXPECT_EQ(r.code, 1u) << p;
          EXPECT_EQ(r.box, MsgWriteFailed) << p;
          break;
        case FaultClose:
          // The last close is the archive's, after every file is done.
          EXPECT_FALSE(r.finished) << p;
          EXPECT_EQ(r.code, 1u) << p;
          EXPECT_EQ(r.box, call == calls[kind] ? MsgReadFailed : MsgWriteFailed) << p;
          if (call == calls[kind]) {
            EXPECT_EQ(r.tree, faultTestTree()) << p;
          }
          break;
        default:  // read, size and position queries, memory
          EXPECT_FALSE(r.finished) << p;
          EXPECT_EQ(r.code, 1u) << p;
          EXPECT_TRUE(r.box == MsgReadFailed || r.box == MsgDamaged) << p;
          break;
      }
    }
  }
}

TEST_F(FaultExtract, AFullDiskInTheMiddleOfAFileLeavesNothingOfIt) {
  extract("");
  const uint32_t writes = faultCalls(FaultWrite);
  for (uint32_t call = 1; call <= writes; ++call) {
    const std::string p = plan(FaultWrite, call, ":full");
    const Outcome r = extract(p.c_str());
    EXPECT_FALSE(r.finished) << p;
    EXPECT_EQ(r.code, 1u) << p;
    EXPECT_EQ(r.box, MsgWriteFailed) << p;
    expectFinishedPrefix(r.tree, p);
    EXPECT_LT(r.tree.size(), faultTestTree().size()) << p;

    // The same, and closing the partly written file fails too: it goes all
    // the same. Closing it is the last close of that run.
    extract(p.c_str());
    const std::string twice = p + "," + plan(FaultClose, faultCalls(FaultClose));
    const Outcome r2 = extract(twice.c_str());
    EXPECT_EQ(faultsStruck(), 2u) << twice;
    EXPECT_EQ(r2.tree, r.tree) << twice;
  }
}

TEST_F(FaultExtract, AFileWhoseCloseFailedDoesNotStay) {
  extract("");
  const uint32_t closes = faultCalls(FaultClose);
  for (uint32_t call = 1; call < closes; ++call) {  // every output file's close
    const std::string p = plan(FaultClose, call);
    const Outcome r = extract(p.c_str());
    EXPECT_EQ(r.box, MsgWriteFailed) << p;
    expectFinishedPrefix(r.tree, p);
    EXPECT_EQ(r.tree.size(), entriesBeforeFile(call)) << p;
  }
}

TEST_F(FaultExtract, WhenDeletingFailsThePartialFileIsAllThatStays) {
  extract("");
  const uint32_t writes = faultCalls(FaultWrite);
  for (uint32_t call = 1; call <= writes; ++call) {
    const std::string p = plan(FaultWrite, call, ":full,delete:1");
    const Outcome r = extract(p.c_str());
    EXPECT_EQ(faultsStruck(), 2u) << p;
    EXPECT_EQ(r.code, 1u) << p;
    // The files finished before it, and the one being written.
    const std::vector<std::string>& order = faultTestOrder();
    size_t last = 0;
    for (size_t i = 0; i < order.size(); ++i)
      if (r.tree.count(order[i])) last = i;
    ASSERT_NE(order[last].back(), '/') << p;
    std::map<std::string, Bytes> finished = r.tree;
    finished.erase(order[last]);
    expectFinishedPrefix(finished, p);
    EXPECT_EQ(finished.size(), last) << p;
  }
}

}  // namespace
