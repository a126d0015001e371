// Host-only additions to the file side of the seam.
#pragma once
#include "platform/platform.h"

// Reads the file behind `h`, open for reading at its start and not through
// pfOpenFile, ahead in large pieces as pfOpenFile's reading files are.
void hostReadAhead(FileHandle h);
