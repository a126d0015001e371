// vellicor pack --exclude and --files-from, run in a process of their own
// (a working folder, standard input and standard error each): what is left
// out and what is never read, lists with blank lines, CR LF and NUL bytes,
// and the inputs that exclusions empty.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core_support.h"
#include "encode_support.h"
#include "tools/cli_commands.h"

namespace fs = std::filesystem;

namespace {

struct Packed {
  int code;
  std::string err;
};

struct PackExclude : ::testing::Test {
  std::string dir, stub;
  void SetUp() override {
    char tmpl[] = "/tmp/vellicor-exclude-XXXXXX";
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
  // pack in `dir`, with `input` as standard input (warnings and the summary
  // on standard error).
  Packed pack(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), {"pack", "--stub", stub});
    writeFileBytes(dir + "/stdin", Bytes(input.begin(), input.end()));
    const pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir.c_str()) != 0 || !freopen("stdin", "rb", stdin) || !freopen("stderr", "wb", stderr)) _exit(120);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      const int code = cliPack((int)args.size(), argv.data());
      fflush(stderr);
      _exit(code);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const Bytes err = readFileBytes(dir + "/stderr");
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128, std::string(err.begin(), err.end())};
  }
  std::vector<std::string> names(const std::string& archive) {
    std::vector<ReadEntry> back;
    EXPECT_EQ(readBack(readFileBytes(dir + "/" + archive), "", &back), -1);
    std::vector<std::string> out;
    for (auto& e : back) out.push_back(e.name);
    return out;
  }
};

TEST_F(PackExclude, PatternsLeaveOutNamesAtAnyDepthAnchoredPathsAndFoldersUnread) {
  write("src/main.c", "int main;");
  write("src/main.o", "obj");
  write("src/lib/util.o", "obj");
  write("src/lib/util.c", "util");
  write("src/.git/config", "git");
  write("src/docs/a.tmp", "tmp");
  write("src/docs/keep.txt", "keep");
  write("src/sub/docs/a.tmp", "deeper tmp");
  write("src/build", "a file named build");
  write("src/lib/build/out.bin", "out");
  // A name that cannot be stored, inside an excluded folder: never read.
  write("src/.git/bad\xFF", "no code page 932 form");

  Packed p = pack({"-o", "a.exe", "--exclude", ".git", "--exclude=*.o", "--exclude", "docs/*.tmp", "--exclude",
                   "build/", "src"});
  ASSERT_EQ(p.code, 0) << p.err;
  EXPECT_EQ(names("a.exe"),
            (std::vector<std::string>{"src\\.", "src\\build", "src\\docs\\.", "src\\docs\\keep.txt", "src\\lib\\.",
                                      "src\\lib\\util.c", "src\\main.c", "src\\sub\\.", "src\\sub\\docs\\.",
                                      "src\\sub\\docs\\a.tmp"}));
  // "**" reaches any depth; a leading "/" anchors at the input.
  p = pack({"-o", "b.exe", "--exclude", "**/docs/*.tmp", "--exclude", "/lib", "--exclude", ".git", "src"});
  ASSERT_EQ(p.code, 0) << p.err;
  EXPECT_EQ(names("b.exe"),
            (std::vector<std::string>{"src\\.", "src\\build", "src\\docs\\.", "src\\docs\\keep.txt", "src\\main.c",
                                      "src\\main.o", "src\\sub\\.", "src\\sub\\docs\\."}));
  EXPECT_EQ(p.err.find("warning"), std::string::npos) << p.err;
}

TEST_F(PackExclude, AnInputEmptiedByExclusionsIsStoredEmptyWithAWarningAndNothingAtAllIsRefused) {
  write("src/a.txt", "a");
  write("src/deep/b.txt", "b");
  write("other/c.txt", "c");
  Packed p = pack({"-o", "a.exe", "--exclude", "*", "src", "other/c.txt"});
  ASSERT_EQ(p.code, 0) << p.err;
  EXPECT_NE(p.err.find("warning: everything below src was excluded; it is stored as an empty folder"),
            std::string::npos)
      << p.err;
  // A file named on the command line is never excluded.
  EXPECT_EQ(names("a.exe"), (std::vector<std::string>{"src\\.", "c.txt"}));

  // Every listed path excluded: nothing to store, no output made.
  p = pack({"-o", "b.exe", "--exclude", "*.txt", "--files-from", "-"}, "src/a.txt\nother/c.txt\n");
  EXPECT_EQ(p.code, 1);
  EXPECT_NE(p.err.find("nothing to pack"), std::string::npos) << p.err;
  EXPECT_FALSE(fs::exists(dir + "/b.exe"));
  p = pack({"-o", "b.exe", "--files-from", "-"}, "\n\n");
  EXPECT_EQ(p.code, 1);
  EXPECT_NE(p.err.find("name no paths"), std::string::npos) << p.err;
  EXPECT_EQ(pack({"-o", "b.exe", "--exclude", "/", "src"}).code, 1);
  EXPECT_EQ(pack({"-o", "b.exe", "--null", "src"}).code, 1);  // --null without a list
}

TEST_F(PackExclude, ListedPathsAreStoredAsWrittenInTheListsOrder) {
  write("site/index.html", "<html>");
  write("site/img/logo.png", "png");
  write("site/img/logo.o", "obj");
  write("site/.git/HEAD", "ref");
  fs::create_directories(dir + "/site/empty");
  write("notes.txt", "notes");

  // Lines: blank and space-only lines skipped, a CR LF end taken off.
  Packed p = pack({"-o", "a.exe", "--files-from", "list.txt"}, "");
  EXPECT_EQ(p.code, 4);  // no such list
  write("list.txt", "site/img/logo.png\r\n\n   \nnotes.txt\n./site//index.html\nsite/empty/\n");
  p = pack({"-o", "a.exe", "--files-from", "list.txt"});
  ASSERT_EQ(p.code, 0) << p.err;
  EXPECT_EQ(names("a.exe"),
            (std::vector<std::string>{"site\\img\\logo.png", "notes.txt", "site\\index.html", "site\\empty\\."}));

  // What find . -print0 writes, with exclusions; "." itself is no entry.
  const char found[] = ".\0./site\0./site/.git\0./site/.git/HEAD\0./site/img\0./site/img/logo.o\0"
                       "./site/img/logo.png\0./notes.txt\0";
  p = pack({"-o", "b.exe", "--files-from", "-", "--null", "--exclude", ".git", "--exclude", "*.o"},
           std::string(found, sizeof found - 1));
  ASSERT_EQ(p.code, 0) << p.err;
  EXPECT_EQ(names("b.exe"),
            (std::vector<std::string>{"site\\.", "site\\img\\.", "site\\img\\logo.png", "notes.txt"}));
  // The same list without --null is refused, not misread.
  p = pack({"-o", "c.exe", "--files-from", "-"}, std::string(found, sizeof found - 1));
  EXPECT_EQ(p.code, 1);
  EXPECT_NE(p.err.find("--null"), std::string::npos) << p.err;

  // An input folder and a list that both bring a file, a path outside the
  // current folder: refused.
  p = pack({"-o", "c.exe", "--files-from", "-", "site"}, "site/index.html\n");
  EXPECT_EQ(p.code, 1);
  EXPECT_NE(p.err.find("site/index.html would be stored twice"), std::string::npos) << p.err;
  EXPECT_EQ(pack({"-o", "c.exe", "--files-from", "-"}, "../x\n").code, 1);
  EXPECT_EQ(pack({"-o", "c.exe", "--files-from", "-"}, "/etc/hostname\n").code, 1);
  EXPECT_EQ(pack({"-o", "c.exe", "--files-from", "-"}, "missing.txt\n").code, 4);
  EXPECT_FALSE(fs::exists(dir + "/c.exe"));
}

}  // namespace
