// The list, test and extract commands, driven through the real program:
// round trips with pack, overwrite policies, passwords, damaged and cut
// archives, unsafe names, interruption and the exit codes. Archives that
// pack would never write are made byte by byte.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/app_state.h"
#include "core_support.h"
#include "decode/crc.h"
#include "icon_support.h"
#include "tools/cli_text.h"

namespace fs = std::filesystem;

namespace {

struct Result {
  int code;
  std::string out, err;
};

struct Options {
  std::string dir;                  // working folder ("" = the test's)
  std::vector<std::string> env;     // NAME=value added to the environment
  std::string input;                // stdin (a file, so never a terminal)
};

std::string slurp(const std::string& path) {
  Bytes b = readFileBytes(path);
  return std::string(b.begin(), b.end());
}

// Runs vellicor with stdin from a file and stdout/stderr into files, in the
// C locale unless the options say otherwise.
Result run(const std::vector<std::string>& args, const Options& o = {}) {
  char tmpl[] = "/tmp/vellicor-cli-io-XXXXXX";
  const std::string io = mkdtemp(tmpl);
  writeFileBytes(io + "/in", Bytes(o.input.begin(), o.input.end()));
  pid_t pid = fork();
  if (pid == 0) {
    if (!o.dir.empty() && chdir(o.dir.c_str()) != 0) _exit(120);
    unsetenv("VELLICOR_PASSWORD");
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    setenv("LANG", "C.UTF-8", 1);
    setenv("TZ", "UTC", 1);
    for (const std::string& e : o.env) putenv(strdup(e.c_str()));
    int in = open((io + "/in").c_str(), O_RDONLY);
    int out = open((io + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open((io + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(in, 0), dup2(out, 1), dup2(err, 2);
    std::vector<char*> argv{(char*)VELLICOR_EXE};
    for (const std::string& a : args) argv.push_back((char*)a.c_str());
    argv.push_back(0);
    execv(VELLICOR_EXE, argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  Result r{WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), slurp(io + "/out"), slurp(io + "/err")};
  fs::remove_all(io);
  return r;
}

// Runs vellicor on a terminal and answers each question that contains
// `prompt` with the next answer.
Result runOnTerminal(const std::vector<std::string>& args, const std::string& dir, const std::string& prompt,
                     std::vector<std::string> answers) {
  int master;
  pid_t pid = forkpty(&master, 0, 0, 0);
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(120);
    setenv("LANG", "C.UTF-8", 1);
    unsetenv("VELLICOR_PASSWORD");
    std::vector<char*> argv{(char*)VELLICOR_EXE};
    for (const std::string& a : args) argv.push_back((char*)a.c_str());
    argv.push_back(0);
    execv(VELLICOR_EXE, argv.data());
    _exit(127);
  }
  std::string seen;
  size_t asked = 0, from = 0;
  for (;;) {
    struct pollfd p = {master, POLLIN, 0};
    if (poll(&p, 1, 20000) <= 0) break;
    char buffer[4096];
    ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    seen.append(buffer, (size_t)n);
    size_t at;
    while ((at = seen.find(prompt, from)) != std::string::npos) {
      from = at + prompt.size();
      std::string a = asked < answers.size() ? answers[asked] : "q";
      ++asked;
      a += "\n";
      if (write(master, a.data(), a.size()) < 0) break;
    }
  }
  close(master);
  int status = 0;
  waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), seen, ""};
}

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A file with a given write time (a whole number of 100 ns steps).
void makeFile(const std::string& path, const Bytes& content, time_t seconds = 1600000000, long nanos = 123456700) {
  fs::create_directories(fs::path(path).parent_path());
  writeFileBytes(path, content);
  struct timespec t[2] = {{seconds - 5000, 0}, {seconds, nanos}};
  utimensat(AT_FDCWD, path.c_str(), t, 0);
}

// Every file below `root` with its content, by relative path.
std::map<std::string, Bytes> treeOf(const std::string& root) {
  std::map<std::string, Bytes> tree;
  for (auto& e : fs::recursive_directory_iterator(root)) {
    std::string rel = fs::relative(e.path(), root).string();
    tree[rel + (e.is_directory() ? "/" : "")] = e.is_directory() ? Bytes{} : readFileBytes(e.path().string());
  }
  return tree;
}

// Entry records and literal-coded data, written into a self-extracting
// file of our own: a stub image + header + block stream.
struct ArchiveMaker {
  Bytes data;
  void folder(const std::string& name) {
    data.insert(data.end(), name.begin(), name.end());
    data.insert(data.end(), {'\\', '.', 0});
  }
  void file(const std::string& name, const Bytes& content, uint8_t back = 0, uint16_t prefix = 0) {
    Bytes r = fileRecord(name, (uint32_t)content.size(), back, prefix, 132000000000000000ull, 132100000000000000ull,
                         132200000000000000ull);
    data.insert(data.end(), r.begin(), r.end());
    BitSink sink;
    SymbolComposer c(&sink);
    for (size_t i = prefix; i < content.size(); ++i) c.literal(content[i]);
    data.insert(data.end(), sink.bytes.begin(), sink.bytes.end());
  }
  Bytes archive(const std::string& comment = "", const std::string& launch = "", uint8_t flags = 0,
                const std::string& password = "") const {
    Bytes file = testStubImage();
    Bytes header = {0, 0, 0, 0};
    header.insert(header.end(), comment.begin(), comment.end());
    header.push_back(0);
    header.insert(header.end(), launch.begin(), launch.end());
    header.push_back(0);
    header.push_back(flags);
    if (flags) {
      uint16_t check = (uint16_t)(crc16(password.data(), (uint32_t)password.size()) ^ (flags * 0x0101));
      header.push_back((uint8_t)check);
      header.push_back((uint8_t)(check >> 8));
    }
    Bytes stream = makeBlockStream(data, flags ? password : "");
    uint32_t total = (uint32_t)(file.size() + header.size() + stream.size());
    for (int i = 0; i < 4; ++i) header[i] = (uint8_t)(total >> (8 * i));
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), stream.begin(), stream.end());
    return file;
  }
};

// The recorded size in a self-extracting file, made to match its length.
void fixRecordedSize(Bytes* file) {
  uint32_t n = (uint32_t)file->size();
  for (int i = 0; i < 4; ++i) (*file)[kStubSize + i] = (uint8_t)(n >> (8 * i));
}

struct CliTool : ::testing::Test {
  std::string dir;
  void SetUp() override {
    char tmpl[] = "/tmp/vellicor-cli-XXXXXX";
    dir = mkdtemp(tmpl);
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string at(const std::string& rel) const { return dir + "/" + rel; }
  Options in(const std::string& rel = "") const { return Options{rel.empty() ? dir : at(rel), {}, ""}; }
  // Packs the folder `src` (below dir) into `name`.
  void pack(const std::string& name, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"pack", "-q", "-o", name};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back("src");
    Result r = run(args, in());
    ASSERT_EQ(r.code, 0) << r.err;
  }
};

TEST_F(CliTool, AnArchiveWithTheUsersIconExtractsAndListTellsWhoseStubItHas) {
  makeFile(at("src/readme.txt"), bytesOf("an archive with an icon of its own\n"));
  makeFile(at("src/data.bin"), noiseBytes(30000, 3));
  IcoImage red;
  red.bits = 24;
  red.pixel = [](uint32_t x, uint32_t) { return x < 16 ? 0xFF0000u : 0x00FF00u; };
  const std::string ico = makeIco({red});
  writeFileBytes(at("red.ico"), bytesOf(ico));
  pack("plain.exe");
  pack("icon.exe", {"--icon", "red.ico"});
  // Our stub with one byte changed outside the icon: another stub.
  Bytes other = readFileBytes(VELLICOR_STUB_FILE);
  other[0x4E] ^= 0x20;  // a letter of the DOS stub's message
  writeFileBytes(at("other-stub.exe"), other);
  pack("other.exe", {"--stub", "other-stub.exe"});

  const Bytes plain = readFileBytes(at("plain.exe")), icon = readFileBytes(at("icon.exe"));
  ASSERT_GT(icon.size(), 26112u);
  EXPECT_NE(Bytes(plain.begin(), plain.begin() + 26112), Bytes(icon.begin(), icon.begin() + 26112));
  struct {
    const char* archive;
    const char* text;
    const char* json;
  } kinds[] = {{"plain.exe", "Stub:      this vellicor's\n", "\"stub\": \"ours\""},
               {"icon.exe", "Stub:      this vellicor's, with another icon\n", "\"stub\": \"oursOtherIcon\""},
               {"other.exe", "Stub:      another (not this vellicor's)\n", "\"stub\": \"other\""}};
  for (const auto& k : kinds) {
    Result r = run({"list", k.archive}, in());
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find(k.text), std::string::npos) << r.out;
    r = run({"list", "--json", k.archive}, in());
    EXPECT_NE(r.out.find(k.json), std::string::npos) << r.out;
  }
  Result r = run({"extract", "icon.exe", "-o", "out"}, in());
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(treeOf(at("out/src")), treeOf(at("src")));
  EXPECT_EQ(run({"test", "-q", "icon.exe"}, in()).code, 0);
  // The digest --version shows is the embedded stub's, whatever icon an archive got.
  r = run({"--version"}, in());
  EXPECT_NE(r.out.find("stub SHA-256 "), std::string::npos);
}

TEST_F(CliTool, RoundTripsThroughPackWithAndWithoutPassword) {
  makeFile(at("src/empty"), {});
  makeFile(at("src/same1.txt"), bytesOf("identical content\n"));
  makeFile(at("src/same2.txt"), bytesOf("identical content\n"));
  makeFile(at("src/資料/日本語の名前.txt"), bytesOf("日本語"));
  makeFile(at("src/big.bin"), noiseBytes(70000, 7));
  fs::create_directories(at("src/hollow"));
  for (int i = 0; i < 300; ++i)  // more files than the head ring has slots
    makeFile(at("src/many/f" + std::to_string(i)), bytesOf("file number " + std::to_string(i % 40)));
  pack("plain.exe");
  writeFileBytes(at("pw.txt"), bytesOf("秘密のabc\n"));
  pack("secret.exe", {"--password-file", "pw.txt"});

  for (const char* archive : {"plain.exe", "secret.exe"}) {
    const std::string out = std::string("out-") + archive;
    Result r = run({"extract", archive, "-o", out, "--password-file", "pw.txt"}, in());
    ASSERT_EQ(r.code, 0) << archive << r.err;
    EXPECT_EQ(treeOf(at(out + "/src")), treeOf(at("src"))) << archive;
    struct stat st;
    ASSERT_EQ(stat(at(out + "/src/big.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1600000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 123456700);
    EXPECT_EQ(run({"test", "-q", archive}, Options{dir, {"VELLICOR_PASSWORD=秘密のabc"}, ""}).code, 0);
  }
  // Without the password the protected archive yields nothing.
  Result r = run({"extract", "secret.exe", "-o", "nothing"}, in());
  EXPECT_EQ(r.code, 3);
  EXPECT_FALSE(fs::exists(at("nothing")));
}

TEST_F(CliTool, ListShowsHeaderEntriesTimesAndTotalsAsTextAndJson) {
  ArchiveMaker m;
  m.folder("docs");
  m.file("docs\\a.txt", bytesOf("hello"));
  m.file("\x93\xFA\x96\x7B.txt", bytesOf("nihon"));    // 日本 in code page 932
  m.file("bad\xA0name", bytesOf("x"));                  // 0xA0 is no code page 932 character
  m.file("ctl\x1B[2Jname", bytesOf("y"));               // a terminal escape in a name
  writeFileBytes(at("a.exe"), m.archive("line one\r\nline two", "docs\\a.txt"));

  Result r = run({"list", "a.exe"}, in());
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("line one\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("line two"), std::string::npos);
  EXPECT_NE(r.out.find("Opens after extraction: docs/a.txt"), std::string::npos);
  EXPECT_NE(r.out.find("Password:  no"), std::string::npos);
  EXPECT_NE(r.out.find("docs/\n"), std::string::npos);
  // FILETIME 132200000000000000 is 2019-12-05 06:13:20 UTC.
  EXPECT_NE(r.out.find("2019-12-05T06:13:20+00:00  2019-08-11T12:26:40+00:00  2019-04-17T18:40:00+00:00  docs/a.txt"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("日本.txt"), std::string::npos);
  EXPECT_NE(r.out.find("bad\\xA0name"), std::string::npos);
  EXPECT_NE(r.out.find("ctl\\x1B[2Jname"), std::string::npos);
  EXPECT_EQ(r.out.find('\x1B'), std::string::npos);
  EXPECT_NE(r.out.find("4 files, 1 folder, 12 bytes"), std::string::npos);

  Result j = run({"list", "--json", "a.exe"}, in());
  ASSERT_EQ(j.code, 0) << j.err;
  EXPECT_NE(j.out.find("\"comment\": \"line one\\r\\nline two\""), std::string::npos) << j.out;
  EXPECT_NE(j.out.find("{\"kind\": \"folder\", \"name\": \"docs/\", \"nameHex\": \"646f63735c2e\"}"), std::string::npos);
  EXPECT_NE(j.out.find("\"name\": \"日本.txt\""), std::string::npos);
  EXPECT_NE(j.out.find("\"name\": null, \"nameHex\": \"626164a06e616d65\""), std::string::npos);
  EXPECT_NE(j.out.find("\"name\": \"ctl\\u001b[2Jname\""), std::string::npos);
  EXPECT_NE(j.out.find("\"modified\": \"2019-12-05T06:13:20+00:00\", \"modifiedFiletime\": \"132200000000000000\""),
            std::string::npos);
  EXPECT_NE(j.out.find("\"totals\": {\"files\": 4, \"folders\": 1, \"bytes\": 12}"), std::string::npos);
  if (system("command -v python3 >/dev/null 2>&1") == 0) {
    writeFileBytes(at("list.json"), bytesOf(j.out));
    EXPECT_EQ(system(("python3 -m json.tool " + at("list.json") + " >/dev/null").c_str()), 0);
  }

  // Local time follows the zone; the Japanese locale words the listing.
  Result ja = run({"list", "a.exe"}, Options{dir, {"LANG=ja_JP.UTF-8", "TZ=Asia/Tokyo"}, ""});
  EXPECT_NE(ja.out.find("2019-12-05T15:13:20+09:00"), std::string::npos);
  EXPECT_NE(ja.out.find("ファイル 4 個"), std::string::npos);
}

TEST_F(CliTool, ExistingFilesFollowTheOverwritePolicy) {
  ArchiveMaker m;
  m.file("a.txt", bytesOf("new a"));
  m.file("b.txt", bytesOf("new b"), 1, 4);  // starts like a.txt: its head must be read even when a.txt is kept
  m.file("c.txt", bytesOf("new c"));
  writeFileBytes(at("a.exe"), m.archive());
  auto reset = [&](const std::string& t) {
    fs::remove_all(at(t));
    makeFile(at(t + "/a.txt"), bytesOf("old a"));
    makeFile(at(t + "/c.txt"), bytesOf("old c"));
  };

  reset("none");
  EXPECT_EQ(run({"extract", "--overwrite=none", "a.exe", "-o", "none"}, in()).code, 0);
  EXPECT_EQ(readFileBytes(at("none/a.txt")), bytesOf("old a"));
  EXPECT_EQ(readFileBytes(at("none/b.txt")), bytesOf("new b"));
  EXPECT_EQ(readFileBytes(at("none/c.txt")), bytesOf("old c"));

  reset("all");
  EXPECT_EQ(run({"extract", "--overwrite", "all", "a.exe", "-oall"}, in()).code, 0);
  EXPECT_EQ(readFileBytes(at("all/a.txt")), bytesOf("new a"));
  EXPECT_EQ(readFileBytes(at("all/c.txt")), bytesOf("new c"));

  // No terminal and no policy: the first existing file stops the run.
  fs::remove_all(at("refuse"));
  makeFile(at("refuse/c.txt"), bytesOf("old c"));
  Result r = run({"extract", "a.exe", "-o", "refuse"}, in());
  EXPECT_EQ(r.code, 5);
  EXPECT_NE(r.err.find("refuse/c.txt\" already exists"), std::string::npos) << r.err;
  EXPECT_EQ(readFileBytes(at("refuse/a.txt")), bytesOf("new a"));
  EXPECT_EQ(readFileBytes(at("refuse/c.txt")), bytesOf("old c"));

  // On a terminal each file is asked about: yes, then no.
  reset("ask");
  Result t = runOnTerminal({"extract", "a.exe", "-o", "ask"}, dir, "Replace it?", {"y", "n"});
  EXPECT_EQ(t.code, 0) << t.out;
  EXPECT_EQ(readFileBytes(at("ask/a.txt")), bytesOf("new a"));
  EXPECT_EQ(readFileBytes(at("ask/c.txt")), bytesOf("old c"));
  reset("quit");
  t = runOnTerminal({"extract", "a.exe", "-o", "quit"}, dir, "Replace it?", {"q"});
  EXPECT_EQ(t.code, 5);
  EXPECT_FALSE(fs::exists(at("quit/b.txt")));

  // A link where a file goes is replaced, never written through.
  fs::remove_all(at("link"));
  makeFile(at("victim"), bytesOf("precious"));
  fs::create_directories(at("link"));
  fs::create_symlink(at("victim"), at("link/a.txt"));
  EXPECT_EQ(run({"extract", "--overwrite=all", "a.exe", "-o", "link"}, in()).code, 0);
  EXPECT_EQ(readFileBytes(at("victim")), bytesOf("precious"));
  EXPECT_FALSE(fs::is_symlink(at("link/a.txt")));
  EXPECT_EQ(readFileBytes(at("link/a.txt")), bytesOf("new a"));
}

TEST_F(CliTool, PasswordsFromFileEnvironmentAndTerminal) {
  ArchiveMaker m;
  m.file("secret.txt", noiseBytes(9000, 3));  // crosses a block: the key runs on
  writeFileBytes(at("p.exe"), m.archive("", "", 1, "abc"));
  writeFileBytes(at("good"), bytesOf("abc\r\n"));
  writeFileBytes(at("bad"), bytesOf("abd\n"));

  EXPECT_EQ(run({"extract", "p.exe", "--password-file=good", "-o", "x1"}, in()).code, 0);
  EXPECT_EQ(readFileBytes(at("x1/secret.txt")), noiseBytes(9000, 3));
  Result wrong = run({"extract", "p.exe", "--password-file", "bad", "-o", "x2"}, in());
  EXPECT_EQ(wrong.code, 3);
  EXPECT_NE(wrong.err.find("wrong"), std::string::npos);
  EXPECT_FALSE(fs::exists(at("x2")));  // said before anything is created
  EXPECT_EQ(run({"test", "p.exe"}, Options{dir, {"VELLICOR_PASSWORD=abc"}, ""}).code, 0);
  EXPECT_EQ(run({"list", "p.exe"}, Options{dir, {"VELLICOR_PASSWORD=xyz"}, ""}).code, 3);
  Result none = run({"list", "p.exe"}, in());
  EXPECT_EQ(none.code, 3);
  EXPECT_NE(none.out.find("Password:  yes"), std::string::npos);  // the header is shown all the same

  Result t = runOnTerminal({"test", "p.exe"}, dir, "Password for", {"nope", "abc"});
  EXPECT_EQ(t.code, 0) << t.out;
  EXPECT_EQ(t.out.find("abc"), std::string::npos);  // never echoed
}

TEST_F(CliTool, CutAndFlippedArchivesAreDamagedAndLeaveNothingPartial) {
  ArchiveMaker m;
  m.file("one.txt", bytesOf("first file"));
  m.file("two.bin", noiseBytes(10000, 11));
  m.file("three.txt", bytesOf("third"));
  m.file("dir\\four.bin", noiseBytes(6000, 12));
  const Bytes good = m.archive();
  const std::map<std::string, Bytes> expected = {{"one.txt", bytesOf("first file")},
                                                 {"two.bin", noiseBytes(10000, 11)},
                                                 {"three.txt", bytesOf("third")},
                                                 {"dir/four.bin", noiseBytes(6000, 12)}};
  const size_t streamStart = kStubSize + 7;
  auto check = [&](const Bytes& file, const std::string& what) {
    writeFileBytes(at("c.exe"), file);
    fs::remove_all(at("o"));
    Result e = run({"extract", "c.exe", "-o", "o"}, in());
    EXPECT_EQ(e.code, 2) << what << e.err;
    EXPECT_NE(e.err.find("damaged"), std::string::npos) << what << e.err;
    // Whatever was written is complete; nothing partial is left.
    if (fs::exists(at("o"))) {
      for (auto& [name, content] : treeOf(at("o"))) {
        if (name.back() == '/') continue;
        EXPECT_EQ(content, expected.at(name)) << what << " " << name;
      }
    }
    EXPECT_EQ(run({"test", "c.exe"}, in()).code, 2) << what;
  };
  for (size_t cut = kStubSize + 4; cut < good.size(); cut += 997) {
    check(Bytes(good.begin(), good.begin() + cut), "cut " + std::to_string(cut));  // the recorded size tells
    Bytes fixed(good.begin(), good.begin() + cut);
    fixRecordedSize(&fixed);  // the block stream itself must tell
    if (cut > streamStart) check(fixed, "cut with fixed size " + std::to_string(cut));
  }
  for (size_t block = streamStart; block < good.size(); block += kBlockBytes)
    for (size_t offset : {(size_t)0, (size_t)2000, (size_t)4097}) {
      if (block + offset >= good.size()) continue;
      Bytes flipped = good;
      flipped[block + offset] ^= 0x08;
      check(flipped, "flip at " + std::to_string(block + offset));
    }
  // The entry is named: two.bin's data lies in the second block.
  Bytes flipped = good;
  flipped[streamStart + kBlockBytes + 100] ^= 1;
  writeFileBytes(at("c.exe"), flipped);
  Result t = run({"test", "c.exe"}, in());
  EXPECT_NE(t.err.find("block check failed at entry \"two.bin\""), std::string::npos) << t.err;
  Result ja = run({"test", "c.exe"}, Options{dir, {"LANG=ja_JP.UTF-8"}, ""});
  EXPECT_NE(ja.err.find("壊れています"), std::string::npos) << ja.err;
}

TEST_F(CliTool, NamesThatLeaveTheTargetAreRefusedAsDamaged) {
  // A leading "|" makes a folder entry.
  for (const char* name : {"..\\evil.txt", "a\\..\\..\\evil.txt", "\\evil.txt", "C:evil.txt", "C:\\evil.txt",
                           "a/../../evil.txt", "|..\\evil"}) {
    ArchiveMaker m;
    m.file("fine.txt", bytesOf("fine"));
    if (name[0] == '|') m.folder(name + 1);
    else m.file(name, bytesOf("evil"));
    writeFileBytes(at("u.exe"), m.archive());
    fs::remove_all(at("t"));
    Result e = run({"extract", "u.exe", "-o", "t/in"}, in());
    EXPECT_EQ(e.code, 2) << name;
    EXPECT_NE(e.err.find("is no plain file name"), std::string::npos) << name << e.err;
    EXPECT_EQ(treeOf(at("t")).size(), 2u) << name;  // in/ and in/fine.txt
    Result t = run({"test", "u.exe"}, in());
    EXPECT_EQ(t.code, 2) << name;
    EXPECT_NE(t.err.find("evil"), std::string::npos) << name;
  }
}

TEST_F(CliTool, TheFilesOwnStubHeadIsSlotZero) {
  // The first file is the first 300 bytes of the stub image followed by
  // "tail": it decodes only against the archive's own first bytes.
  Bytes content(testStubImage().begin(), testStubImage().begin() + 300);
  content.insert(content.end(), {'t', 'a', 'i', 'l'});
  ArchiveMaker m;
  m.file("head.bin", content, 1, 300);
  writeFileBytes(at("s.exe"), m.archive());
  ASSERT_EQ(run({"extract", "s.exe", "-o", "o"}, in()).code, 0);
  EXPECT_EQ(readFileBytes(at("o/head.bin")), content);
}

// A signed copy (certificate table behind the archive, the header's checksum
// and security entry rewritten) lists, tests and extracts like the unsigned
// one; its first file begins with the embedded stub's own head, so it comes
// out right only with slot 0 as the creator saw it. Bytes after the table, a
// table cut short or padding that signing did not write: larger, as before.
TEST_F(CliTool, SignedFilesAreMeasuredWithoutTheirSignature) {
  makeFile(at("probe/x"), bytesOf("x"));
  ASSERT_EQ(run({"pack", "-q", "-o", "probe.exe", "probe"}, in()).code, 0);
  const Bytes probe = readFileBytes(at("probe.exe"));
  makeFile(at("src/head.bin"), Bytes(probe.begin(), probe.begin() + 20000));
  makeFile(at("src/tail.txt"), bytesOf("tail\n"));
  pack("size.exe");
  // A comment that leaves the size 3 above a multiple of 8: signing pads.
  const size_t comment = (11 - readFileBytes(at("size.exe")).size() % 8) % 8;
  pack("plain.exe", {"--comment", std::string(comment, 'c')});
  const Bytes plain = readFileBytes(at("plain.exe"));
  ASSERT_EQ(plain.size() % 8, 3u);
  const Bytes good = signedCopy(plain);
  writeFileBytes(at("signed.exe"), good);

  Result list = run({"list", "--json", "signed.exe"}, in());
  ASSERT_EQ(list.code, 0) << list.err;
  EXPECT_NE(list.out.find("\"signatureBytes\": " + std::to_string(good.size() - plain.size())), std::string::npos);
  EXPECT_NE(list.out.find("\"name\": \"src/head.bin\"") , std::string::npos);
  EXPECT_NE(list.out.find("\"back\": 1, \"prefixLength\": 16384"), std::string::npos) << list.out;
  EXPECT_NE(run({"list", "signed.exe"}, in()).out.find("with a signature of 1,461 bytes"), std::string::npos);
  EXPECT_EQ(run({"test", "-q", "signed.exe"}, in()).code, 0);
  ASSERT_EQ(run({"extract", "-q", "signed.exe", "-o", "out"}, in()).code, 0);
  EXPECT_EQ(treeOf(at("out/src")), treeOf(at("src")));

  Bytes appended = good;
  appended.push_back(0);
  Bytes dirty = good;
  dirty[plain.size() + 2] = 1;  // inside the padding
  const std::pair<const char*, Bytes> refused[] = {
      {"appended", appended}, {"cut", Bytes(good.begin(), good.end() - 8)}, {"dirty", dirty}};
  for (const auto& [name, file] : refused) {
    writeFileBytes(at("r.exe"), file);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"list", "r.exe"}, {"test", "r.exe"}, {"extract", "r.exe", "-o", "none"}}) {
      const std::string& command = args[0];
      Result r = run(args, in());
      EXPECT_EQ(r.code, 2) << name << " " << command;
      EXPECT_NE(r.err.find("larger than when it was made"), std::string::npos) << name << " " << command << r.err;
    }
    EXPECT_FALSE(fs::exists(at("none")));
  }
}

TEST_F(CliTool, ExitCodesForUsageMissingFilesFoldersAndWrites) {
  ArchiveMaker m;
  m.file("d\\a.txt", bytesOf("a"));
  m.file("b.bin", bytesOf("b"));
  writeFileBytes(at("a.exe"), m.archive());
  EXPECT_EQ(run({"list"}, in()).code, 1);
  EXPECT_EQ(run({"extract", "--overwrite=maybe", "a.exe"}, in()).code, 1);
  EXPECT_EQ(run({"test", "a.exe", "b.exe"}, in()).code, 1);
  Result help = run({"extract", "--help"}, in());
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("6  interrupted"), std::string::npos);
  EXPECT_EQ(run({"test", "missing.exe"}, in()).code, 4);
  writeFileBytes(at("short.exe"), Bytes(1000, 1));
  EXPECT_EQ(run({"test", "short.exe"}, in()).code, 2);
  writeFileBytes(at("stub.exe"), testStubImage());
  EXPECT_EQ(run({"list", "stub.exe"}, in()).code, 2);
  Bytes longer = m.archive();
  longer.push_back(0);
  writeFileBytes(at("longer.exe"), longer);
  EXPECT_EQ(run({"test", "longer.exe"}, in()).code, 2);

  makeFile(at("f1/d"), bytesOf("a file where a folder goes"));
  Result folder = run({"extract", "a.exe", "-o", "f1"}, in());
  EXPECT_EQ(folder.code, 4);
  EXPECT_NE(folder.err.find("cannot create the folder \"f1/d\""), std::string::npos) << folder.err;
  fs::create_directories(at("f2/b.bin"));
  Result write = run({"extract", "--overwrite=all", "a.exe", "-o", "f2"}, in());
  EXPECT_EQ(write.code, 4);
  EXPECT_NE(write.err.find("cannot write \"f2/b.bin\""), std::string::npos) << write.err;
  makeFile(at("plainfile"), bytesOf("x"));
  EXPECT_EQ(run({"extract", "a.exe", "-o", "plainfile/sub"}, in()).code, 4);
}

// Bytes the process has read so far (its rchar), 0 when unknown.
uint64_t bytesReadBy(pid_t pid) {
  std::string io = slurp("/proc/" + std::to_string(pid) + "/io");
  const size_t at = io.find("rchar: ");
  return at == std::string::npos ? 0 : strtoull(io.c_str() + at + 7, 0, 10);
}

// Starts vellicor, waits until `appears` exists and the process has read at
// least `readAtLeast` bytes, and interrupts it.
Result interruptWhen(const std::vector<std::string>& args, const std::string& dir, const std::string& appears,
                     uint64_t readAtLeast = 0) {
  const std::string errPath = dir + "/interrupt.err";
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(120);
    setenv("LANG", "C.UTF-8", 1);
    int null = open("/dev/null", O_RDWR);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(null, 0), dup2(null, 1), dup2(err, 2);
    std::vector<char*> argv{(char*)VELLICOR_EXE};
    for (const std::string& a : args) argv.push_back((char*)a.c_str());
    argv.push_back(0);
    execv(VELLICOR_EXE, argv.data());
    _exit(127);
  }
  for (int i = 0; i < 20000 && !(fs::exists(appears) && bytesReadBy(pid) >= readAtLeast); ++i) usleep(500);
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), "", slurp(errPath)};
}

TEST_F(CliTool, InterruptionRemovesThePartialFileAndSaysSo) {
  makeFile(at("src/a.txt"), bytesOf("small and first"));
  makeFile(at("src/b.bin"), noiseBytes(12000000, 5));  // seconds of decoding
  makeFile(at("src/c.txt"), bytesOf("never reached"));
  pack("big.exe", {"--level", "1"});
  Result r = interruptWhen({"extract", "big.exe", "-o", "o"}, dir, at("o/src/b.bin"));
  EXPECT_EQ(r.code, 6);
  EXPECT_NE(r.err.find("the partly extracted file \"o/src/b.bin\" was removed"), std::string::npos) << r.err;
  EXPECT_EQ(readFileBytes(at("o/src/a.txt")), bytesOf("small and first"));
  EXPECT_FALSE(fs::exists(at("o/src/b.bin")));
  EXPECT_FALSE(fs::exists(at("o/src/c.txt")));
  // test makes no file to wait for: interrupt it once it has read 2 MB of
  // the 12 MB archive, so it is decoding b.bin with most of it still ahead.
  EXPECT_EQ(interruptWhen({"test", "big.exe"}, dir, at("src/a.txt"), 2000000).code, 6);
}

// ---- names and patterns, --stdout, several archives, --version, the manual ----

// An archive as every real one begins, with the "MZ" of a Windows program
// (the test stub's bytes are random; literal-coded files never look at them).
Bytes startingMZ(Bytes archive) {
  archive[0] = 'M';
  archive[1] = 'Z';
  return archive;
}

// docs/, docs/a.txt, docs/sub/b.txt, README.txt, 日本/c.txt, x.txt
Bytes selectionArchive() {
  ArchiveMaker m;
  m.folder("docs");
  m.file("docs\\a.txt", bytesOf("alpha"));
  m.file("docs\\sub\\b.txt", bytesOf("beta"));
  m.file("README.txt", bytesOf("read me"));
  m.file("\x93\xFA\x96\x7B\\c.txt", bytesOf("gamma"));  // 日本\c.txt
  m.file("x.bin", bytesOf("xx"));
  return startingMZ(m.archive());
}

// The names in a text listing, in order.
std::vector<std::string> listedNames(const std::string& listing) {
  std::vector<std::string> names;
  size_t at = listing.find("Name\n");
  if (at == std::string::npos) return names;
  for (at += 5; at < listing.size();) {
    const size_t end = listing.find('\n', at);
    const std::string line = listing.substr(at, end - at);
    if (line.empty()) break;
    names.push_back(line.substr(line.rfind("  ") + 2));
    at = end + 1;
  }
  return names;
}

TEST_F(CliTool, NamesAndPatternsSelectEntriesAndAFolderTakesWhatIsBelowIt) {
  writeFileBytes(at("a.exe"), selectionArchive());
  auto names = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"list", "a.exe"});
    Result r = run(args, in());
    EXPECT_EQ(r.code, 0) << r.err;
    return listedNames(r.out);
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(names({"docs"}), (V{"docs/", "docs/a.txt", "docs/sub/b.txt"}));
  EXPECT_EQ(names({"docs/"}), names({"./docs"}));
  EXPECT_EQ(names({"*.txt"}), (V{"docs/a.txt", "docs/sub/b.txt", "README.txt", "日本/c.txt"}));  // "*" crosses "/"
  EXPECT_EQ(names({"docs/?.txt"}), (V{"docs/a.txt"}));
  EXPECT_EQ(names({"docs\\sub"}), (V{"docs/sub/b.txt"}));  // "\" separates too
  EXPECT_EQ(names({"日本"}), (V{"日本/c.txt"}));              // typed UTF-8, stored code page 932
  EXPECT_EQ(names({"[rx]*", "docs/a.txt"}), (V{"docs/a.txt", "x.bin"}));
  Result r = run({"list", "a.exe", "readme.txt", "README.txt"}, in());  // letter case counts
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("no entry of \"a.exe\" matches \"readme.txt\""), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("\"README.txt\""), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("1 file, 0 folders, 7 bytes"), std::string::npos) << r.out;  // the rest is still shown

  Result j = run({"list", "--json", "a.exe", "docs/sub"}, in());
  EXPECT_EQ(j.code, 0);
  EXPECT_NE(j.out.find("\"totals\": {\"files\": 1, \"folders\": 0, \"bytes\": 4}"), std::string::npos) << j.out;

  Result t = run({"test", "-v", "a.exe", "*.bin", "nothing/*"}, in());
  EXPECT_EQ(t.code, 1);
  EXPECT_NE(t.out.find("OK  x.bin\n"), std::string::npos) << t.out;
  EXPECT_EQ(t.out.find("OK  docs"), std::string::npos) << t.out;
  EXPECT_NE(t.err.find("matches \"nothing/*\""), std::string::npos) << t.err;
  for (const char* empty : {"", "/", "./"}) EXPECT_EQ(run({"list", "a.exe", empty}, in()).code, 1) << empty;

  // extract makes the folders above what it takes, and nothing else.
  Result e = run({"extract", "a.exe", "-o", "o", "docs/sub/b.txt", "日本/*"}, in());
  ASSERT_EQ(e.code, 0) << e.err;
  EXPECT_NE(e.out.find("Extracted 2 files"), std::string::npos) << e.out;
  EXPECT_EQ(treeOf(at("o")), (std::map<std::string, Bytes>{{"docs/", {}},
                                                            {"docs/sub/", {}},
                                                            {"docs/sub/b.txt", bytesOf("beta")},
                                                            {"日本/", {}},
                                                            {"日本/c.txt", bytesOf("gamma")}}));
  // A name that selects nothing fails the command after the rest is done.
  e = run({"extract", "a.exe", "-o", "o2", "x.bin", "missing.txt"}, in());
  EXPECT_EQ(e.code, 1);
  EXPECT_NE(e.err.find("matches \"missing.txt\""), std::string::npos) << e.err;
  EXPECT_EQ(readFileBytes(at("o2/x.bin")), bytesOf("xx"));
  // Another archive given to extract is taken as a name, and said so.
  writeFileBytes(at("b.exe"), selectionArchive());
  e = run({"extract", "a.exe", "b.exe", "-o", "o3"}, in());
  EXPECT_EQ(e.code, 1);
  EXPECT_NE(e.err.find("extract takes one archive at a time"), std::string::npos) << e.err;
  EXPECT_TRUE(treeOf(at("o3")).empty());
}

TEST_F(CliTool, ASelectedFileBuiltOnSkippedOnesComesOutWhole) {
  // b.txt begins with the first 1,000 bytes of a.bin (a shared prefix), and
  // c.bin is one match reaching back into the head of b.txt, its preset:
  // both need the skipped files' bytes in the head ring.
  const Bytes a = noiseBytes(3000, 21);
  Bytes b(a.begin(), a.begin() + 1000);
  const Bytes tail = noiseBytes(500, 22);
  b.insert(b.end(), tail.begin(), tail.end());
  ArchiveMaker m;
  m.file("a.bin", a);
  m.file("skip\\b.txt", b, 1, 1000);
  Bytes record = fileRecord("c.bin", 300, 0, 0);
  m.data.insert(m.data.end(), record.begin(), record.end());
  BitSink sink;
  SymbolComposer(&sink).match(300, (int)b.size());  // from the first byte of b.txt
  m.data.insert(m.data.end(), sink.bytes.begin(), sink.bytes.end());
  writeFileBytes(at("ctx.exe"), m.archive());
  const Bytes c(b.begin(), b.begin() + 300);

  Result e = run({"extract", "ctx.exe", "-o", "o", "c.bin"}, in());
  ASSERT_EQ(e.code, 0) << e.err;
  EXPECT_EQ(treeOf(at("o")), (std::map<std::string, Bytes>{{"c.bin", c}}));
  e = run({"extract", "ctx.exe", "-o", "o", "skip/b.txt"}, in());
  ASSERT_EQ(e.code, 0) << e.err;
  EXPECT_EQ(readFileBytes(at("o/skip/b.txt")), b);
  Result s = run({"extract", "-c", "ctx.exe", "c.bin", "a.bin"}, in());
  ASSERT_EQ(s.code, 0) << s.err;
  Bytes both = a;  // archive order, not the order of the names
  both.insert(both.end(), c.begin(), c.end());
  EXPECT_EQ(bytesOf(s.out), both);

  // The same through pack: files that share long heads, the last one taken.
  const Bytes head = noiseBytes(20000, 23);
  for (int i = 0; i < 3; ++i) {
    Bytes content = head;
    const Bytes own = noiseBytes(5000 + 1000 * i, 30 + i);
    content.insert(content.end(), own.begin(), own.end());
    makeFile(at("src/f" + std::to_string(i) + ".bin"), content);
  }
  pack("heads.exe");
  e = run({"extract", "heads.exe", "-o", "p", "src/f2.bin"}, in());
  ASSERT_EQ(e.code, 0) << e.err;
  EXPECT_EQ(treeOf(at("p/src")), (std::map<std::string, Bytes>{{"f2.bin", readFileBytes(at("src/f2.bin"))}}));
}

TEST_F(CliTool, StdoutCarriesOnlyTheSelectedFilesBytesAndRefusesATerminal) {
  writeFileBytes(at("a.exe"), selectionArchive());
  fs::create_directories(at("w"));
  writeFileBytes(at("w/a.exe"), selectionArchive());
  Result r = run({"extract", "--stdout", "a.exe", "docs", "x.bin"}, in("w"));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "alphabetaxx");
  EXPECT_NE(r.err.find("Wrote 3 files to standard output."), std::string::npos) << r.err;
  EXPECT_EQ(treeOf(at("w")).size(), 1u);  // nothing made on disk
  r = run({"extract", "-c", "-q", "a.exe"}, in());
  ASSERT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "alphabetaread megammaxx");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(run({"extract", "-c", "-o", "x", "a.exe"}, in()).code, 1);
  EXPECT_EQ(run({"extract", "-c", "--overwrite=all", "a.exe"}, in()).code, 1);

  // A password-protected archive, and damage in a selected file's data.
  ArchiveMaker pm;
  pm.file("secret.bin", noiseBytes(9000, 3));
  writeFileBytes(at("p.exe"), pm.archive("", "", 1, "abc"));
  r = run({"extract", "-c", "p.exe"}, Options{dir, {"VELLICOR_PASSWORD=abc"}, ""});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(bytesOf(r.out), noiseBytes(9000, 3));
  Bytes flipped = pm.archive();
  flipped[kStubSize + 7 + kBlockBytes + 100] ^= 1;
  writeFileBytes(at("d.exe"), flipped);
  r = run({"extract", "-c", "d.exe"}, in());
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("Standard output holds only the first part of \"secret.bin\""), std::string::npos) << r.err;

  // On a terminal: refused before anything is read or asked.
  Result t = runOnTerminal({"extract", "-c", "p.exe"}, dir, "Password for", {"abc"});
  EXPECT_EQ(t.code, 1) << t.out;
  EXPECT_NE(t.out.find("standard output, which is a terminal"), std::string::npos) << t.out;
  EXPECT_EQ(t.out.find("Password for"), std::string::npos) << t.out;
}

TEST_F(CliTool, SeveralArchivesAreTakenInTurnAndTheWorstCodeWins) {
  writeFileBytes(at("one.exe"), selectionArchive());
  writeFileBytes(at("two.exe"), selectionArchive());
  Bytes damaged = selectionArchive();
  damaged[kStubSize + 20] ^= 4;
  writeFileBytes(at("bad.exe"), damaged);
  ArchiveMaker pm;
  pm.file("secret.txt", bytesOf("s"));
  writeFileBytes(at("locked.exe"), startingMZ(pm.archive("", "", 1, "abc")));

  Result r = run({"test", "one.exe", "two.exe"}, in());
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("\"one.exe\" is intact: 5 files"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"two.exe\" is intact: 5 files"), std::string::npos) << r.out;
  // Damage in the middle does not stop the ones after it.
  r = run({"test", "one.exe", "bad.exe", "two.exe"}, in());
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("\"bad.exe\" is damaged"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("\"two.exe\" is intact"), std::string::npos) << r.out;
  EXPECT_EQ(run({"test", "-q", "bad.exe", "locked.exe", "one.exe"}, in()).code, 3);
  // Names apply to each archive; one without a match fails the command.
  r = run({"list", "one.exe", "two.exe", "x.bin"}, in());
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(listedNames(r.out), (std::vector<std::string>{"x.bin"}));
  EXPECT_NE(r.out.find("Archive:   two.exe"), std::string::npos);
  EXPECT_NE(r.out.find("\n\nArchive:   two.exe"), std::string::npos);
  ArchiveMaker om;
  om.file("other.txt", bytesOf("o"));
  writeFileBytes(at("other.exe"), startingMZ(om.archive()));
  EXPECT_EQ(run({"list", "one.exe", "other.exe", "x.bin"}, in()).code, 1);

  Result j = run({"list", "--json", "one.exe", "bad.exe", "two.exe"}, in());
  EXPECT_EQ(j.code, 2);
  EXPECT_EQ(j.out.compare(0, 2, "[\n"), 0) << j.out;
  if (system("command -v python3 >/dev/null 2>&1") == 0) {
    writeFileBytes(at("list.json"), bytesOf(j.out));
    EXPECT_EQ(system(("python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); sys.exit(len(d) != 2)' " +
                      at("list.json")).c_str()),
              0)
        << j.out;
  }
}

TEST_F(CliTool, VersionNamesTheEmbeddedStub) {
  Result r = run({"--version"}, in());
  EXPECT_EQ(r.code, 0);
  const std::string sum = at("sum");
  ASSERT_EQ(system(("sha256sum " + std::string(VELLICOR_STUB_FILE) + " > " + sum).c_str()), 0);
  const std::string hex = slurp(sum).substr(0, 64);
  EXPECT_EQ(r.out, std::string("vellicor ") + VELLICOR_VERSION_TEXT + "\nstub SHA-256 " + hex + "\n");
  EXPECT_EQ(run({"-V"}, in()).out, r.out);
}

// Text of a manual page without its markup: requests keep their words,
// font changes and escapes become plain characters, spaces are collapsed.
std::string manualText(const std::string& roff) {
  std::string text;
  size_t at = 0;
  while (at < roff.size()) {
    size_t end = roff.find('\n', at);
    if (end == std::string::npos) end = roff.size();
    std::string line = roff.substr(at, end - at);
    at = end + 1;
    if (line.compare(0, 3, ".\\\"") == 0) continue;
    if (!line.empty() && line[0] == '.') {
      const size_t space = line.find(' ');
      line = space == std::string::npos ? "" : line.substr(space + 1);
      line.erase(std::remove(line.begin(), line.end(), '"'), line.end());
    }
    text += line + " ";
  }
  std::string plain;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      plain += text[i];
      continue;
    }
    const char next = i + 1 < text.size() ? text[i + 1] : 0;
    if (next == 'f') i += 2;                              // \fB \fI \fR \fP
    else if (next == '-' || next == '&') plain += next == '-' ? "-" : "", ++i;
    else if (next == 'e') plain += '\\', ++i;
    else if (next == '(') plain += text.substr(i + 2, 2) == "aq" ? "'" : "?", i += 3;
    else plain += text[i];
  }
  std::string collapsed;
  for (char c : plain) {
    if (c == ' ' || c == '\t') {
      if (!collapsed.empty() && collapsed.back() != ' ') collapsed += ' ';
    } else {
      collapsed += c;
    }
  }
  return collapsed;
}

std::string collapsed(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == ' ' || c == '\n' || c == '\t') {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += c;
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// The options a help text offers: the "-x" and "--long" words of the
// option column (lines that begin with two spaces and "-").
std::set<std::string> helpOptions(const std::string& help) {
  std::set<std::string> options;
  size_t at = 0;
  while (at < help.size()) {
    size_t end = help.find('\n', at);
    if (end == std::string::npos) end = help.size();
    const std::string line = help.substr(at, end - at);
    at = end + 1;
    if (line.compare(0, 3, "  -") != 0) continue;
    const std::string column = line.substr(2, line.find("  ", 2) - 2);
    for (size_t i = 0; i < column.size();) {
      size_t stop = column.find_first_of(" ,=[", i);
      if (stop == std::string::npos) stop = column.size();
      if (column[i] == '-') options.insert(column.substr(i, stop - i));
      i = stop + 1;
    }
  }
  return options;
}

TEST(CliManual, TheManualPageAgreesWithEveryHelpText) {
  const std::string roff = slurp(VELLICOR_MANUAL);
  ASSERT_FALSE(roff.empty());
  const std::string manual = manualText(roff);
  EXPECT_NE(roff.find(std::string("\"vellicor ") + VELLICOR_VERSION_TEXT + "\""), std::string::npos)
      << "the .TH line names another version";

  std::set<std::string> offered;
  for (const char* command : {"", "pack", "list", "test", "extract"}) {
    std::vector<std::string> args;
    if (*command) args.push_back(command);
    args.push_back("--help");
    Result r = run(args);
    ASSERT_EQ(r.code, 0) << command;
    ASSERT_NE(r.out.size(), 0u);
    for (const std::string& option : helpOptions(r.out)) {
      offered.insert(option);
      EXPECT_NE(manual.find(option), std::string::npos) << "vellicor " << command << ": " << option;
    }
    if (std::string(command) == "list") {
      // Each exit code, word for word.
      const std::string help = r.out;
      const size_t from = help.find("Exit codes of list, test and extract:");
      ASSERT_NE(from, std::string::npos);
      std::string block = help.substr(help.find('\n', from) + 1);
      size_t start = 0;
      std::vector<std::string> codes;
      while (start < block.size()) {
        size_t end = block.find('\n', start);
        if (end == std::string::npos) end = block.size();
        const std::string line = block.substr(start, end - start);
        if (line.compare(0, 2, "  ") == 0 && line.size() > 2 && isdigit((unsigned char)line[2])) codes.push_back(line);
        else if (line.compare(0, 5, "     ") == 0 && !codes.empty()) codes.back() += " " + line;
        else if (!line.empty() && line[0] != ' ') codes.push_back(line);
        start = end + 1;
      }
      ASSERT_GE(codes.size(), 8u);
      for (const std::string& c : codes) EXPECT_NE(manual.find(collapsed(c)), std::string::npos) << collapsed(c);
    }
  }
  EXPECT_GE(offered.size(), 20u);
  // And no option in the manual that no help offers.
  for (size_t at = manual.find("--"); at != std::string::npos; at = manual.find("--", at + 2)) {
    size_t stop = manual.find_first_of(" ,=[)]'", at);
    const std::string option = manual.substr(at, stop - at);
    if (option.size() > 2 && isalpha((unsigned char)option[2])) {
      EXPECT_TRUE(offered.count(option)) << option << " is in the manual but in no --help";
    }
  }
}

TEST(CliText, NamesAreShownEscapedNeverMangled) {
  cliInitLocale();  // the test runs in whatever locale; C counts as UTF-8
  // ソ (0x83 0x5C) keeps its second byte; only a separator becomes "/".
  EXPECT_EQ(showCp932("\x83\x5C\\x", 4, true), "ソ/x");
  EXPECT_EQ(showCp932("a\\b", 3, false), "a\\b");
  EXPECT_EQ(showCp932("\xFD\x41", 2, true), "\\xFDA");
  EXPECT_EQ(showCp932("a\x81", 2, true), "a\\x81");  // a lead byte at the very end
  EXPECT_EQ(showCp932("x\ty\r\nz\r", 7, false, true), "x\ty\nz\\x0D");
  EXPECT_EQ(showCp932("x\ty", 3, false, false), "x\\x09y");
  std::string u;
  EXPECT_FALSE(cp932ToUtf8("\xA0", 1, true, &u));
  EXPECT_EQ(jsonString("a\"b\\c\x01"), "\"a\\\"b\\\\c\\u0001\"");
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(isoLocalTime(0), "1601-01-01T00:00:00+00:00");
  EXPECT_EQ(isoLocalTime(116444736000000000ull + 9999999), "1970-01-01T00:00:00+00:00");
  EXPECT_EQ(groupedNumber(2147483647u), "2,147,483,647");
}

}  // namespace
