// The wildcard matcher under both sets of rules (stored names for list,
// test and extract; host paths for pack --exclude), and the pieces of pack's
// exclusions and path lists that take what the user typed.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tools/name_match.h"
#include "tools/pack_select.h"

namespace {

const MatchRules kEntries = {EncodingCp932, '\\', true, false};
const MatchRules kHost = {EncodingUtf8, '/', false, true};

bool entry(const std::string& pattern, const std::string& name) {
  return wildcardMatch(pattern.data(), pattern.size(), name.data(), name.size(), kEntries);
}
bool host(const std::string& pattern, const std::string& path) {
  return wildcardMatch(pattern.data(), pattern.size(), path.data(), path.size(), kHost);
}

TEST(NameMatch, StoredNamesStarCrossesFoldersQuestionAndSetsDoNot) {
  EXPECT_TRUE(entry("*.txt", "a.txt"));
  EXPECT_TRUE(entry("*.txt", "docs\\sub\\a.txt"));  // as unzip: "*" takes the separator
  EXPECT_TRUE(entry("docs\\*", "docs\\sub\\b"));
  EXPECT_FALSE(entry("docs\\*", "docs"));
  EXPECT_TRUE(entry("d?cs", "docs"));
  EXPECT_FALSE(entry("docs?a", "docs\\a"));  // "?" never a separator
  EXPECT_FALSE(entry("docs[\\]a", "docs\\a"));
  EXPECT_TRUE(entry("[a-c]x", "bx"));
  EXPECT_FALSE(entry("[!a-c]x", "bx"));
  EXPECT_TRUE(entry("[^a-c]x", "dx"));
  EXPECT_TRUE(entry("[]]", "]"));           // "]" first is itself
  EXPECT_TRUE(entry("a[b", "a[b"));          // "[" without "]" is itself
  EXPECT_TRUE(entry("[[]1]", "[1]"));
  EXPECT_FALSE(entry("README.txt", "readme.txt"));  // case counts
  EXPECT_TRUE(entry("", ""));
  EXPECT_FALSE(entry("", "a"));
  EXPECT_TRUE(entry("***", ""));
}

TEST(NameMatch, DoubleByteCharactersAreWholeAndTheirSecondByteNoSeparator) {
  const std::string so = "\x83\x5C";  // ソ: its second byte is "\"
  EXPECT_TRUE(entry("?", so));        // one character, not two
  EXPECT_FALSE(entry("??", so));
  EXPECT_TRUE(entry(so + "*", so + "\\x"));
  EXPECT_TRUE(entry("*", so + "x"));
  EXPECT_FALSE(entry(so, "\x83"));
  // 表 is 0x955C, 資 is 0x8E91: a range between double-byte characters.
  EXPECT_TRUE(entry("[\x8E\x91-\x95\x5C]", "\x95\x5C"));
  EXPECT_FALSE(entry("[\x8E\x91-\x95\x5C]", "a"));
  // With UTF-8 host names, "?" is one character of several bytes.
  EXPECT_TRUE(host("?.txt", "\xE8\xA1\xA8.txt"));
  EXPECT_FALSE(host("??.txt", "\xE8\xA1\xA8.txt"));
  EXPECT_TRUE(host("\xFF?", "\xFF" "a"));  // a byte that is no UTF-8 still matches itself
}

TEST(NameMatch, HostPathsStarStaysInOneFolderAndDoubleStarTakesAny) {
  EXPECT_TRUE(host("*.o", "main.o"));
  EXPECT_FALSE(host("*.o", "src/main.o"));
  EXPECT_TRUE(host("**/*.o", "main.o"));  // none included
  EXPECT_TRUE(host("**/*.o", "a/b/c/main.o"));
  EXPECT_TRUE(host("a/**/z", "a/z"));
  EXPECT_TRUE(host("a/**/z", "a/b/c/z"));
  EXPECT_FALSE(host("a/**/z", "a/b/c/zz"));
  EXPECT_TRUE(host("a/**", "a/b/c"));
  EXPECT_TRUE(host("a/**/**/b", "a/x/b"));
  EXPECT_TRUE(host("a**b", "axxb"));  // "**" inside a name is a star
  EXPECT_FALSE(host("a**b", "ax/xb"));
  EXPECT_TRUE(host("\\*", "*"));  // the escape
  EXPECT_FALSE(host("\\*", "x"));
  EXPECT_TRUE(host("[\\]]", "]"));
}

TEST(NameMatch, ManyStarsOnALongNameStayLinear) {
  // A naive backtracking matcher takes exponential time here.
  const std::string name(20000, 'a');
  EXPECT_FALSE(entry("*a*a*a*a*a*a*a*a*a*a*a*a*b", name));
  EXPECT_TRUE(entry("*a*a*a*a*a*a*a*a*a*a*a*a*", name));
  std::string deep;
  for (int i = 0; i < 2000; ++i) deep += "a/";
  deep += "b";
  EXPECT_FALSE(host("**/a/**/a/**/a/**/c", deep));
  EXPECT_TRUE(host("**/a/**/a/**/b", deep));
}

bool excluded(const std::vector<std::string>& patterns, const std::string& path) {
  PackSelection s;
  std::string why;
  for (const std::string& p : patterns) EXPECT_TRUE(addExcludePattern(&s, p, &why)) << p;
  return pathExcluded(&s, path, "/nonexistent/" + path);
}

TEST(PackSelect, ExclusionsWithoutSlashMatchAnyDepthWithSlashAreAnchored) {
  EXPECT_TRUE(excluded({".git"}, ".git"));
  EXPECT_TRUE(excluded({".git"}, "vendor/lib/.git"));
  EXPECT_FALSE(excluded({".git"}, "vendor/.github"));
  EXPECT_TRUE(excluded({"*.o"}, "a/b.o"));
  EXPECT_TRUE(excluded({"docs/*.tmp"}, "docs/x.tmp"));
  EXPECT_FALSE(excluded({"docs/*.tmp"}, "sub/docs/x.tmp"));
  EXPECT_TRUE(excluded({"/build"}, "build"));
  EXPECT_FALSE(excluded({"/build"}, "src/build"));
  EXPECT_FALSE(excluded({"./build/"}, "build"));  // folders only, and this one is no folder on disk
  PackSelection s;
  std::string why;
  EXPECT_FALSE(addExcludePattern(&s, "/", &why));
  EXPECT_FALSE(addExcludePattern(&s, "./", &why));
  EXPECT_NE(why.find("names nothing"), std::string::npos);
}

TEST(PackSelect, ListsSkipBlankEntriesKeepOrderAndNeedNullForNulBytes) {
  char path[] = "/tmp/vellicor-list-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  auto write = [&](const std::string& text) {
    FILE* f = fopen(path, "wb");
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
  };
  std::vector<std::string> got;
  std::string why;
  write("b.txt\n\n   \r\na dir/c.txt\r\n\t\nz");
  ASSERT_TRUE(readPathList(path, false, &got, &why)) << why;
  EXPECT_EQ(got, (std::vector<std::string>{"b.txt", "a dir/c.txt", "z"}));

  got.clear();
  const char nulList[] = "one\0two\nlines\0\0 \0last\r";
  write(std::string(nulList, sizeof nulList - 1));
  ASSERT_TRUE(readPathList(path, true, &got, &why)) << why;
  EXPECT_EQ(got, (std::vector<std::string>{"one", "two\nlines", "last\r"}));  // NUL lists keep every other byte

  got.clear();
  EXPECT_FALSE(readPathList(path, false, &got, &why));
  EXPECT_NE(why.find("--null"), std::string::npos) << why;
  EXPECT_FALSE(readPathList("/nonexistent/list", false, &got, &why));
  EXPECT_EQ(why.compare(0, 7, "cannot "), 0) << why;
  close(fd);
  unlink(path);

  std::string name;
  ASSERT_TRUE(listedPathName("./docs//a.txt/", &name, &why));
  EXPECT_EQ(name, "docs/a.txt");
  ASSERT_TRUE(listedPathName(".", &name, &why));
  EXPECT_EQ(name, "");
  EXPECT_FALSE(listedPathName("/etc/passwd", &name, &why));
  EXPECT_FALSE(listedPathName("docs/../../x", &name, &why));
}

}  // namespace
