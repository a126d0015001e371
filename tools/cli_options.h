// Command lines of list, test and extract.
#pragma once
#include <stdio.h>

#include "tools/cli_ui.h"

struct CliOptions {
  const char* archive;
  const char* outputDir;     // extract -o
  const char* passwordFile;  // --password-file
  bool quiet, json, verbose, help;
  bool overwriteGiven;
  OverwritePolicy overwrite;
};

// Parses argv[1..] for `mode`. On a wrong command line prints why and
// returns false.
bool parseCliOptions(int argc, char** argv, CliMode mode, CliOptions* o);
void printCliUsage(CliMode mode, FILE* out);
// The exit codes of list, test and extract (each command's --help ends with them).
void printCliExitCodes(FILE* out);
