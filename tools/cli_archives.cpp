#include "tools/cli_archives.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "tools/cli_ui.h"

bool looksLikeArchive(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  FILE* f = fopen(path, "rb");
  if (!f) return false;
  char head[2] = {0, 0};
  const size_t got = fread(head, 1, 2, f);
  fclose(f);
  return got == 2 && head[0] == 'M' && head[1] == 'Z';
}

void splitOperands(const std::vector<const char*>& rest, std::vector<const char*>* archives,
                   std::vector<const char*>* names) {
  for (const char* operand : rest) (looksLikeArchive(operand) ? archives : names)->push_back(operand);
}

// Everything a child writes to `fd` until it closes it.
static std::string drain(int fd) {
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, (size_t)n);
  }
  return text;
}

static int waitFor(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return ExitIo;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  const int signal = WTERMSIG(status);
  return signal == SIGINT || signal == SIGTERM || signal == SIGHUP ? (int)ExitInterrupted : (int)ExitIo;
}

int runEachArchive(const std::vector<const char*>& archives, int (*one)(const char* archive), bool jsonArray,
                   const char* between) {
  int worst = ExitOk;
  std::string documents;
  for (size_t i = 0; i < archives.size() && !interruptSignal; ++i) {
    if (i && between && !jsonArray) fputs(between, stdout);
    fflush(stdout);
    fflush(stderr);
    int pipeEnds[2] = {-1, -1};
    if (jsonArray && pipe(pipeEnds) != 0) cliFail(ExitIo, "cannot make a pipe");
    const pid_t pid = fork();
    if (pid < 0) cliFail(ExitIo, "cannot start a process for the next archive");
    if (pid == 0) {
      if (jsonArray) {
        close(pipeEnds[0]);
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[1]);
      }
      const int code = one(archives[i]);
      fflush(stdout);
      exit(code);
    }
    std::string document;
    if (jsonArray) {
      close(pipeEnds[1]);
      document = drain(pipeEnds[0]);
      close(pipeEnds[0]);
    }
    const int code = waitFor(pid);
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
