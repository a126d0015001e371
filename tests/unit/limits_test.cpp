// Limits of the format through the real program: archives of 255, 256 and
// 257 files (the head ring wraps, and the 256th file takes the stub's slot),
// names and folders at the path limit and one byte past it, and names whose
// double-byte characters end in 0x5C. Each packs, tests and extracts byte
// for byte, or fails with a clear message and nothing partial.
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>

#include "fault_support.h"

namespace fs = std::filesystem;

namespace {

struct Limits : ::testing::Test {
  std::string dir;
  void SetUp() override {
    char tmpl[] = "/tmp/vellicor-limits-XXXXXX";
    dir = mkdtemp(tmpl);
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string at(const std::string& rel) const { return dir + "/" + rel; }
  void file(const std::string& rel, const Bytes& content) {
    fs::create_directories(fs::path(at(rel)).parent_path());
    writeFileBytes(at(rel), content);
  }
  ProgramRun vellicor(const std::vector<std::string>& args) { return runProgram(VELLICOR_EXE, args, dir); }
  // Packs `input` into a.exe, tests it, and extracts it into `out`.
  ProgramRun packTestExtract(const std::string& input, const std::string& out) {
    const ProgramRun p = vellicor({"pack", "-q", "--level", "1", "-o", "a.exe", input});
    EXPECT_EQ(p.code, 0) << p.err;
    const ProgramRun t = vellicor({"test", "a.exe"});
    EXPECT_EQ(t.code, 0) << t.err;
    return vellicor({"extract", "a.exe", "-o", out});
  }
};

TEST_F(Limits, TheRingWrapsAt255And256And257Files) {
  for (int files : {255, 256, 257}) {
    fs::remove_all(at("r"));
    fs::remove_all(at("out"));
    // Copies of files up to 250 places back, and copies with a new tail,
    // so that late files refer back across the wrap.
    std::vector<Bytes> content(files);
    for (int i = 0; i < files; ++i) {
      if (i >= 250 && i % 2 == 0) content[i] = content[i - 250];
      else if (i >= 200 && i % 2 == 1) {
        content[i] = content[i - 200];
        const Bytes tail = pseudoText(50, i);
        content[i].insert(content[i].end(), tail.begin(), tail.end());
      } else {
        content[i] = pseudoText(100 + (i * 53) % 900, i);
      }
      char name[32];
      snprintf(name, sizeof name, "r/f%03d.txt", i);
      file(name, content[i]);
    }
    const ProgramRun e = packTestExtract("r", "out");
    EXPECT_EQ(e.code, 0) << files << e.err;
    EXPECT_EQ(treeBelow(at("out/r")), treeBelow(at("r"))) << files;
    // The archive really reaches far back.
    const ProgramRun list = vellicor({"list", "--json", "a.exe"});
    EXPECT_NE(list.out.find("\"back\": 250"), std::string::npos) << files;
  }
}

TEST_F(Limits, FileNamesUpToThePathLimitAndOneBytePast) {
  // Extraction names a file ".\" + its stored name; the path limit is 259
  // bytes, so stored names of 257 bytes fit and 258 do not. Stored names
  // begin with "src\" and the 200-byte folder and its "\".
  const std::string folder(200, 'a');
  const std::string fits(257 - 4 - 201, 'b'), past(258 - 4 - 201, 'c');
  file("src/" + folder + "/" + fits, pseudoText(5000, 1));
  file("src/" + folder + "/" + past, pseudoText(6000, 2));
  const ProgramRun e = packTestExtract("src", "out");
  EXPECT_EQ(e.code, 4);
  EXPECT_NE(e.err.find("cannot write \"out/src/" + folder + "/" + past + "\": the path is longer than 259 bytes."),
            std::string::npos)
      << e.err;
  const std::map<std::string, Bytes> tree = treeBelow(at("out"));
  EXPECT_EQ(tree.size(), 3u);  // src/, the folder, the file that fits
  EXPECT_TRUE(tree.at("src/" + folder + "/" + fits) == pseudoText(5000, 1));
}

TEST_F(Limits, FolderNamesUpToThePathLimitAndOneBytePast) {
  // A folder ".\src\" + name is made under its own name of 6 + n bytes.
  const std::string fits(259 - 6, 'd'), past(260 - 6, 'e');
  fs::create_directories(at("src/" + fits));
  EXPECT_EQ(packTestExtract("src", "out").code, 0);
  EXPECT_TRUE(fs::is_directory(at("out/src/" + fits)));

  fs::remove_all(at("src"));
  file("src/a.txt", pseudoText(100, 3));
  fs::create_directories(at("src/" + past));
  const ProgramRun e = packTestExtract("src", "out2");
  EXPECT_EQ(e.code, 4);
  EXPECT_NE(e.err.find("cannot create the folder \"out2/src/" + past + "\": File name too long."), std::string::npos)
      << e.err;
  EXPECT_TRUE(readFileBytes(at("out2/src/a.txt")) == pseudoText(100, 3));
}

TEST_F(Limits, NamesWhoseCharactersEndIn5C) {
  // ソ is 83 5C, 表 is 95 5C, 能 is 94 5C in code page 932: the 5C is no
  // separator, in a file name, in a folder name, at the end of either.
  file("src/表/ソ.txt", pseudoText(300, 4));
  file("src/ソ", pseudoText(200, 5));
  file("src/能力/表表/x表", pseudoText(400, 6));
  file("src/ソソ/表", pseudoText(100, 7));
  fs::create_directories(at("src/表ソ"));
  const ProgramRun e = packTestExtract("src", "out");
  EXPECT_EQ(e.code, 0) << e.err;
  EXPECT_EQ(treeBelow(at("out/src")), treeBelow(at("src")));
  const ProgramRun list = vellicor({"list", "a.exe"});
  for (const char* name : {"src/表/ソ.txt", "src/ソ\n", "src/能力/表表/x表", "src/ソソ/表\n", "src/表ソ/"})
    EXPECT_NE(list.out.find(name), std::string::npos) << name << list.out;
}

}  // namespace
