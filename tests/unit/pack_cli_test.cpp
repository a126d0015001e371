// vellicor pack end to end (in-process, with a test stub): what it stores,
// in which order and with which names and times, what it refuses, and that
// it never leaves a partial output behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/app_state.h"
#include "core_support.h"
#include "decode/crc.h"
#include "encode/stub_icon.h"
#include "encode_support.h"
#include "icon_support.h"
#include "tools/cli_commands.h"
#include "tools/embedded_stub.h"
#include "tools/pack_inputs.h"

namespace fs = std::filesystem;

// The program's built-in stub is the build's real stub; here a short one
// shows that a stub of the wrong size is refused.
const uint8_t* embeddedStub(uint32_t* size) {
  static const uint8_t bytes[10] = {'M', 'Z'};
  *size = sizeof bytes;
  return bytes;
}

namespace {

struct PackCli : ::testing::Test {
  std::string dir, stub;
  void SetUp() override {
    char tmpl[] = "/tmp/vellicor-pack-XXXXXX";
    dir = mkdtemp(tmpl);
    stub = dir + "/stub.exe";
    writeFileBytes(stub, testStubImage());
    unsetenv("VELLICOR_PASSWORD");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
    unsetenv("VELLICOR_PASSWORD");
  }
  void write(const std::string& rel, const std::string& content) {
    fs::create_directories(fs::path(dir + "/" + rel).parent_path());
    std::ofstream(dir + "/" + rel, std::ios::binary) << content;
  }
  int pack(std::vector<std::string> args) {
    args.insert(args.begin(), {"pack", "-q", "--stub", stub});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return cliPack((int)args.size(), argv.data());
  }
  // Files in the work folder other than the given ones (leftovers).
  std::vector<std::string> othersIn(const std::string& folder, std::initializer_list<std::string> known) {
    std::vector<std::string> found;
    for (auto& e : fs::directory_iterator(folder)) {
      std::string n = e.path().filename();
      if (std::find(known.begin(), known.end(), n) == known.end()) found.push_back(n);
    }
    return found;
  }
};

TEST_F(PackCli, StoresFoldersFirstSortedWithCp932NamesAndTimes) {
  write("site/b.txt", "bee");
  write("site/A.txt", "upper");
  write("site/\xE8\xB3\x87\xE6\x96\x99/\xE8\xA1\xA8.txt", "table");  // 資料/表.txt
  fs::create_directories(dir + "/site/empty");
  write("single.bin", std::string(100000, 'q'));
  struct timespec times[2] = {{1000000000, 123456700}, {1200000000, 987654300}};
  ASSERT_EQ(utimensat(AT_FDCWD, (dir + "/site/b.txt").c_str(), times, 0), 0);

  ASSERT_EQ(pack({"-o", dir + "/out.exe", dir + "/site/", dir + "/single.bin"}), 0);
  std::vector<ReadEntry> back;
  ASSERT_EQ(readBack(readFileBytes(dir + "/out.exe"), "", &back), -1);
  std::vector<std::string> names;
  for (auto& e : back) names.push_back(e.name);
  const std::vector<std::string> expected = {
      "site\\.", "site\\A.txt", "site\\b.txt", "site\\empty\\.",
      "site\\\x8E\x91\x97\xBF\\.", "site\\\x8E\x91\x97\xBF\\\x95\x5C.txt", "single.bin"};
  EXPECT_EQ(names, expected);
  EXPECT_EQ(back[2].content, Bytes({'b', 'e', 'e'}));
  EXPECT_EQ(back[2].lastAccess, 116444736000000000ull + 10000000000000000ull + 1234567);
  EXPECT_EQ(back[2].lastWrite, 116444736000000000ull + 12000000000000000ull + 9876543);
  EXPECT_EQ(back[6].content, Bytes(100000, 'q'));
  EXPECT_TRUE(othersIn(dir, {"site", "single.bin", "stub.exe", "out.exe"}).empty());
}

TEST_F(PackCli, SameInputGivesTheSameBytes) {
  for (int i = 0; i < 40; ++i) write("t/f" + std::to_string(i), std::string(i * 300, (char)('a' + i % 7)) + "end");
  ASSERT_EQ(pack({"-o", dir + "/one.exe", dir + "/t"}), 0);
  ASSERT_EQ(pack({"-o", dir + "/two.exe", dir + "/t"}), 0);
  EXPECT_EQ(readFileBytes(dir + "/one.exe"), readFileBytes(dir + "/two.exe"));
  // Packing again into an output inside the input leaves the output out.
  ASSERT_EQ(pack({"-o", dir + "/t/self.exe", dir + "/t"}), 0);
  ASSERT_EQ(pack({"-o", dir + "/t/self.exe", dir + "/t"}), 0);
  std::vector<ReadEntry> back;
  ASSERT_EQ(readBack(readFileBytes(dir + "/t/self.exe"), "", &back), -1);
  EXPECT_EQ(back.size(), 41u);
}

TEST_F(PackCli, EveryThreadCountGivesTheSameBytes) {
  for (int i = 0; i < 30; ++i) {
    std::string text;
    for (int k = 0; k < 200 + 97 * i; ++k) text += "line " + std::to_string(k * (i + 3) % 101) + "\n";
    write("t/d" + std::to_string(i % 4) + "/f" + std::to_string(i), text);
  }
  ASSERT_EQ(pack({"-j", "1", "-o", dir + "/one.exe", dir + "/t"}), 0);
  ASSERT_EQ(pack({"-o", dir + "/default.exe", dir + "/t"}), 0);
  ASSERT_EQ(pack({"-j3", "-o", dir + "/three.exe", dir + "/t"}), 0);
  ASSERT_EQ(pack({"--threads=16", "-o", dir + "/many.exe", dir + "/t"}), 0);
  const Bytes one = readFileBytes(dir + "/one.exe");
  EXPECT_EQ(readFileBytes(dir + "/default.exe"), one);
  EXPECT_EQ(readFileBytes(dir + "/three.exe"), one);
  EXPECT_EQ(readFileBytes(dir + "/many.exe"), one);
  std::vector<ReadEntry> back;
  ASSERT_EQ(readBack(one, "", &back), -1);
  EXPECT_EQ(back.size(), 35u);
  for (const char* bad : {"0", "x", "257", ""}) EXPECT_EQ(pack({"-j", bad, "-o", dir + "/bad.exe", dir + "/t"}), 1);
  EXPECT_TRUE(othersIn(dir, {"t", "stub.exe", "one.exe", "default.exe", "three.exe", "many.exe"}).empty());
}

TEST_F(PackCli, CommentLaunchAndPassword) {
  write("a/readme.txt", "read me");
  write("note.txt", "\xEF\xBB\xBFline one\nline two\r\n\xE6\x97\xA5\xE6\x9C\xAC\n");  // BOM, LF, CRLF, 日本
  setenv("VELLICOR_PASSWORD", "s\xC3\xA9" "cret", 1);  // é has a code page 932 form? no: refused
  EXPECT_EQ(pack({"-o", dir + "/x.exe", "--password", dir + "/a"}), 1);
  setenv("VELLICOR_PASSWORD", "\xE7\xA7\x98\xE5\xAF\x86", 1);  // 秘密
  ASSERT_EQ(pack({"-o", dir + "/x.exe", "--comment-file", dir + "/note.txt", "--launch", "a/readme.txt",
                  "--password", "--mask", dir + "/a"}),
            0);
  const Bytes archive = readFileBytes(dir + "/x.exe");
  std::vector<ReadEntry> back;
  std::string comment, launch;
  const std::string key = "\x94\xE9\x96\xA7";  // 秘密 in code page 932
  ASSERT_EQ(readBack(archive, key, &back, &comment, &launch), -1);
  EXPECT_EQ(comment, "line one\r\nline two\r\n\x93\xFA\x96\x7B\r\n");
  EXPECT_EQ(launch, "a\\readme.txt");
  EXPECT_EQ(back.at(1).content, Bytes({'r', 'e', 'a', 'd', ' ', 'm', 'e'}));
  // Flags 1 (masked box) and the check value right after the two strings.
  const size_t flagsAt = kStubSize + 4 + comment.size() + 1 + launch.size() + 1;
  EXPECT_EQ(archive[flagsAt], 1);
  const uint16_t check = (uint16_t)(crc16(key.data(), (uint32_t)key.size()) ^ 0x0101);
  EXPECT_EQ(archive[flagsAt + 1] | archive[flagsAt + 2] << 8, check);

  // Without --mask the flag byte is 2; --password-file takes the first line.
  write("pw.txt", "line\nignored\n");
  ASSERT_EQ(pack({"-o", dir + "/y.exe", "--comment", "hi", "--password-file", dir + "/pw.txt", dir + "/a"}), 0);
  ASSERT_EQ(readBack(readFileBytes(dir + "/y.exe"), "line", &back, &comment), -1);
  EXPECT_EQ(comment, "hi");
  EXPECT_EQ(readFileBytes(dir + "/y.exe")[kStubSize + 4 + 3 + 1], 2);
}

TEST_F(PackCli, RefusalsLeaveNoOutput) {
  write("ok/file.txt", "fine");
  const std::string out = dir + "/out.exe";
  setenv("VELLICOR_PASSWORD", "", 1);
  EXPECT_EQ(pack({"-o", out, "--password", dir + "/ok"}), 1);  // empty password
  unsetenv("VELLICOR_PASSWORD");
  EXPECT_EQ(pack({"-o", out, dir + "/missing"}), 4);            // cannot be read
  EXPECT_EQ(pack({"-o", out}), 1);                              // nothing to pack
  EXPECT_EQ(pack({dir + "/ok"}), 1);                            // no output
  EXPECT_EQ(pack({"-o", out, "--mask", dir + "/ok"}), 1);       // mask without password
  EXPECT_EQ(pack({"-o", out, "--level", "9", dir + "/ok"}), 1);
  EXPECT_EQ(pack({"-o", out, "--comment", "a", "--comment-file", dir + "/ok/file.txt", dir + "/ok"}), 1);
  write("bad/what?.txt", "x");
  EXPECT_EQ(pack({"-o", out, dir + "/bad"}), 1);
  fs::remove_all(dir + "/bad");
  write("bad/trailing.", "x");
  EXPECT_EQ(pack({"-o", out, dir + "/bad"}), 1);
  fs::remove_all(dir + "/bad");
  write("bad/\xF0\x9F\x98\x80.txt", "x");  // an emoji: no code page 932 form
  EXPECT_EQ(pack({"-o", out, dir + "/bad"}), 1);
  fs::remove_all(dir + "/bad");
  write("bad/aux.c", "x");
  EXPECT_EQ(pack({"-o", out, dir + "/bad"}), 1);
  fs::remove_all(dir + "/bad");
  // Names whose code page 932 form holds the folder separator: a yen sign
  // (written as 0x5C) and a backslash that POSIX allows in a name. Either
  // would be stored as a folder "bad\price" holding a file "100.txt".
  for (const char* name : {"bad/price\xC2\xA5" "100.txt", "bad/price\\100.txt"}) {
    write(name, "x");
    EXPECT_EQ(pack({"-o", out, dir + "/bad"}), 1) << name;
    fs::remove_all(dir + "/bad");
  }
  // A listed path is refused for its name before it is looked for (a
  // missing file would be exit code 4).
  write("list.txt", "ok/price\xC2\xA5" "100.txt\n");
  EXPECT_EQ(pack({"-o", out, "--files-from", dir + "/list.txt"}), 1);
  fs::remove(dir + "/list.txt");
  // 2,147,483,648 bytes (sparse): refused before anything is read.
  {
    int fd = ::open((dir + "/huge.bin").c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_EQ(ftruncate(fd, 2147483648ll), 0);
    ::close(fd);
  }
  EXPECT_EQ(pack({"-o", out, dir + "/huge.bin"}), 1);
  fs::remove(dir + "/huge.bin");
  // The built-in stub of this test program is not 26,112 bytes.
  std::vector<std::string> args = {"pack", "-q", "-o", out, dir + "/ok"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  EXPECT_EQ(cliPack((int)argv.size(), argv.data()), 1);
  EXPECT_TRUE(othersIn(dir, {"ok", "stub.exe", "bad"}).empty());
}

TEST_F(PackCli, InterruptRemovesTheTemporaryOutput) {
  // Random data codes slowly enough to be caught in the middle.
  {
    std::ofstream f(dir + "/big.bin", std::ios::binary);
    uint32_t x = 1;
    std::string chunk(1 << 20, '\0');
    for (int m = 0; m < 48; ++m) {
      for (auto& c : chunk) c = (char)((x = x * 1103515245u + 12345u) >> 16);
      f << chunk;
    }
  }
  const std::string out = dir + "/out.exe";
  pid_t child = fork();
  if (child == 0) _exit(pack({"-o", out, dir + "/big.bin"}));
  // Wait until the temporary file exists, then interrupt.
  bool started = false;
  for (int i = 0; i < 400 && !started; ++i) {
    usleep(10000);
    started = othersIn(dir, {"big.bin", "stub.exe"}).size() == 1;
  }
  EXPECT_TRUE(started);
  kill(child, SIGINT);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 6);
  EXPECT_TRUE(othersIn(dir, {"big.bin", "stub.exe"}).empty());
}

TEST(PackInputs, WindowsNameRules) {
  for (const char* ok : {"a.txt", "\x95\x5C", "\x83\x7C.txt", ".hidden", "console", "COM10", "a b"})
    EXPECT_EQ(windowsNameProblem(ok), "") << ok;
  for (const char* bad : {"", "a:b", "a*", "q?", "x<y", "pipe|", "quote\"", "back\\slash", "dot.", "space ",
                          "CON", "con.txt", "con.tar.gz", "Nul", "lpt1.log", "COM9", "tab\there"})
    EXPECT_NE(windowsNameProblem(bad), "") << bad;
}

TEST(PackInputs, CommentAndTimeConversion) {
  std::string out, why;
  ASSERT_TRUE(commentToCp932("a\nb\r\nc\n", &out, &why));
  EXPECT_EQ(out, "a\r\nb\r\nc\r\n");
  EXPECT_FALSE(commentToCp932("ok\nbad \xF0\x9F\x98\x80\n", &out, &why));
  EXPECT_NE(why.find("line 2"), std::string::npos);
  EXPECT_FALSE(commentToCp932(std::string("nul\0byte", 8), &out, &why));
  EXPECT_EQ(fileTimeOf(0, 0), 116444736000000000ull);
  EXPECT_EQ(fileTimeOf(1, 999999999), 116444736000000000ull + 10000000 + 9999999);
  EXPECT_EQ(fileTimeOf(-11644473601ll, 0), 0u);  // before 1601
  std::string cp;
  EXPECT_TRUE(utf8ToCp932("\xE3\x82\xBD", &cp));  // ソ
  EXPECT_EQ(cp, "\x83\x5C");
}

TEST_F(PackCli, TheIconGoesIntoTheStubBeforeTheFirstFileIsCodedAgainstIt) {
  // A stub whose icon lies within the first 16,384 bytes, the first file's
  // context; the file is those bytes as they are with the new icon, so it is
  // stored against them and reads back only from the stub with that icon.
  const std::string pe = peWithResources(37);
  writeFileBytes(dir + "/icon-stub.exe", Bytes(pe.begin(), pe.end()));
  const std::string ico = makeIco({pattern4()});
  write("mine.ico", ico);
  std::string expected = pe, why;
  ASSERT_TRUE(replaceStubIcon(&expected, ico, &why)) << why;
  write("head.bin", expected.substr(0, 16384) + "and a tail");
  ASSERT_EQ(pack({"--stub", dir + "/icon-stub.exe", "--icon", dir + "/mine.ico", "-o", dir + "/out.exe",
                  dir + "/head.bin"}),
            0);
  const Bytes archive = readFileBytes(dir + "/out.exe");
  ASSERT_GT(archive.size(), 26112u);
  EXPECT_EQ(std::string(archive.begin(), archive.begin() + 26112), expected);
  std::vector<ReadEntry> back;
  ASSERT_EQ(readBack(archive, "", &back), -1);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(std::string(back[0].content.begin(), back[0].content.end()), expected.substr(0, 16384) + "and a tail");
  // The file's head is the stub's own head: stored as a prefix of slot 0,
  // so the archive is small.
  EXPECT_LT(archive.size(), 26112u + 200);

  // Files that cannot be an icon, and one that is not there: refused
  // before anything is written.
  write("bad.ico", "BM this is a bitmap");
  testing::internal::CaptureStderr();
  EXPECT_EQ(pack({"--stub", dir + "/icon-stub.exe", "--icon", dir + "/bad.ico", "-o", dir + "/bad.exe",
                  dir + "/head.bin"}),
            1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot use the icon " + dir +
                                                        "/bad.ico: it is not an icon file (.ico)"),
            std::string::npos);
  EXPECT_EQ(pack({"--stub", dir + "/icon-stub.exe", "--icon", dir + "/none.ico", "-o", dir + "/bad.exe",
                  dir + "/head.bin"}),
            4);
  // A stub without an icon to replace.
  EXPECT_EQ(pack({"--icon", dir + "/mine.ico", "-o", dir + "/bad.exe", dir + "/head.bin"}), 1);
  EXPECT_TRUE(othersIn(dir, {"icon-stub.exe", "stub.exe", "mine.ico", "head.bin", "out.exe", "bad.ico"}).empty());
}

}  // namespace
