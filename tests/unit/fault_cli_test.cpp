// `vellicor extract` with every failure of the system injected: the program
// built over the fault layer (vellicor_faulty) fails the k-th call of each
// kind, for every k. Each run must say which failure stopped it, exit with
// its code, print no summary, and leave only complete files; when the
// partly written file cannot be removed, it must say so.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "fault_support.h"
#include "platform/host/fault_layer.h"

namespace fs = std::filesystem;

namespace {

struct FaultCli : ::testing::Test {
  std::string dir;
  void SetUp() override {
    char tmpl[] = "/tmp/vellicor-faultcli-XXXXXX";
    dir = mkdtemp(tmpl);
    writeFileBytes(dir + "/a.exe", faultTestArchive());
  }
  void TearDown() override { fs::remove_all(dir); }

  ProgramRun extract(const std::string& plan, std::map<std::string, uint32_t>* counts = 0) {
    fs::remove_all(dir + "/out");
    std::vector<std::string> env = {"VELLICOR_FAULTS=" + plan};
    if (counts) env.push_back("VELLICOR_FAULT_COUNTS=" + dir + "/counts");
    ProgramRun r = runProgram(VELLICOR_FAULTY, {"extract", "a.exe", "-o", "out"}, dir, env);
    if (counts) {
      std::ifstream f(dir + "/counts");
      std::string kind;
      uint32_t n;
      while (f >> kind >> n) (*counts)[kind] = n;
    }
    return r;
  }
};

bool says(const ProgramRun& r, const std::string& text) { return r.err.find(text) != std::string::npos; }

TEST_F(FaultCli, EveryCallOfEveryKindIsReportedWithItsExitCode) {
  std::map<std::string, uint32_t> calls;
  const ProgramRun clean = extract("", &calls);
  ASSERT_EQ(clean.code, 0) << clean.err;
  ASSERT_EQ(treeBelow(dir + "/out"), faultTestTree());
  ASSERT_NE(clean.out.find("Extracted 5 files"), std::string::npos) << clean.out;

  for (auto& [kind, n] : calls) {
    for (uint32_t call = 1; call <= n; ++call) {
      for (const char* mode : {"", ":full"}) {
        if (*mode && kind != "write") continue;
        const std::string plan = kind + ":" + std::to_string(call) + mode;
        const ProgramRun r = extract(plan);
        const std::map<std::string, Bytes> tree = treeBelow(dir + "/out");
        expectFinishedPrefix(tree, plan);
        if (kind == "probe") {
          EXPECT_EQ(r.code, 0) << plan << r.err;
          EXPECT_EQ(tree, faultTestTree()) << plan;
          continue;
        }
        // Failed: code 4, the cause named, no summary, and a partly
        // written file reported as removed.
        EXPECT_EQ(r.code, 4) << plan << r.err;
        EXPECT_EQ(r.out, "") << plan;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << plan << r.err;
        const char* cause = *mode ? "No space left on device" : kind == "alloc" ? "not enough memory" : "Input/output error";
        EXPECT_TRUE(says(r, cause)) << plan << r.err;
        // The archive's own close is the last one.
        const bool writing = kind == "open" || kind == "write" || kind == "settimes" || (kind == "close" && call < n);
        const char* says_what = kind == "mkdir" ? "cannot create the folder \"out/"
                                : writing       ? "cannot write \"out/"
                                                : "cannot read ";
        EXPECT_TRUE(says(r, says_what)) << plan << r.err;
        if (says(r, "partly extracted")) {
          EXPECT_TRUE(says(r, "was removed.")) << plan << r.err;
        }
        if (kind == "write") {
          EXPECT_TRUE(says(r, "The partly extracted file \"out/")) << plan << r.err;
        }
      }
    }
  }
}

TEST_F(FaultCli, APartialFileThatCannotBeRemovedIsNamed) {
  std::map<std::string, uint32_t> calls;
  extract("", &calls);
  // The second piece of big.txt fails; removing what was written fails too.
  const ProgramRun r = extract("write:4:full,delete:1");
  EXPECT_EQ(r.code, 4) << r.err;
  EXPECT_TRUE(says(r, "cannot write \"out/big.txt\": No space left on device. The partly extracted file "
                      "\"out/big.txt\" could not be removed; it is incomplete."))
      << r.err;
  EXPECT_TRUE(fs::exists(dir + "/out/big.txt"));
  EXPECT_EQ(readFileBytes(dir + "/out/docs/readme.txt"), faultTestTree().at("docs/readme.txt"));
}

}  // namespace
