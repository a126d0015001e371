#include "encode/archive_writer.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include "archive/header.h"

static const int kScoredCandidates = 3;
static const uint32_t kScoredHead = 8192;  // only a file's first 8 KB can reach its preset bytes

ArchiveWriter* newArchiveWriter() {
  ArchiveWriter* w = new ArchiveWriter();
  w->encoder = newEntryEncoder();
  if (!w->encoder) {
    delete w;
    return 0;
  }
  return w;
}

void freeArchiveWriter(ArchiveWriter* w) {
  if (!w) return;
  freeEntryEncoder(w->encoder);
  delete w;
}

bool archiveWriterOk(const ArchiveWriter* w) { return !w->failed && w->blocks.error == BlockWriterOk; }

uint64_t archiveBytesSoFar(const ArchiveWriter* w) {
  return projectedFileSize(&w->blocks) + w->bits.used + (w->bits.accBits + 7) / 8;
}

// ---- sampled 4-byte sequences of the heads ----

static inline bool sampleGram(const uint8_t* p, uint32_t* bucket) {
  uint32_t h = ((uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24) * 0x9E3779B1u;
  h ^= h >> 15;
  h *= 0x85EBCA77u;
  h ^= h >> 13;
  if (h & 7) return false;  // one sequence in eight, chosen by content
  *bucket = h >> (32 - kGramBucketBits);
  return true;
}

static void forgetSlotGrams(ArchiveWriter* w, uint32_t slot) {
  const uint64_t bit = 1ull << (slot & 63);
  for (uint32_t i = 0; i < w->slotGramCount[slot]; ++i) w->gramSlots[w->slotGrams[slot][i]][slot >> 6] &= ~bit;
  w->slotGramCount[slot] = 0;
}

static void learnSlotGrams(ArchiveWriter* w, uint32_t slot) {
  forgetSlotGrams(w, slot);
  const HeadSlot* s = &w->ring.slots[slot];
  const uint64_t bit = 1ull << (slot & 63);
  uint32_t bucket;
  for (int32_t i = 0; i + 4 <= s->length && w->slotGramCount[slot] < kMaxSlotGrams; ++i) {
    if (!sampleGram(s->bytes + i, &bucket)) continue;
    uint64_t* word = &w->gramSlots[bucket][slot >> 6];
    if (*word & bit) continue;
    *word |= bit;
    w->slotGrams[slot][w->slotGramCount[slot]++] = bucket;
  }
}

// ---- output ----

static bool writeAll(ArchiveWriter* w, const void* bytes, size_t count) {
  const uint8_t* p = (const uint8_t*)bytes;
  while (count && !w->failed) {
    ssize_t n = write(w->fd, p, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      w->failed = true;
      w->ioErrno = n < 0 ? errno : EIO;
      break;
    }
    p += n;
    count -= (size_t)n;
  }
  return !w->failed;
}

static void putLittleEndian(std::string* out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back((char)(uint8_t)(value >> (8 * i)));
}

bool beginArchive(ArchiveWriter* w, int fd, const ArchiveSettings& settings) {
  w->settings = settings;
  w->fd = fd;
  w->failed = false;
  w->ioErrno = 0;
  w->previousName.clear();
  w->stats = ArchiveStats{};
  w->inFile = false;
  resetHeadRing(&w->ring, settings.stub);
  for (uint32_t s = 0; s < 256; ++s) forgetSlotGrams(w, s);
  learnSlotGrams(w, 0);

  // Header: expected size (written at the end), comment, launch file,
  // password flags and check, all in clear.
  std::string header;
  putLittleEndian(&header, 0, 4);
  header += settings.comment;
  header.push_back('\0');
  header += settings.launchFile;
  header.push_back('\0');
  header.push_back((char)settings.passwordFlags);
  if (settings.passwordFlags) {
    const uint16_t check = storedPasswordCheck(settings.password.data(), (uint32_t)settings.password.size(),
                                               settings.passwordFlags);
    putLittleEndian(&header, check, 2);
  }
  w->headerBytes = kArchiveStubSize + (uint64_t)header.size();
  const std::string& key = w->settings.password;
  initBlockWriter(&w->blocks, fd, w->headerBytes, settings.passwordFlags ? (const uint8_t*)key.data() : 0,
                  settings.passwordFlags ? (uint32_t)key.size() : 0, settings.sizeLimit);
  initBitWriter(&w->bits, &w->blocks);
  if (w->headerBytes > settings.sizeLimit) {
    w->blocks.error = BlockWriterTooLarge;
    return false;
  }
  writeAll(w, settings.stub, kArchiveStubSize);
  writeAll(w, header.data(), header.size());
  return !w->failed;
}

std::string nameRecordBytes(const std::string& previous, const std::string& name) {
  size_t shared = 0;
  const size_t most = std::min<size_t>(std::min(previous.size(), name.size()), kMaxSharedName);
  while (shared < most && previous[shared] == name[shared]) ++shared;
  std::string out;
  // The marker and its count take two bytes: sharing pays from three on.
  if (shared >= 3) {
    out.push_back('*');
    out.push_back((char)(uint8_t)(shared - 2));
    out.append(name, shared, std::string::npos);
  } else {
    out = name;
  }
  return out;
}

static void putName(ArchiveWriter* w, const std::string& name) {
  std::string record = nameRecordBytes(w->previousName, name);
  record.push_back('\0');
  putAlignedBytes(&w->bits, (const uint8_t*)record.data(), record.size());
  w->previousName = name;
}

void addFolderEntry(ArchiveWriter* w, const std::string& name) {
  putName(w, name + "\\.");
  ++w->stats.folders;
}

// ---- choosing the context of a file ----

struct Choice {
  uint32_t back;      // 1..255 (1 with prefix 0 is stored as back = 0)
  uint32_t prefix;
};

static uint32_t commonPrefix(const uint8_t* a, const uint8_t* b, uint32_t most) {
  uint32_t n = 0;
  while (n + 8 <= most) {
    uint64_t x, y;
    memcpy(&x, a + n, 8);
    memcpy(&y, b + n, 8);
    if (x != y) return n + (uint32_t)(__builtin_ctzll(x ^ y) >> 3);
    n += 8;
  }
  while (n < most && a[n] == b[n]) ++n;
  return n;
}

static uint32_t slotOf(const ArchiveWriter* w, uint32_t back) { return (w->ring.current - back) & 255; }

// Bits that coding the file's bytes [prefix, end) costs against the preset of
// this choice, plus the record bytes the choice adds.
static uint64_t trialCost(ArchiveWriter* w, const Choice& c, const uint8_t* head, uint32_t end) {
  const Preset preset = presetBytes(&w->ring, slotOf(w, c.back), (uint16_t)c.prefix);
  beginEntry(w->encoder, w->settings.trialLevel, preset.bytes, (uint32_t)preset.length, end - c.prefix, 0);
  feedEntry(w->encoder, head + c.prefix, end - c.prefix);
  endEntry(w->encoder);
  w->stats.trialBytes += end - c.prefix;
  const bool stored = !(c.back == 1 && c.prefix == 0);
  return estimatedBits(w->encoder) + (stored ? 16 : 0);
}

static Choice chooseContext(ArchiveWriter* w, uint32_t size, const uint8_t* head) {
  const uint32_t n = w->ring.fileEntries + 1;  // this file's number in the archive
  const uint32_t maxBack = n < 255 ? n : 255;
  const uint32_t headLength = size < kSlotBytes ? size : kSlotBytes;
  if (size == 0) return Choice{1, 0};

  uint32_t prefix[256];
  uint32_t bestPrefixBack = 1;
  for (uint32_t b = 1; b <= maxBack; ++b) {
    const HeadSlot* s = &w->ring.slots[slotOf(w, b)];
    const uint32_t most = headLength < (uint32_t)s->length ? headLength : (uint32_t)s->length;
    prefix[b] = commonPrefix(head, s->bytes, most);
    if (prefix[b] > prefix[bestPrefixBack]) bestPrefixBack = b;
  }
  // The whole file is the head of an earlier one: a record alone.
  if (prefix[bestPrefixBack] == size) return Choice{bestPrefixBack, size};

  Choice candidates[4 + kScoredCandidates];
  int count = 0;
  auto add = [&](Choice c) {
    for (int i = 0; i < count; ++i)
      if (candidates[i].back == c.back && candidates[i].prefix == c.prefix) return;
    candidates[count++] = c;
  };
  add(Choice{1, 0});
  if (prefix[1]) add(Choice{1, prefix[1]});
  if (prefix[bestPrefixBack]) add(Choice{bestPrefixBack, prefix[bestPrefixBack]});

  // Slots whose heads share the most sampled sequences with this file's start.
  if (maxBack > 1) {
    uint32_t score[256] = {};
    const uint32_t scored = size < kScoredHead ? size : kScoredHead;
    uint32_t bucket;
    for (uint32_t i = 0; i + 4 <= scored; ++i) {
      if (!sampleGram(head + i, &bucket)) continue;
      for (int word = 0; word < 4; ++word) {
        uint64_t bits = w->gramSlots[bucket][word];
        while (bits) {
          ++score[word * 64 + __builtin_ctzll(bits)];
          bits &= bits - 1;
        }
      }
    }
    for (int k = 0; k < w->settings.scoredCandidates && k < kScoredCandidates; ++k) {
      uint32_t best = 0, bestScore = 0;
      for (uint32_t b = 1; b <= maxBack; ++b) {
        const uint32_t s = score[slotOf(w, b)];
        if (s > bestScore) {
          bestScore = s;
          best = b;
        }
      }
      if (!best) break;
      score[slotOf(w, best)] = 0;
      add(Choice{best, prefix[best]});
    }
  }
  if (count == 1) return candidates[0];

  // Code the part that the context can affect under each candidate and keep
  // the cheapest. Bytes beyond 8 KB past the prefix cannot reach the preset.
  uint32_t end = 0;
  for (int i = 0; i < count; ++i) end = std::max(end, candidates[i].prefix + 8192);
  if (end > size) end = size;
  int best = 0;
  uint64_t bestCost = ~0ull;
  for (int i = 0; i < count; ++i) {
    const uint64_t cost = trialCost(w, candidates[i], head, end);
    if (cost < bestCost) {
      bestCost = cost;
      best = i;
    }
  }
  return candidates[best];
}

// ---- file entries ----

void beginFileEntry(ArchiveWriter* w, const std::string& name, const FileTimes& times, uint32_t size,
                    const uint8_t* head) {
  const Choice choice = chooseContext(w, size, head);
  const bool stored = !(choice.back == 1 && choice.prefix == 0);

  putName(w, name);
  std::string record;
  putLittleEndian(&record, times.creation, 8);
  putLittleEndian(&record, times.lastAccess, 8);
  putLittleEndian(&record, times.lastWrite, 8);
  putLittleEndian(&record, size, 4);
  record.push_back((char)(stored ? choice.back : 0));
  if (stored) putLittleEndian(&record, choice.prefix, 2);
  putAlignedBytes(&w->bits, (const uint8_t*)record.data(), record.size());

  // The head ring as the decoder will have it: this file's head goes into
  // the current slot; the referenced slot is another one.
  const uint32_t ref = slotOf(w, choice.back);
  const uint32_t headLength = size < kSlotBytes ? size : kSlotBytes;
  setCurrentLength(&w->ring, (int32_t)size);
  memcpy(w->ring.slots[w->ring.current].bytes, head, headLength);
  learnSlotGrams(w, w->ring.current);

  ++w->stats.files;
  w->stats.inputBytes += size;
  w->stats.prefixBytes += choice.prefix;
  if (size && choice.prefix == size) ++w->stats.prefixOnlyFiles;
  if (choice.back != 1) ++w->stats.nonDefaultContext;

  const uint32_t lookahead = size < kEntryLookahead ? size : kEntryLookahead;
  w->inFile = true;
  w->fileLeft = size - lookahead;
  w->coding = size > choice.prefix;
  if (!w->coding) return;
  const Preset preset = presetBytes(&w->ring, ref, (uint16_t)choice.prefix);
  beginEntry(w->encoder, w->settings.level, preset.bytes, (uint32_t)preset.length, size - choice.prefix, &w->bits);
  feedEntry(w->encoder, head + choice.prefix, lookahead - choice.prefix);
}

void feedFileEntry(ArchiveWriter* w, const uint8_t* bytes, size_t count) {
  if (count > w->fileLeft) count = w->fileLeft;
  w->fileLeft -= (uint32_t)count;
  if (w->coding) feedEntry(w->encoder, bytes, count);
}

void endFileEntry(ArchiveWriter* w) {
  if (w->coding) endEntry(w->encoder);
  advanceHeadRing(&w->ring);
  w->inFile = false;
  w->coding = false;
}

bool finishArchive(ArchiveWriter* w, uint64_t* totalSize) {
  drainBits(&w->bits);
  finishBlocks(&w->blocks);
  const uint64_t total = w->blocks.fileBytes;
  if (totalSize) *totalSize = total;
  if (w->blocks.error == BlockWriterIoFailed && !w->failed) {
    w->failed = true;
    w->ioErrno = w->blocks.ioErrno;
  }
  if (!archiveWriterOk(w)) return false;
  uint8_t size[4];
  for (int i = 0; i < 4; ++i) size[i] = (uint8_t)(total >> (8 * i));
  // A seek and a write rather than pwrite, which Windows' C runtime lacks.
  if (lseek(w->fd, kArchiveStubSize, SEEK_SET) != (off_t)kArchiveStubSize || write(w->fd, size, 4) != 4) {
    w->failed = true;
    w->ioErrno = errno ? errno : EIO;
    return false;
  }
  return true;
}
