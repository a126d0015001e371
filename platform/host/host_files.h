// Host-only additions to the file side of the seam.
#pragma once
#include <string>

#include "platform/platform.h"

// Reads the file behind `h`, open for reading at its start and not through
// pfOpenFile, ahead in large pieces as pfOpenFile's reading files are.
void hostReadAhead(FileHandle h);

// A code page 932 path with "\" separators as the UTF-8 path with "/" that
// the system is given. False when the name has no UTF-8 form (invalid code
// page 932 bytes).
bool hostPath(const char* name, std::string* out);
