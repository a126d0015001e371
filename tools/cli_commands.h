// The sub-commands of the vellicor program. Each lives in its own file and
// takes the arguments after its name (argv[0] is the command's name);
// its result is the process exit code. main.cpp lists them.
#pragma once

int cliPack(int argc, char** argv);

// Look inside, verify and extract a self-extracting file (cli_list.cpp,
// cli_test.cpp, cli_extract.cpp). Fatal failures end the process from
// inside with the exit codes their --help lists (printCliExitCodes).
int cliList(int argc, char** argv);
int cliTest(int argc, char** argv);
int cliExtract(int argc, char** argv);
