// Making every missing folder along a folder path.
#pragma once
#include "fileio/byte_string.h"

// Returns true when every folder along `path` exists afterwards; otherwise
// false with the prefix that could not be made in `failed`.
//
// Within a run the walk remembers the folder path of its last successful
// walk, and a later path takes every folder it shares with that one as
// there without a look: a tree extracted in order probes only the folders
// it has not passed yet. When making a folder below remembered ones fails,
// the walk is done again from the start, looking at every folder, so that a
// folder that went away meanwhile is made again, as a walk without memory
// would; when every folder up to the failed one is still there, the failure
// stands.
bool createFolderPath(const char* path, ByteString* failed);
// Forgets the remembered folders (at the start of every run).
void forgetFolders();
// After creating something in the folder `path` failed, right after
// createFolderPath succeeded for it: when that walk took folders from
// memory, walks `path` again from the start, looking at every folder. True
// when that walk found a folder missing and made it, so that the creation
// is worth another try; false when it made nothing (the failure stands) or
// could not make a folder (`failed` names it, as createFolderPath does).
bool remakeFolderPath(const char* path, ByteString* failed);
// "フォルダが作れませんでした:" + folder, the archive closed, exit code 0.
[[noreturn]] void failFolder(const char* folder);
