// pack's calls for its inputs by path: opening a file and listing a folder.
// They pass to system.h (pack_system.cpp); a test program defines them
// itself, in place of that file, to fail them or to change a file while it
// is read. On failure *error is the system's code (for sysErrorText).
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

// A C runtime descriptor read with packRead (encode/pack_io.h), or -1.
int packOpenInput(const std::string& path, uint32_t* error);
bool packListFolder(const std::string& path, std::vector<std::string>* names, uint32_t* error);
