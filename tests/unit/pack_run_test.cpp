// The packing engine on its own (encode/pack_run.h), as a window would call
// it: the same bytes as `vellicor pack`, progress that reaches the totals, a
// cancel flag that stops every path of the run, and failures that name
// their input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core_support.h"
#include "encode/pack_run.h"
#include "encode_support.h"
#include "tools/cli_commands.h"
#include "tools/pack_inputs.h"
#include "tools/pack_system.h"

namespace fs = std::filesystem;

namespace {

struct PackRunTest : ::testing::Test {
  std::string dir, stub;
  void SetUp() override {
    char tmpl[] = "/tmp/vellicor-run-XXXXXX";
    dir = mkdtemp(tmpl);
    stub = dir + "/stub.exe";
    writeFileBytes(stub, testStubImage());
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  void write(const std::string& rel, const std::string& content) {
    fs::create_directories(fs::path(dir + "/" + rel).parent_path());
    std::ofstream(dir + "/" + rel, std::ios::binary) << content;
  }
  // A tree of text files with a few larger ones.
  void writeTree(int files, size_t lines) {
    for (int i = 0; i < files; ++i) {
      std::string text;
      for (size_t k = 0; k < lines * (1 + i % 5); ++k) text += "entry " + std::to_string(k * (i + 7) % 977) + " of run\n";
      write("t/d" + std::to_string(i % 3) + "/f" + std::to_string(i), text);
    }
  }
  std::vector<PackInput> inputsOf(const std::string& root) {
    CollectResult r;
    collectInputs({root}, ~0ull, ~0ull, &r);
    EXPECT_EQ(r.error, "");
    return r.items;
  }
  int packCommand(std::vector<std::string> args) {
    args.insert(args.begin(), {"pack", "-q", "--stub", stub});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return cliPack((int)args.size(), argv.data());
  }
};

struct Seen {
  std::vector<PackProgress> reports;
  std::atomic<bool> cancel{false};
  size_t cancelAfter = ~(size_t)0;  // reports before the flag is set
};

void onProgress(void* context, const PackProgress& p) {
  Seen* s = (Seen*)context;
  s->reports.push_back(p);
  if (s->reports.size() >= s->cancelAfter) s->cancel = true;
}

PackRun runOf(const std::vector<PackInput>* inputs, const Bytes& stub, int fd, Seen* seen, int threads) {
  PackRun run;
  run.inputs = inputs;
  run.settings.stub = stub.data();
  run.settings.threads = threads;
  run.fd = fd;
  run.openInput = packOpenInput;
  run.progress = onProgress;
  run.progressContext = seen;
  run.cancel = &seen->cancel;
  return run;
}

TEST_F(PackRunTest, WritesWhatPackWritesAndReportsProgressUpToTheTotals) {
  writeTree(24, 300);
  const std::vector<PackInput> inputs = inputsOf(dir + "/t");
  for (int threads : {1, 3}) {
    ASSERT_EQ(packCommand({"-j", std::to_string(threads), "--comment", "c", "-o", dir + "/cli.exe", dir + "/t"}), 0);
    const int fd = open((dir + "/run.exe").c_str(), O_CREAT | O_TRUNC | O_RDWR, 0644);
    ASSERT_GE(fd, 0);
    Seen seen;
    PackRun run = runOf(&inputs, testStubImage(), fd, &seen, threads);
    run.settings.comment = "c";
    PackRunResult result;
    ASSERT_TRUE(runPack(run, &result)) << (int)result.failure;
    close(fd);
    EXPECT_EQ(result.failure, PackOk);
    EXPECT_EQ(readFileBytes(dir + "/run.exe"), readFileBytes(dir + "/cli.exe")) << threads;
    EXPECT_EQ(result.totalSize, readFileBytes(dir + "/run.exe").size());
    EXPECT_EQ(result.stats.files, 24u);
    ASSERT_FALSE(seen.reports.empty());
    const PackProgress last = seen.reports.back();
    EXPECT_EQ(last.doneFiles, 24u);
    EXPECT_EQ(last.totalFiles, 24u);
    EXPECT_EQ(last.codedBytes, last.totalBytes);
    EXPECT_EQ(last.totalBytes, result.stats.inputBytes);
  }
}

TEST_F(PackRunTest, TheCancelFlagStopsHeldStreamedAndThreadedRunsAlike) {
  writeTree(30, 2000);
  const std::vector<PackInput> inputs = inputsOf(dir + "/t");
  struct Way {
    int threads;
    uint64_t heldBytes;  // 1: every file is streamed
    size_t cancelAfter;
  } ways[] = {{1, kDefaultHeldBytes, 3}, {4, kDefaultHeldBytes, 3}, {1, 1, 3}, {4, 1, 5}, {1, kDefaultHeldBytes, 0},
              {4, kDefaultHeldBytes, 0}};
  for (const Way& way : ways) {
    const int fd = open((dir + "/run.exe").c_str(), O_CREAT | O_TRUNC | O_RDWR, 0644);
    ASSERT_GE(fd, 0);
    Seen seen;
    seen.cancelAfter = way.cancelAfter;
    if (!way.cancelAfter) seen.cancel = true;  // set before the run starts
    PackRun run = runOf(&inputs, testStubImage(), fd, &seen, way.threads);
    run.settings.heldBytes = way.heldBytes;
    PackRunResult result;
    EXPECT_FALSE(runPack(run, &result));
    close(fd);
    EXPECT_EQ(result.failure, PackCancelled) << way.threads << " " << way.heldBytes;
    // Nothing after the cancel: no further file was read and no archive completed.
    EXPECT_LE(seen.reports.size(), way.cancelAfter + 2) << way.threads << " " << way.heldBytes;
    const Bytes written = readFileBytes(dir + "/run.exe");
    EXPECT_EQ(written.size() >= 26116 ? written[26112] | written[26113] << 8 : 0, 0);  // no expected size
  }
}

TEST_F(PackRunTest, AnInputThatWillNotOpenOrChangesIsNamedWithTheReason) {
  writeTree(6, 50);
  const std::vector<PackInput> inputs = inputsOf(dir + "/t");
  static std::string failing;
  failing = inputs[3].hostPath;
  ASSERT_FALSE(inputs[3].folder);
  for (int threads : {1, 2}) {
    const int fd = open((dir + "/run.exe").c_str(), O_CREAT | O_TRUNC | O_RDWR, 0644);
    Seen seen;
    PackRun run = runOf(&inputs, testStubImage(), fd, &seen, threads);
    run.openInput = [](const std::string& path, uint32_t* error) -> int {
      if (path == failing) {
        *error = 13;
        return -1;
      }
      return packOpenInput(path, error);
    };
    PackRunResult result;
    EXPECT_FALSE(runPack(run, &result));
    close(fd);
    EXPECT_EQ(result.failure, PackCannotOpen);
    EXPECT_EQ(result.input, failing);
    EXPECT_EQ(result.systemError, 13u);
  }
  // A file shorter than when the inputs were collected.
  write("t/d0/f0", "short");
  const int fd = open((dir + "/run.exe").c_str(), O_CREAT | O_TRUNC | O_RDWR, 0644);
  Seen seen;
  PackRunResult result;
  EXPECT_FALSE(runPack(runOf(&inputs, testStubImage(), fd, &seen, 1), &result));
  close(fd);
  EXPECT_EQ(result.failure, PackCannotStore);
  EXPECT_EQ(result.detail, "it became shorter while it was read");
  EXPECT_EQ(fs::path(result.input).filename(), "f0");
}

}  // namespace
