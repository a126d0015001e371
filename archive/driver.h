// The extraction run: every entry of the block stream becomes a folder or a
// file below the target folder.
#pragma once
#include "archive/entries.h"
#include "decode/decoder.h"
#include "platform/platform.h"

// The working state of one run, allocated once for the whole run.
struct RunState {
  HeadRing ring;
  DecoderState decoder;
};

// Allocates the run's state, clears the cancel flag, the previous name and
// endOfArchive, and resets the head ring from the stub image.
RunState* beginRun();
void endRun(RunState* run);

// Extracts every entry below `targetFolder` (ends with "\"). Returns when the
// archive is done or the cancel flag is set; fatal failures end the process.
void extractAll(const char* targetFolder);

// Reads the next record and, for a file entry, checks it and sets its slot
// length. Used by the run above and by readers that only look (list, test).
void readNextEntry(RunState* run, const char* targetFolder, EntryHeader* h);
// Copies the shared prefix into the current slot and decodes the rest
// (skip: decoded, captured, not written).
void decodeFileEntry(RunState* run, const EntryHeader* h, bool skip);

// The steps of a run that other runs over the same entries share (the
// tool's extraction of selected entries):
// the progress line: the status word of `id` followed by the entry's path;
void showEntryStatus(StatusId id, const ByteString* path);
// every missing folder along `folderPath` made, or the run ended through
// failFolder;
void makeFolderPathOrFail(const char* folderPath);
// the output file bound to `path` and created in `folder`, which
// makeFolderPathOrFail has just made; a failure is left pending, or the run
// ends through failFolder when a folder that went away cannot be made again;
void createOutputFile(const ByteString* path, const ByteString* folder);
// the question before anything at `path` is replaced: false when the user
// cancels (the cancel flag is then set), *skip set for No.
bool askBeforeReplacing(const ByteString* path, bool* skip);
