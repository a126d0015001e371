// Files read and written in blocks, with one pending error code instead of
// status returns: a failing operation leaves its code, and the caller takes
// it with takeIoError right after the operations whose failure matters.
#pragma once
#include <stdint.h>
#include "platform/platform.h"

enum BlockFileState : uint8_t { FileUnbound, FileClosed, FileReading, FileReadWrite };

static const uint32_t kMaxFileName = 259;  // bytes, without the terminator

// Codes of this layer (platform failures leave the platform's own code).
static const uint32_t kIoShortRead = 100;
static const uint32_t kIoShortWrite = 101;
static const uint32_t kIoUnbound = 102;
static const uint32_t kIoNotOpen = 103;
static const uint32_t kIoNoMemory = 104;  // the platform heap refused a block
// A name longer than kMaxFileName: the open fails as the platform fails a
// name that is too long; no shortened name is ever opened.
static const uint32_t kIoNameTooLong = 206;

struct BlockFile {
  char name[kMaxFileName + 1];
  bool nameTooLong;
  BlockFileState state;
  FileHandle handle;
  bool closeFailed;  // the last close failed: the data may not all be stored
  // Not 0: reading ends at this offset, as if the file ended there (a signed
  // archive's certificate table lies behind it); bytesLeft is what remains
  // before it. size, atEnd and readBlock all see the shorter file.
  uint32_t logicalEnd;
  uint32_t bytesLeft;
};

extern uint32_t pendingIoError;

void bind(BlockFile* f, const char* name);
void openForReading(BlockFile* f);
void createForWriting(BlockFile* f);
// Without `got`, fewer bytes than asked leaves code 100 (101 for writes).
void readBlock(BlockFile* f, void* buffer, uint32_t count, uint32_t* got = 0);
void writeBlock(BlockFile* f, const void* buffer, uint32_t count, uint32_t* put = 0);
// Moves the position of an open file to `position` (below 2 GB). Only
// before a logical end is set.
void seekTo(BlockFile* f, uint32_t position);
// Makes `end` the logical end of a file that now stands at `position`.
inline void endFileAt(BlockFile* f, uint32_t end, uint32_t position) {
  f->logicalEnd = end;
  f->bytesLeft = end - position;
}
int32_t size(BlockFile* f);
bool atEnd(BlockFile* f);
void close(BlockFile* f);
void deleteFile(BlockFile* f);
uint32_t takeIoError();
FileHandle handleOf(const BlockFile* f);
