// Making every missing folder along a folder path.
#pragma once
#include "fileio/byte_string.h"

// Returns true when every folder along `path` exists afterwards; otherwise
// false with the prefix that could not be made in `failed`.
bool createFolderPath(const char* path, ByteString* failed);
// "フォルダが作れませんでした:" + folder, the archive closed, exit code 0.
[[noreturn]] void failFolder(const char* folder);
