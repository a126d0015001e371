#include "fileio/block_file.h"

uint32_t pendingIoError;

static void fail(uint32_t code) { pendingIoError = code; }
static bool isOpen(const BlockFile* f) { return f->state == FileReading || f->state == FileReadWrite; }

void bind(BlockFile* f, const char* name) {
  uint32_t n = 0;
  while (name[n] && n <= kMaxFileName) ++n;
  f->nameTooLong = n > kMaxFileName;
  if (f->nameTooLong) n = 0;  // keep no shortened name around
  for (uint32_t i = 0; i < n; ++i) f->name[i] = name[i];
  f->name[n] = 0;
  f->state = FileClosed;
  f->logicalEnd = 0;
  f->closeFailed = false;
}

static void open(BlockFile* f, bool forWriting) {
  if (f->state == FileUnbound) return fail(kIoUnbound);
  f->state = FileClosed;
  if (f->nameTooLong) return fail(kIoNameTooLong);
  FileHandle h = pfOpenFile(f->name, forWriting);
  if (h == kNoFile) return fail(pfLastError());
  f->handle = h;
  f->closeFailed = false;
  f->state = forWriting ? FileReadWrite : FileReading;
}

void openForReading(BlockFile* f) { open(f, false); }
void createForWriting(BlockFile* f) { open(f, true); }

void readBlock(BlockFile* f, void* buffer, uint32_t count, uint32_t* got) {
  if (!isOpen(f)) return fail(kIoNotOpen);
  uint32_t asked = count;
  if (f->logicalEnd && asked > f->bytesLeft) asked = f->bytesLeft;
  uint32_t n = 0;
  if (!pfReadFile(f->handle, buffer, asked, &n)) return fail(pfLastError());
  f->bytesLeft -= n;
  if (got) *got = n;
  else if (n < count) fail(kIoShortRead);
}

void seekTo(BlockFile* f, uint32_t position) {
  if (!isOpen(f)) return fail(kIoNotOpen);
  if (!pfSeekFile(f->handle, position)) fail(pfLastError());
}

void writeBlock(BlockFile* f, const void* buffer, uint32_t count, uint32_t* put) {
  if (f->state != FileReadWrite) return fail(kIoNotOpen);
  // Nothing to write (a file without a shared prefix): no system call.
  if (count == 0) {
    if (put) *put = 0;
    return;
  }
  uint32_t n = 0;
  if (!pfWriteFile(f->handle, buffer, count, &n)) return fail(pfLastError());
  if (put) *put = n;
  else if (n < count) fail(kIoShortWrite);
}

int32_t size(BlockFile* f) {
  if (!isOpen(f)) {
    fail(kIoNotOpen);
    return -1;
  }
  if (f->logicalEnd) return (int32_t)f->logicalEnd;
  uint32_t s;
  if (!pfFileSize(f->handle, &s)) {
    fail(pfLastError());
    return -1;
  }
  return (int32_t)s;
}

bool atEnd(BlockFile* f) {
  if (!isOpen(f)) {
    fail(kIoNotOpen);
    return true;
  }
  if (f->logicalEnd) return f->bytesLeft == 0;
  uint32_t pos, s;
  if (!pfFilePosition(f->handle, &pos) || !pfFileSize(f->handle, &s)) {
    fail(pfLastError());
    return true;
  }
  return pos >= s;
}

void close(BlockFile* f) {
  if (!isOpen(f)) return fail(kIoNotOpen);
  f->state = FileClosed;
  f->closeFailed = !pfCloseFile(f->handle);
  if (f->closeFailed) fail(pfLastError());
}

void deleteFile(BlockFile* f) {
  if (f->state == FileUnbound) return fail(kIoUnbound);
  if (f->nameTooLong) return fail(kIoNameTooLong);
  if (!pfDeleteFile(f->name)) fail(pfLastError());
}

uint32_t takeIoError() {
  uint32_t code = pendingIoError;
  pendingIoError = 0;
  return code;
}

FileHandle handleOf(const BlockFile* f) { return f->handle; }
