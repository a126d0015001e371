#include "tools/cli_archives.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "tools/cli_ui.h"
#include "tools/system.h"

bool looksLikeArchive(const char* path) {
  SysFileInfo info;
  if (!sysFileInfo(path, &info) || !info.regular) return false;
  const int fd = sysOpenInput(path);
  if (fd < 0) return false;
  char head[2] = {0, 0};
  const bool got = read(fd, head, 2) == 2;
  close(fd);
  return got && head[0] == 'M' && head[1] == 'Z';
}

void splitOperands(const std::vector<const char*>& rest, std::vector<const char*>* archives,
                   std::vector<const char*>* names) {
  for (const char* operand : rest) (looksLikeArchive(operand) ? archives : names)->push_back(operand);
}

int runEachArchive(const std::vector<const char*>& archives, int (*one)(const char* archive), bool jsonArray,
                   const char* between) {
  // A process the system started anew for one archive runs just that one.
  if (const char* only = sysArchiveApart()) return one(only);
  int worst = ExitOk;
  std::string documents;
  for (size_t i = 0; i < archives.size() && !interruptSignal; ++i) {
    if (i && between && !jsonArray) fputs(between, stdout);
    fflush(stdout);
    fflush(stderr);
    std::string document;
    int code = sysRunApart(one, archives[i], jsonArray, &document);
    if (code == kApartNotStarted) cliFail(ExitIo, "cannot start a process for the next archive");
    if (code == kApartInterrupted) code = ExitInterrupted;
    if (code < 0) code = ExitIo;
    if (code > worst) worst = code;
    if (!document.empty()) {
      while (!document.empty() && document.back() == '\n') document.pop_back();
      documents += (documents.empty() ? "" : ",\n") + document;
    }
  }
  if (jsonArray) {
    fputs(("[\n" + documents + (documents.empty() ? "]\n" : "\n]\n")).c_str(), stdout);
    fflush(stdout);
  }
  if (interruptSignal && worst < ExitInterrupted) worst = ExitInterrupted;
  return worst;
}
