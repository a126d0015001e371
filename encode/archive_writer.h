// Writes a self-extracting file: the stub, the archive header and the block
// stream of entry records and coded data. The writer keeps the same head ring
// as the decoder, so it knows which earlier heads every entry may use as its
// shared prefix and preset context.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <algorithm>
#include <string>

#include "archive/entries.h"
#include "encode/bit_writer.h"
#include "encode/block_writer.h"
#include "encode/entry_jobs.h"
#include "encode/lz_encoder.h"

static const uint32_t kArchiveStubSize = 26112;
static const uint64_t kLargestArchive = 2147483647ull;   // expectedSize is signed 32-bit
static const uint64_t kLargestStoredFile = 2147483647ull;
static const uint32_t kSlotBytes = 16384;
// Bytes of a file that beginFileEntry needs up front: its head plus the part
// that the choice of preset context can affect.
static const uint32_t kEntryLookahead = kSlotBytes + 8192;
static const uint32_t kMaxSharedName = 257;
// Bytes of held files that may wait in memory to be coded and written.
static const uint64_t kDefaultHeldBytes = 64ull << 20;

struct ArchiveSettings {
  const uint8_t* stub;         // kArchiveStubSize bytes; its first 16,384 are head slot 0
  std::string comment;         // code page 932, no 0 bytes
  std::string launchFile;      // code page 932, no 0 bytes
  uint8_t passwordFlags = 0;   // 0: no password; bit 0: the stub masks the typed text
  std::string password;        // code page 932, not empty when passwordFlags != 0
  int level = kDefaultLevel;
  int trialLevel = 0;          // parse level of the trial codings that compare contexts (0: the level's own)
  int scoredCandidates = 3;    // slots picked by shared sequences for a trial (0: none)
  uint64_t sizeLimit = kLargestArchive;
  // Threads that code held files (1: the calling thread codes everything).
  // The archive is the same for any number.
  int threads = 1;
  // Held files waiting to be coded and written stay within this many bytes;
  // a larger file is streamed through beginFileEntry.
  uint64_t heldBytes = kDefaultHeldBytes;
  // Called about every 100 ms while the writer waits for a worker, and after
  // every megabyte that the calling thread codes itself (for progress).
  void (*waiting)(void* context) = 0;
  void* waitingContext = 0;
  // Once set (from any thread), the writer stops waiting for workers, cuts
  // its own coding short and fails with `cancelled`; nothing more is written.
  const std::atomic<bool>* cancel = 0;
};

struct FileTimes {
  uint64_t creation, lastAccess, lastWrite;  // FILETIME
};

struct ArchiveStats {
  uint64_t folders, files, inputBytes;
  uint64_t prefixOnlyFiles;   // stored as a record (prefix of an earlier head)
  uint64_t prefixBytes;       // bytes taken from earlier heads
  uint64_t nonDefaultContext; // files coded against another slot than the previous file's
  uint64_t trialBytes;        // bytes coded only to compare contexts
  uint64_t peakHeldBytes;     // most bytes of held files waiting at once
};

static const uint32_t kGramBucketBits = 18;
static const uint32_t kMaxSlotGrams = 3072;

struct ArchiveWriter {
  ArchiveSettings settings;
  int fd;
  uint64_t headerBytes;        // stub + header
  bool failed;
  bool cancelled;              // failed because settings.cancel was set
  int ioErrno;
  BlockWriter blocks;
  BitWriter bits;
  EntryEncoder* encoder;
  HeadRing ring;
  std::string previousName;
  ArchiveStats stats;
  // The entry being written.
  bool inFile;
  uint32_t fileLeft;           // bytes still to come through feedFileEntry
  bool coding;                 // the entry has coded data
  // Entries added but not yet written: held files coded by the workers (or
  // by this thread with one thread), and the entries queued behind them.
  JobSettings jobSettings;
  JobQueue queue;
  JobCoder* ownCoder;          // codes held files when there are no workers
  uint64_t heldNow;            // bytes of the held files in the queue
  std::atomic<uint64_t> codedBytes;  // file bytes coded so far (progress)
  // Which slots hold which sampled 4-byte sequences of their heads: one bit
  // per slot in the bucket of each sampled sequence.
  uint64_t gramSlots[1u << kGramBucketBits][4];
  uint32_t slotGrams[256][kMaxSlotGrams];
  uint16_t slotGramCount[256];
};

ArchiveWriter* newArchiveWriter();
void freeArchiveWriter(ArchiveWriter* w);

// Writes the stub and the header to `fd` (a fresh file, at offset 0) and
// prepares the block stream. False on a write failure.
bool beginArchive(ArchiveWriter* w, int fd, const ArchiveSettings& settings);
// A folder entry; `name` is the folder's path without the trailing "\.".
void addFolderEntry(ArchiveWriter* w, const std::string& name);
// True when a file of `size` bytes goes through addHeldFileEntry; larger
// ones go through beginFileEntry, feedFileEntry and endFileEntry.
bool holdsWholeFile(const ArchiveWriter* w, uint64_t size);
// Waits, writing finished entries meanwhile, until a held file of `size`
// bytes fits within settings.heldBytes. Call before reading the file.
void makeRoomFor(ArchiveWriter* w, uint64_t size);
// A file entry whose whole content is in `bytes` (taken; the vector is left
// empty). It may be coded on another thread; entries are written in the
// order they are added.
void addHeldFileEntry(ArchiveWriter* w, const std::string& name, const FileTimes& times,
                      std::vector<uint8_t>* bytes);
// File bytes coded so far, across all threads (for progress).
uint64_t archiveBytesCoded(const ArchiveWriter* w);
// A file entry of `size` bytes, coded on the calling thread once every
// entry before it is written; `head` holds its first min(size,
// kEntryLookahead) bytes, the rest follows through feedFileEntry.
void beginFileEntry(ArchiveWriter* w, const std::string& name, const FileTimes& times, uint32_t size,
                    const uint8_t* head);
void feedFileEntry(ArchiveWriter* w, const uint8_t* bytes, size_t count);
void endFileEntry(ArchiveWriter* w);
// Writes the last block and the expected size. False on a write failure or
// when the file would pass settings.sizeLimit; *totalSize gets the size.
bool finishArchive(ArchiveWriter* w, uint64_t* totalSize);
// The file size so far (what is written plus what is pending).
uint64_t archiveBytesSoFar(const ArchiveWriter* w);
// False once a write failed, the size limit was passed or the run was cancelled.
bool archiveWriterOk(const ArchiveWriter* w);

// The share marker form of `name` after `previous`: the record's name bytes
// without the terminator.
std::string nameRecordBytes(const std::string& previous, const std::string& name);
