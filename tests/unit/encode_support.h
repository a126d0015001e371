// Round trips for the encoder's tests: archives written by ArchiveWriter and
// read back by the core exactly as the stub reads them.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "core_support.h"
#include "encode/archive_writer.h"

// One entry to store: a folder (name without "\.") or a file.
struct PackItem {
  std::string name;  // code page 932, "\" separators
  bool folder = false;
  Bytes content;
  FileTimes times = {130000000000000000ull, 130000000000000001ull, 130000000000000002ull};
};

// Writes an archive of the items with `stub` (by default the test stub
// image); returns its bytes.
// `feedPiece` splits each file's data after the look-ahead into pieces of
// that size (to exercise the streaming path); kFeedAsPack feeds them as
// `vellicor pack` does: whole (held, coded by the writer's threads) when the
// writer takes the file whole, else streamed.
static const size_t kFeedAsPack = 0;
Bytes packItems(const std::vector<PackItem>& items, ArchiveSettings settings = {}, size_t feedPiece = 1 << 20,
                ArchiveStats* stats = 0, const Bytes* stub = 0);

// What the core reads back from an archive.
struct ReadEntry {
  std::string name;
  bool folder;
  Bytes content;
  uint64_t creation, lastAccess, lastWrite;
};
// Opens the archive as start-up does (size check, header), then reads every
// entry with the core's driver procedures, decoding each file in skip mode
// and taking its content from the head ring and a capture of the output.
// Returns the exit code of a fatal stop, or -1 when the run finished.
int readBack(const Bytes& archive, const std::string& password, std::vector<ReadEntry>* entries,
             std::string* comment = 0, std::string* launch = 0);
