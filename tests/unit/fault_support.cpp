#include "fault_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "encode_support.h"

namespace fs = std::filesystem;

namespace {

struct Layout {
  std::vector<PackItem> items;
  std::vector<std::string> order;
  std::map<std::string, Bytes> tree;
};

const Layout& layout() {
  static const Layout l = [] {
    Layout l;
    auto folder = [&](const std::string& cp932, const std::string& shown) {
      PackItem it;
      it.name = cp932;
      it.folder = true;
      l.items.push_back(it);
      l.order.push_back(shown + "/");
      l.tree[shown + "/"] = {};
    };
    auto file = [&](const std::string& cp932, const std::string& shown, const Bytes& content,
                    const std::string& madeFolder = "") {
      PackItem it;
      it.name = cp932;
      it.content = content;
      l.items.push_back(it);
      if (!madeFolder.empty()) {
        l.order.push_back(madeFolder + "/");
        l.tree[madeFolder + "/"] = {};
      }
      l.order.push_back(shown);
      l.tree[shown] = content;
    };
    const Bytes readme = pseudoText(3000, 1);
    Bytes copy(readme.begin(), readme.begin() + 2000);
    const Bytes tail = pseudoText(700, 2);
    copy.insert(copy.end(), tail.begin(), tail.end());
    folder("docs", "docs");
    file("docs\\readme.txt", "docs/readme.txt", readme);
    file("big.txt", "big.txt", pseudoText(100000, 3));
    file("empty.txt", "empty.txt", {});
    file("new\\copy.txt", "new/copy.txt", copy, "new");
    file("\x95\x5C\\\x83\x5C.txt", "表/ソ.txt", pseudoText(500, 4), "表");
    return l;
  }();
  return l;
}

}  // namespace

const Bytes& faultTestArchive() {
  static const Bytes archive = packItems(layout().items);
  return archive;
}

const std::map<std::string, Bytes>& faultTestTree() { return layout().tree; }
const std::vector<std::string>& faultTestOrder() { return layout().order; }

size_t entriesBeforeFile(uint32_t n) {
  const std::vector<std::string>& order = faultTestOrder();
  for (size_t i = 0; i < order.size(); ++i)
    if (order[i].back() != '/' && --n == 0) return i;
  return order.size();
}

std::map<std::string, Bytes> treeBelow(const std::string& root) {
  std::map<std::string, Bytes> tree;
  std::error_code ec;
  for (auto& e : fs::recursive_directory_iterator(root, ec)) {
    const std::string rel = fs::relative(e.path(), root).string();
    if (e.is_directory()) tree[rel + "/"] = {};
    else tree[rel] = readFileBytes(e.path().string());
  }
  return tree;
}

void expectFinishedPrefix(const std::map<std::string, Bytes>& tree, const std::string& what) {
  const std::vector<std::string>& order = faultTestOrder();
  ASSERT_LE(tree.size(), order.size()) << what;
  for (size_t i = 0; i < tree.size(); ++i) {
    auto found = tree.find(order[i]);
    ASSERT_NE(found, tree.end()) << what << ": " << order[i] << " is missing, later entries are there";
    EXPECT_TRUE(found->second == faultTestTree().at(order[i])) << what << ": " << order[i] << " is incomplete";
  }
}

ProgramRun runProgram(const std::string& exe, const std::vector<std::string>& args, const std::string& dir,
                      const std::vector<std::string>& env) {
  char tmpl[] = "/tmp/vellicor-run-XXXXXX";
  const std::string io = mkdtemp(tmpl);
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(120);
    unsetenv("VELLICOR_PASSWORD");
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    setenv("LANG", "C.UTF-8", 1);
    setenv("TZ", "UTC", 1);
    for (const std::string& e : env) putenv(strdup(e.c_str()));
    const int in = open("/dev/null", O_RDONLY);
    const int out = open((io + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open((io + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(in, 0), dup2(out, 1), dup2(err, 2);
    std::vector<char*> argv{(char*)exe.c_str()};
    for (const std::string& a : args) argv.push_back((char*)a.c_str());
    argv.push_back(0);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  const Bytes out = readFileBytes(io + "/out"), err = readFileBytes(io + "/err");
  fs::remove_all(io);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), std::string(out.begin(), out.end()),
          std::string(err.begin(), err.end())};
}
