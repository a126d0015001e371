// vellicor: makes and reads self-extracting files. Dispatches to one
// sub-command per file (cli_*.cpp); to add one, declare it in
// cli_commands.h and list it here.
#include <stdio.h>
#include <string.h>

#include "tools/cli_commands.h"
#include "tools/embedded_stub.h"
#include "tools/sha256.h"
#include "tools/system.h"

namespace {

struct Command {
  const char* name;
  int (*run)(int argc, char** argv);
  const char* summary;
};

const Command kCommands[] = {
    {"pack", cliPack, "make a self-extracting file from files and folders"},
    {"list", cliList, "show the entries, comment and settings of a self-extracting file"},
    {"test", cliTest, "decode every entry without writing and verify every check"},
    {"extract", cliExtract, "extract every entry or the NAMEs given (into the current folder or -o DIR)"},
};

void usage(FILE* to) {
  fprintf(to, "usage: vellicor COMMAND [options] ...\n       vellicor --version\n\ncommands:\n");
  for (const Command& c : kCommands) fprintf(to, "  %-9s %s\n", c.name, c.summary);
  fprintf(to,
          "\noptions:\n"
          "  -V, --version  show the version and the SHA-256 of the stub that pack embeds\n"
          "  -h, --help     show this help\n"
          "\n'vellicor COMMAND --help' describes a command.\n");
}

// The version, and the stub that every archive made here starts with (an
// archive opens only with the stub it was made with).
void version() {
  uint32_t size = 0;
  const uint8_t* stub = embeddedStub(&size);
  printf("vellicor %s\nstub SHA-256 %s\n", VELLICOR_VERSION, sha256Hex(stub, size).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  sysStartProcess(&argc, &argv);
  if (argc < 2) {
    usage(stderr);
    return 1;
  }
  if (!strcmp(argv[1], "--help") || !strcmp(argv[1], "-h") || !strcmp(argv[1], "help")) {
    usage(stdout);
    return 0;
  }
  if (!strcmp(argv[1], "--version") || !strcmp(argv[1], "-V")) {
    version();
    return 0;
  }
  for (const Command& c : kCommands)
    if (!strcmp(argv[1], c.name)) return c.run(argc - 1, argv + 1);
  fprintf(stderr, "vellicor: unknown command '%s'\n\n", argv[1]);
  usage(stderr);
  return 1;
}
