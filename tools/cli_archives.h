// Several archives on one command line (list and test): which operands
// are archives, and running the command once per archive.
#pragma once
#include <vector>

// True when `path` names a file that begins as every self-extracting file
// does, with the two bytes "MZ" of a Windows program.
bool looksLikeArchive(const char* path);

// The operands after the first (which is always an archive): each one
// that looksLikeArchive is another archive, every other one a name or
// pattern that selects entries.
void splitOperands(const std::vector<const char*>& rest, std::vector<const char*>* archives,
                   std::vector<const char*>* names);

// Runs `one` for each archive in turn, each in a process of its own (a
// damaged or unreadable archive ends its process from deep inside the
// reader, and the next one starts from a clean state). Returns the highest
// exit code of them; stops early after an interruption. With `jsonArray`,
// what each run writes to standard output is one JSON document, and they
// are printed as one JSON array (a run that fails writes none).
// `between` is printed to standard output before every archive but the first.
int runEachArchive(const std::vector<const char*>& archives, int (*one)(const char* archive), bool jsonArray,
                   const char* between);
