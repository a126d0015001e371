// Folder and file paths in code page 932, stepped by characters so that the
// second byte of a double-byte character is never taken for a separator.
#pragma once
#include "fileio/byte_string.h"

enum FolderState : unsigned char { FolderExists = 0, FolderMissing = 1, FolderIsFile = 2 };

// "" gives ".\"; otherwise a "\" is appended unless the last character is one.
void withTrailingBackslash(const char* path, ByteString* out);
FolderState folderState(const char* folderPath);
// The leading part of a file path up to its last "\" (empty without one).
void folderPartOf(const char* path, ByteString* out);
// False for a name that could leave the target folder or reach something
// hidden: a leading "\" or "/", a component (split by both) made only of
// dots and spaces other than "." (such as ".."), a ":" (drive or alternate
// stream), or a "*" or "?" (a search pattern).
bool entryNameIsSafe(const char* name);
