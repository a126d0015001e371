// Replays saved inputs through a fuzz target without libFuzzer: every file
// named, and every file below every folder named, in name order. The
// ordinary build runs the saved crashes and the seeds this way.
#include <dirent.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

static void collect(const std::string& path, std::vector<std::string>* files) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    fprintf(stderr, "replay: cannot read %s\n", path.c_str());
    _exit(2);
  }
  if (!S_ISDIR(st.st_mode)) {
    files->push_back(path);
    return;
  }
  DIR* d = opendir(path.c_str());
  std::vector<std::string> names;
  while (struct dirent* e = d ? readdir(d) : 0)
    if (e->d_name[0] != '.') names.push_back(e->d_name);
  if (d) closedir(d);
  std::sort(names.begin(), names.end());
  for (const std::string& n : names) collect(path + "/" + n, files);
}

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) collect(argv[i], &files);
  // What the target prints on stdout (the tool's listings) goes nowhere.
  const int null = open("/dev/null", O_WRONLY);
  for (const std::string& f : files) {
    std::ifstream in(f, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    fprintf(stderr, "replay: %s\n", f.c_str());
    fflush(stdout);
    dup2(null, 1);
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  fprintf(stderr, "replay: %zu inputs, no failure\n", files.size());
  return 0;
}
