// vellicor extract with NAMEs or -c: the extraction run of the core, step
// for step, with two changes. An entry that is not selected is read and its
// data decoded without writing (later files may start with its bytes or use
// them as context), and no folder is made for it. With `toStdout`, a
// selected file's bytes go to standard output instead of a file, and
// nothing is made on disk.
#pragma once
#include "tools/cli_select.h"

// Runs below `targetFolder` (".\"). Returns when the archive is done or
// the cancel flag is set; fatal failures end the process, as in the core.
void extractSelected(const char* targetFolder, Selection* selection, bool toStdout);
