#include "archive/entries.h"
#include "common/app_state.h"
#include "decode/stream.h"
#include "fileio/fatal.h"
#include "fs/paths.h"

static ByteString previousName;

void clearPreviousName() { bsClear(&previousName); }

const ByteString* previousEntryName() { return &previousName; }

static uint64_t readLittleEndian(int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= (uint64_t)readStreamByte() << (8 * i);
  return v;
}

void readEntryHeader(const char* targetFolder, EntryHeader* h) {
  bsClear(&h->entryName);
  uint8_t c = readStreamByte();
  if (c == 0x2A) {
    uint32_t shared = (uint32_t)readStreamByte() + 2;
    if (shared > previousName.length) shared = previousName.length;
    bsAssign(&h->entryName, bsText(&previousName), shared);
    c = readStreamByte();
  }
  while (c != 0) {
    bsAppendByte(&h->entryName, (char)c);
    c = readStreamByte();
  }
  bsAssign(&previousName, bsText(&h->entryName), h->entryName.length);

  bsClear(&h->fullPath);
  bsAppendText(&h->fullPath, targetFolder);
  bsAppend(&h->fullPath, bsText(&h->entryName), h->entryName.length);
  const char* p = bsText(&h->fullPath);
  uint32_t n = h->fullPath.length;
  h->isFolder = n >= 2 && p[n - 2] == '\\' && p[n - 1] == '.';
  if (h->isFolder) return;

  h->creationTime = readLittleEndian(8);
  h->lastAccessTime = readLittleEndian(8);
  h->lastWriteTime = readLittleEndian(8);
  h->fileSize = (int32_t)(uint32_t)readLittleEndian(4);
  h->back = readStreamByte();
  h->prefixLength = h->back ? (uint16_t)readLittleEndian(2) : 0;
}

void resetHeadRing(HeadRing* r, const uint8_t* stubImage) {
  r->slots[0].length = (int32_t)kHeadSize;
  copyBytes(r->slots[0].bytes, stubImage, kHeadSize);
  r->current = 1;
  r->fileEntries = 0;
}

void setCurrentLength(HeadRing* r, int32_t fileSize) {
  r->slots[r->current].length = fileSize < (int32_t)kHeadSize ? fileSize : (int32_t)kHeadSize;
  ++r->fileEntries;
}

uint32_t referencedSlot(const HeadRing* r, uint8_t back) {
  uint32_t b = back ? back : 1;
  return (r->current - b) & 255;
}

void copyPrefix(HeadRing* r, uint32_t ref, uint16_t prefixLength) {
  copyBytes(r->slots[r->current].bytes, r->slots[ref].bytes, prefixLength);
}

void advanceHeadRing(HeadRing* r) { r->current = (r->current + 1) & 255; }

Preset presetBytes(const HeadRing* r, uint32_t ref, uint16_t prefixLength) {
  const int32_t L = r->slots[ref].length;
  const int32_t P = prefixLength;
  int32_t a = L - P;
  if (a > 7168) a = 7168;
  int32_t b = 8192 - a;
  if (b > P) b = P;
  Preset preset;
  preset.bytes = r->slots[ref].bytes + (P - b);
  preset.length = a + b;
  return preset;
}

void checkFileEntry(const HeadRing* r, const EntryHeader* h) {
  // This entry is file number fileEntries + 1 of the run; it may reach back
  // at most that far (the farthest being the stub's head in slot 0).
  const uint32_t b = h->back ? h->back : 1;
  if (h->fileSize < 0 || b > r->fileEntries + 1) failDamaged();
  const HeadSlot* ref = &r->slots[referencedSlot(r, h->back)];
  if (h->prefixLength > ref->length || h->prefixLength > h->fileSize) failDamaged();
}

void checkEntryName(const EntryHeader* h) {
  if (!entryNameIsSafe(bsText(&h->entryName))) failDamaged();
}
