// vellicor pack against failures of the system and hostile inputs: a write
// of the output that fails or stops short (a full disk) at every point, a
// file or folder that cannot be read, a file that changes size while it is
// packed, the output inside an input folder or named as an input, and two
// inputs of the same name. Each ends with one error naming the path, its
// exit code, and no output file (nor a temporary one) left behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core_support.h"
#include "encode_support.h"
#include "pack_faults.h"
#include "tools/cli_commands.h"
#include "tools/embedded_stub.h"

namespace fs = std::filesystem;

// Archives here are made with --stub (the test stub).
const uint8_t* embeddedStub(uint32_t* size) {
  *size = 0;
  return nullptr;
}

namespace {

struct Packed {
  int code;
  std::string err;
};

struct PackFaults : ::testing::Test {
  std::string dir;
  void SetUp() override {
    char tmpl[] = "/tmp/vellicor-packfault-XXXXXX";
    dir = mkdtemp(tmpl);
    writeFileBytes(dir + "/stub.exe", testStubImage());
    resetPackFaults();
  }
  void TearDown() override {
    resetPackFaults();
    fs::remove_all(dir);
  }
  std::string at(const std::string& rel) const { return dir + "/" + rel; }
  void file(const std::string& rel, const Bytes& content) {
    fs::create_directories(fs::path(at(rel)).parent_path());
    writeFileBytes(at(rel), content);
  }
  // Runs pack in this process, in `dir`, with stderr caught (no terminal:
  // no progress line; a summary line when it succeeds).
  Packed pack(std::vector<std::string> args) {
    args.insert(args.begin(), {"pack", "--stub", "stub.exe"});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string old = fs::current_path();
    fs::current_path(dir);
    fflush(stderr);
    const int saved = dup(2);
    const int err = open(at("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(err, 2);
    close(err);
    const int code = cliPack((int)args.size(), argv.data());
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    fs::current_path(old);
    const Bytes text = readFileBytes(at("stderr"));
    fs::remove(at("stderr"));
    return {code, std::string(text.begin(), text.end())};
  }
  // Names in `rel` (the folder of the output): nothing partial or temporary.
  std::vector<std::string> namesIn(const std::string& rel) {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(at(rel))) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
};

// One error line, naming `path`.
void expectOneError(const Packed& p, const std::string& path, const std::string& why) {
  EXPECT_EQ(std::count(p.err.begin(), p.err.end(), '\n'), 1) << p.err;
  EXPECT_NE(p.err.find(path), std::string::npos) << p.err;
  EXPECT_NE(p.err.find(why), std::string::npos) << p.err;
}

TEST_F(PackFaults, EveryWriteOfTheOutputFailingOrStoppingShortLeavesNoOutput) {
  // Incompressible data, so the block stream is written in several pieces.
  for (int i = 0; i < 4; ++i) file("src/f" + std::to_string(i) + ".bin", noiseBytes(90000, i + 1));
  fs::create_directory(at("out"));
  ASSERT_EQ(pack({"-o", "out/a.exe", "src"}).code, 0);
  const Bytes good = readFileBytes(at("out/a.exe"));
  const uint32_t writes = packWrites;
  ASSERT_GE(writes, 5u);  // stub, header, pieces of the stream, the recorded size
  for (uint32_t k = 1; k <= writes; ++k) {
    for (bool full : {false, true}) {
      resetPackFaults();
      packFaults.failWriteAt = k;
      packFaults.fullDisk = full;
      const Packed p = pack({"-o", "out/a.exe", "src"});
      const std::string what = "write " + std::to_string(k) + (full ? " (full disk)" : "");
      EXPECT_EQ(p.code, 4) << what;
      expectOneError(p, "cannot write out/a.exe: ", full ? "No space left on device" : "Input/output error");
      // The archive made before is untouched; nothing else is there.
      EXPECT_EQ(namesIn("out"), std::vector<std::string>{"a.exe"}) << what;
      EXPECT_TRUE(readFileBytes(at("out/a.exe")) == good) << what;
    }
  }
  // Without an earlier archive nothing at all is left.
  fs::remove(at("out/a.exe"));
  resetPackFaults();
  packFaults.failWriteAt = writes - 1;
  packFaults.fullDisk = true;
  EXPECT_EQ(pack({"-o", "out/a.exe", "src"}).code, 4);
  EXPECT_TRUE(namesIn("out").empty());
}

TEST_F(PackFaults, AWriteThatTakesOnlyPartOfItsBytesIsContinued) {
  for (int i = 0; i < 3; ++i) file("src/f" + std::to_string(i) + ".bin", noiseBytes(70000, i + 7));
  ASSERT_EQ(pack({"-o", "good.exe", "src"}).code, 0);
  const Bytes good = readFileBytes(at("good.exe"));
  const uint32_t writes = packWrites;
  for (uint32_t k = 1; k <= writes; ++k) {
    resetPackFaults();
    packFaults.failWriteAt = k;
    packFaults.shortOnly = true;
    const Packed p = pack({"-o", "a.exe", "src"});
    ASSERT_EQ(p.code, 0) << "write " << k << ": " << p.err;
    EXPECT_TRUE(readFileBytes(at("a.exe")) == good) << "write " << k;
  }
}

TEST_F(PackFaults, InputsThatCannotBeReadAreNamed) {
  file("src/a.txt", Bytes(5000, 'a'));
  file("src/b.txt", Bytes(70000, 'b'));
  file("src/sub/c.txt", Bytes(10, 'c'));
  struct Case {
    std::string what;
    std::string* field;
    std::string path, shown, why;
  };
  const std::vector<Case> cases = {
      {"open", &packFaults.openFails, "src/a.txt", "cannot read src/a.txt: ", "Permission denied"},
      {"read", &packFaults.readFails, "src/b.txt", "cannot store src/b.txt: ", "Input/output error"},
      {"folder", &packFaults.folderOpenFails, "src/sub", "cannot read the folder src/sub: ", "Permission denied"},
      {"listing", &packFaults.folderListFails, "src/sub", "cannot read the folder src/sub: ", "Input/output error"},
  };
  for (const Case& c : cases) {
    resetPackFaults();
    *c.field = c.path;
    const Packed p = pack({"-o", "a.exe", "src"});
    EXPECT_EQ(p.code, 4) << c.what;
    expectOneError(p, c.shown, c.why);
    EXPECT_FALSE(fs::exists(at("a.exe"))) << c.what;
  }
  // A file the system refuses to read whoever asks (this process's own
  // memory at address 0), through a link among the inputs.
  resetPackFaults();
  fs::create_symlink("/proc/self/mem", at("src/mem"));
  const Packed p = pack({"-o", "a.exe", "src"});
  EXPECT_EQ(p.code, 4);
  expectOneError(p, "src/mem", "Input/output error");
  EXPECT_FALSE(fs::exists(at("a.exe")));
  EXPECT_EQ(namesIn(""), (std::vector<std::string>{"src", "stub.exe"}));
}

TEST_F(PackFaults, AFileThatGrowsOrShrinksWhilePackedIsRefused) {
  for (size_t size : {100, 30000, 200000}) {  // within the look-ahead, past it, past a read buffer
    for (bool grows : {true, false}) {
      resetPackFaults();
      file("src/changing.bin", noiseBytes(size, (uint32_t)size));
      (grows ? packFaults.grows : packFaults.shrinks) = "src/changing.bin";
      const Packed p = pack({"-o", "a.exe", "src"});
      const std::string what = std::to_string(size) + (grows ? " grows" : " shrinks");
      EXPECT_EQ(p.code, 4) << what;
      expectOneError(p, "cannot store src/changing.bin: ",
                     grows ? "it became longer while it was read" : "it became shorter while it was read");
      EXPECT_FALSE(fs::exists(at("a.exe"))) << what;
    }
  }
}

TEST_F(PackFaults, TheOutputInsideAnInputFolderIsLeftOutAndNeverAnInput) {
  file("src/a.txt", Bytes(100, 'a'));
  // Made inside the folder it packs: not stored, however often made.
  ASSERT_EQ(pack({"-o", "src/out.exe", "src"}).code, 0);
  const Packed again = pack({"-o", "src/out.exe", "src"});
  EXPECT_EQ(again.code, 0);
  EXPECT_NE(again.err.find("left out src/out.exe: it is the output file"), std::string::npos) << again.err;
  std::vector<ReadEntry> entries;
  ASSERT_EQ(readBack(readFileBytes(at("src/out.exe")), "", &entries), -1);
  ASSERT_EQ(entries.size(), 2u);  // src and src\a.txt
  EXPECT_EQ(entries[1].name, "src\\a.txt");

  // Named as an input itself, it would be replaced by an archive of nothing.
  const Bytes before = readFileBytes(at("src/a.txt"));
  const Packed self = pack({"-o", "src/a.txt", "src/a.txt"});
  EXPECT_EQ(self.code, 1);
  expectOneError(self, "src/a.txt", "is the output file; it cannot be packed into itself");
  EXPECT_TRUE(readFileBytes(at("src/a.txt")) == before);
}

TEST_F(PackFaults, TwoInputsOfTheSameNameAreRefused) {
  file("one/x/a.txt", Bytes(10, '1'));
  file("two/x/b.txt", Bytes(10, '2'));
  file("two/X/c.txt", Bytes(10, '3'));
  for (auto& second : {"two/x", "two/X"}) {
    const Packed p = pack({"-o", "a.exe", "one/x", second});
    EXPECT_EQ(p.code, 1) << second;
    expectOneError(p, "two inputs would be stored under the same name", std::string(second).substr(4));
    EXPECT_FALSE(fs::exists(at("a.exe"))) << second;
  }
}

}  // namespace
