#include "fuzz_cli.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "fuzz_support.h"
#include "tools/cli_ui.h"
#include "tools/embedded_stub.h"

// No stub of the build is embedded here: list calls every archive's stub
// another one.
const uint8_t* embeddedStub(uint32_t* size) {
  *size = 0;
  return 0;
}

static bool insideCommand;

extern "C" [[noreturn]] void __real_exit(int code);

// Every exit() of the program's own code comes here; inside a command it
// unwinds to runCli, elsewhere (the fuzzer's own exits) it ends the process.
extern "C" [[noreturn]] void __wrap_exit(int code) {
  if (insideCommand) throw FuzzExit{code};
  __real_exit(code);
}

void cliFuzzInitialize() {
  const int null = open("/dev/null", O_RDONLY);
  dup2(null, 0);
  close(null);
  setenv("TZ", "UTC", 1);
}

int runCli(int (*command)(int, char**), const std::vector<std::string>& args) {
  std::vector<std::string> copies = args;
  std::vector<char*> argv;
  for (std::string& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  cli = CliState{};
  interruptSignal = 0;
  insideCommand = true;
  int code;
  try {
    code = command((int)copies.size(), argv.data());
  } catch (const FuzzExit& e) {
    code = e.code;
  }
  insideCommand = false;
  return code;
}
