// Entry records of the block stream and the head ring: the first 16,384
// bytes of the most recent files, which later files may start with and which
// give the decoder context.
#pragma once
#include <stdint.h>
#include "fileio/byte_string.h"

struct EntryHeader {
  ByteString entryName;  // relative, "\" separated, code page 932
  ByteString fullPath;   // target folder + entryName
  bool isFolder;         // fullPath ends with the two bytes "\."
  uint64_t creationTime, lastAccessTime, lastWriteTime;  // FILETIME, UTC
  int32_t fileSize;
  uint8_t back;          // 0: the previous file, no prefix
  uint16_t prefixLength;
};

struct HeadSlot {
  int32_t length;
  uint8_t bytes[16384];
};

struct HeadRing {
  HeadSlot slots[256];
  uint32_t current;      // slot that receives the head of the file being read
  uint32_t fileEntries;  // file entries started in this run (slots filled)
};

// Forgets the previous name (before the first record of a run).
void clearPreviousName();
// The name of the record read last, as stored (for messages that name it).
const ByteString* previousEntryName();
// Reads one record. Names and sizes are taken as stored; see checkFileEntry.
void readEntryHeader(const char* targetFolder, EntryHeader* h);

void resetHeadRing(HeadRing* r, const uint8_t* stubImage);
void setCurrentLength(HeadRing* r, int32_t fileSize);
uint32_t referencedSlot(const HeadRing* r, uint8_t back);
void copyPrefix(HeadRing* r, uint32_t ref, uint16_t prefixLength);
void advanceHeadRing(HeadRing* r);

// Where the preset bytes of a file entry start and how many there are.
struct Preset {
  const uint8_t* bytes;
  int32_t length;
};
Preset presetBytes(const HeadRing* r, uint32_t ref, uint16_t prefixLength);

// Ends the process as a damaged file when a file entry breaks the rules that
// keep every read inside the ring: a back that reaches a slot no file has
// filled, a prefix longer than the referenced head or than the file, a
// negative size. Call with the ring before this entry's slot is set.
void checkFileEntry(const HeadRing* r, const EntryHeader* h);
// Ends the process as a damaged file when a name would leave the target
// folder or reach a hidden place (see entryNameIsSafe).
void checkEntryName(const EntryHeader* h);
