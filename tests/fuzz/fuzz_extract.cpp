// `vellicor extract` over an archive in memory into a scratch folder, which
// is emptied after every input: the whole run as the program makes it,
// folders, files, overwrite policies, damage found halfway. Nothing may
// appear beside the target folder, and the run ends with one of the
// program's documented exit codes.
#include <dirent.h>
#include <stdlib.h>
#include <string.h>

#include "fuzz_cli.h"
#include "fuzz_support.h"
#include "tools/cli_commands.h"
#include "tools/cli_ui.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  cliFuzzInitialize();
  return 0;
}

// Names in `folder` (without . and ..).
static int entriesIn(const std::string& folder) {
  DIR* d = opendir(folder.c_str());
  if (!d) return -1;
  int n = 0;
  while (struct dirent* e = readdir(d))
    if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) ++n;
  closedir(d);
  return n;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const ArchiveCase c = archiveCase(data, size);
  beginRunInProcess();
  // scratch/a/target is what the run may fill: a name that led out of it
  // would show beside it, in scratch/a or scratch.
  const std::string scratch = scratchFolder();
  const std::string target = scratch + "/a/target";
  int fd;
  const std::string path = memoryFile(c.file, &fd);
  if (c.key.empty()) unsetenv("VELLICOR_PASSWORD");
  else setenv("VELLICOR_PASSWORD", std::string(c.key.begin(), c.key.end()).c_str(), 1);
  setenv("LANG", (c.mode & 8) ? "ja_JP.UTF-8" : "C.UTF-8", 1);
  static const char* const kPolicies[] = {"--overwrite=all", "--overwrite=none", "-q", "-q"};
  const int code = runCli(cliExtract, {"extract", kPolicies[(c.mode >> 1) & 3], path, "-o", target});
  FUZZ_CHECK(code == ExitOk || code == ExitDamaged || code == ExitPassword || code == ExitIo ||
             code == ExitOverwriteRefused);
  FUZZ_CHECK(entriesIn(scratch) <= 1 && entriesIn(scratch + "/a") <= 1);
  endRunInProcess();
  emptyFolder(scratch);
  return 0;
}
