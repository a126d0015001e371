// One pack run: the inputs (already collected, in archive order), the
// archive's settings, an output descriptor, a progress callback and a cancel
// flag in; the archive's bytes and one result out. Every front end (the
// command line, the window) gathers its options, collects its inputs and
// shows progress; the reading of the inputs and the writing of the archive
// are done here, so the same inputs and settings give the same bytes
// whichever front end asks.
#pragma once
#include <stdint.h>

#include <atomic>
#include <string>
#include <vector>

#include "encode/archive_writer.h"

struct PackInput {
  std::string hostPath;  // where to read it
  std::string name;      // code page 932, "\" separators; a folder without "\."
  bool folder;
  uint64_t size;         // files only
  FileTimes times;       // files only
};

// What the run has done so far, given to the progress callback.
struct PackProgress {
  uint64_t totalBytes;    // bytes of all input files
  uint64_t codedBytes;    // of them coded so far (all threads)
  uint64_t archiveBytes;  // the archive's size so far
  size_t totalFiles, doneFiles;
};

enum PackFailure : uint8_t {
  PackOk,
  PackNoMemory,       // the writer and its buffers could not be had
  PackCannotOpen,     // an input would not open: `systemError` is the system's code
  PackCannotStore,    // an input could not be read whole, or changed size: `detail` says how
  PackTooLarge,       // the archive would pass the largest size the stub can check
  PackCannotWrite,    // a write of the output failed (or memory for a job): `systemError` is errno
  PackCancelled,      // the cancel flag was set
};

struct PackRunResult {
  PackFailure failure = PackOk;
  std::string input;         // the host path of the input concerned, if any
  std::string detail;        // PackCannotStore: why, as a clause ("it became longer while it was read")
  uint32_t systemError = 0;  // PackCannotOpen: as the opener reported it; PackCannotWrite: errno
  uint64_t totalSize = 0;    // the archive's size, when done
  ArchiveStats stats = {};
};

struct PackRun {
  const std::vector<PackInput>* inputs = 0;
  // The stub (settings.stub), header fields, level, threads. Its waiting
  // callback and cancel flag are the run's own and are replaced.
  ArchiveSettings settings;
  int fd = -1;  // a fresh file, at offset 0; written with packWrite / packWriteAt
  // Opens an input for packRead (a descriptor, closed here), or -1 with
  // *error set. The command line passes packOpenInput (tools/pack_system.h).
  int (*openInput)(const std::string& hostPath, uint32_t* error) = 0;
  // Called on the run's thread after every entry, about every 100 ms while it
  // waits for workers, after every megabyte it codes itself, and once more
  // when the archive is complete (the totals reached).
  void (*progress)(void* context, const PackProgress& p) = 0;
  void* progressContext = 0;
  // Set from any thread to stop the run: it ends as PackCancelled soon
  // after (workers cut short), with the output left incomplete for the
  // caller to remove.
  const std::atomic<bool>* cancel = 0;
};

// Writes the whole archive to run.fd. False with result->failure set; the
// output is then incomplete and must be discarded by the caller.
bool runPack(const PackRun& run, PackRunResult* result);
