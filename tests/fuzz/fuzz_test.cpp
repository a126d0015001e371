// `vellicor test` and `vellicor list` (text and JSON) over an archive in
// memory: the whole run as the program makes it, from opening the file and
// taking the password to the last entry. Whatever the input, the run ends
// with one of the program's documented exit codes.
#include <stdlib.h>

#include "fuzz_cli.h"
#include "fuzz_support.h"
#include "tools/cli_commands.h"
#include "tools/cli_ui.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  cliFuzzInitialize();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const ArchiveCase c = archiveCase(data, size);
  beginRunInProcess();
  int fd;
  const std::string path = memoryFile(c.file, &fd);
  if (c.key.empty()) unsetenv("VELLICOR_PASSWORD");
  else setenv("VELLICOR_PASSWORD", std::string(c.key.begin(), c.key.end()).c_str(), 1);
  setenv("LANG", (c.mode & 8) ? "ja_JP.UTF-8" : "C.UTF-8", 1);
  int code;
  switch ((c.mode >> 1) & 3) {
    case 0: code = runCli(cliTest, {"test", path}); break;
    case 1: code = runCli(cliTest, {"test", "-v", path}); break;
    case 2: code = runCli(cliList, {"list", path}); break;
    default: code = runCli(cliList, {"list", "--json", path}); break;
  }
  FUZZ_CHECK(code == ExitOk || code == ExitDamaged || code == ExitPassword || code == ExitIo);
  endRunInProcess();
  return 0;
}
