// The archive that the fault and limit tests extract, what extracting it
// gives, and running a program of ours as a user would.
#pragma once
#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "core_support.h"

// Made by our creator with the test stub: a folder, files of several sizes
// (one written in several pieces), an empty file, a file that begins with
// an earlier file's head, files in folders the archive holds no entry for,
// and names with 0x5C as the second byte of a character.
const Bytes& faultTestArchive();
// What extracting it gives: relative UTF-8 path ("dir/" for a folder) to
// content, and the same in the order extraction makes them.
const std::map<std::string, Bytes>& faultTestTree();
const std::vector<std::string>& faultTestOrder();
// How many entries of faultTestOrder come before its n-th file (from 1).
size_t entriesBeforeFile(uint32_t n);

// Every folder and file below `root` as faultTestTree has them.
std::map<std::string, Bytes> treeBelow(const std::string& root);
// `tree` is what extraction leaves when it stops: the first entries of
// faultTestOrder, each file complete.
void expectFinishedPrefix(const std::map<std::string, Bytes>& tree, const std::string& what);

struct ProgramRun {
  int code;
  std::string out, err;
};
// Runs `exe` with `args` in `dir`, stdin from /dev/null, the C.UTF-8 locale
// and TZ=UTC, plus `env` (NAME=value).
ProgramRun runProgram(const std::string& exe, const std::vector<std::string>& args, const std::string& dir,
                      const std::vector<std::string>& env = {});
