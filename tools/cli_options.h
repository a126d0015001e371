// Command lines of list, test and extract.
#pragma once
#include <stdio.h>

#include <vector>

#include "tools/cli_ui.h"

struct CliOptions {
  const char* archive;                // the first operand
  std::vector<const char*> operands;  // the ones after it: names (and, for list and test, more archives)
  const char* outputDir;     // extract -o
  const char* passwordFile;  // --password-file
  bool quiet, json, verbose, help;
  bool toStdout;             // extract -c
  bool overwriteGiven;
  OverwritePolicy overwrite;
};

// Parses argv[1..] for `mode`. On a wrong command line prints why and
// returns false.
bool parseCliOptions(int argc, char** argv, CliMode mode, CliOptions* o);
void printCliUsage(CliMode mode, FILE* out);
// The exit codes of list, test and extract (each command's --help ends with them).
void printCliExitCodes(FILE* out);
// How NAME operands select entries (list, test and extract --help).
void printCliNamesHelp(FILE* out);
