// Opening a self-extracting file the way the stub's start-up does, and
// taking its password.
#pragma once
#include <stdint.h>

#include "fileio/byte_string.h"

struct ArchiveInfo {
  uint64_t fileSize;
  uint64_t signatureBytes;  // a signed file's certificate table and the zeros before it; else 0
  uint64_t headerEnd;  // file offset where the block stream begins
  ByteString comment;  // as stored (code page 932)
  uint8_t passwordFlags;
};

// Opens `path` (a host path) as app.archiveFile, reads the stub image (the
// file's own first 26,112 bytes: head slot 0 comes from them), checks the
// size recorded in the header and reads the header fields. Leaves the file
// at the block stream. Every failure is reported and ends the process.
void openArchive(const char* path, ArchiveInfo* info);

// For an archive with a password: takes it from `passwordFile` (its first
// line), else from the environment variable VELLICOR_PASSWORD, else from a
// prompt without echo on a terminal (three tries), and makes it the key.
// Ends the process with ExitPassword when none can be had or it is wrong;
// nothing has been created at that point.
void takePassword(const char* passwordFile);
