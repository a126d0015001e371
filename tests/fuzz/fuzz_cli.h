// Runs a command of the vellicor program inside the fuzzer's process: its
// exit() (linked with --wrap=exit) unwinds back here as a FuzzExit.
#pragma once
#include <string>
#include <vector>

// Runs `command` (cliList, cliTest, cliExtract) with the given arguments
// (the command's name first) and returns its exit code.
int runCli(int (*command)(int, char**), const std::vector<std::string>& args);
// Standard input from /dev/null, so nothing is ever asked.
void cliFuzzInitialize();
