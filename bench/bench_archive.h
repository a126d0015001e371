// The benchmarks' start of a run over an archive, as the stub's start-up
// does it: the archive opened, its stub image and size checked, the header
// read (comment skipped, launch file and password fields kept). A failure
// ends through the core's fatal exits, which the scripted side turns into
// an exception for the caller to catch.
#pragma once
#include "archive/header.h"
#include "common/app_state.h"
#include "fileio/fatal.h"

inline void benchOpenArchive(const char* path) {
  bind(&app.archiveFile, path);
  openForReading(&app.archiveFile);
  if (takeIoError()) failRead();
  if (readStubImageAndSize()) failRead();
  ByteString comment = {};
  readHeaderString(&comment);
  bsRelease(&comment);
  readHeaderString(&app.launchFile);
  readPasswordFields();
}
