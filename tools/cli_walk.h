// Walks every entry of the opened archive without writing anything: the
// records are read with the driver's checks, and every file's data is
// decoded in skip mode (the format stores no data lengths, so this is the
// only way to the next record) with the head ring kept as extraction keeps
// it.
#pragma once
#include <string>

#include "archive/entries.h"

// `seen` is called once a record has been read (before a file's data is
// decoded), `verified` after its data decoded to its recorded size; either
// may be null. Damage ends the process through the core's fatal exits; an
// interruption is reported and ends it with ExitInterrupted. On return the
// archive file is closed.
void walkEntries(void (*seen)(const EntryHeader*), void (*verified)(const EntryHeader*));

// The entry name shown as a path ("docs/", "docs/a.txt").
std::string shownName(const EntryHeader* h);
