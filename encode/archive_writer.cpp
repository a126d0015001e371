#include "encode/archive_writer.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <new>

#include "archive/header.h"
#include "encode/pack_io.h"

static const int kScoredCandidates = 3;
static const uint32_t kScoredHead = 8192;  // only a file's first 8 KB can reach its preset bytes

ArchiveWriter* newArchiveWriter() {
  ArchiveWriter* w = new (std::nothrow) ArchiveWriter();
  if (!w) return 0;
  w->encoder = newEntryEncoder();
  w->ownCoder = newJobCoder();
  if (!w->encoder || !w->ownCoder) {
    freeEntryEncoder(w->encoder);
    freeJobCoder(w->ownCoder);
    delete w;
    return 0;
  }
  return w;
}

void freeArchiveWriter(ArchiveWriter* w) {
  if (!w) return;
  stopJobQueue(&w->queue);
  freeEntryEncoder(w->encoder);
  freeJobCoder(w->ownCoder);
  delete w;
}

bool archiveWriterOk(const ArchiveWriter* w) { return !w->failed && w->blocks.error == BlockWriterOk; }

// True (and the writer failed) once the run is to stop.
static bool cancelRequested(ArchiveWriter* w) {
  if (!w->settings.cancel || !w->settings.cancel->load(std::memory_order_relaxed)) return false;
  if (!w->cancelled) {
    w->cancelled = true;
    w->failed = true;
    if (!w->ioErrno) w->ioErrno = ECANCELED;
  }
  return true;
}

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
    ssize_t n = packWrite(w->fd, p, count);
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

// Trials compare contexts on at most 24 KB of each file. Below the top level
// a quick lazy parse with sizes estimated from the counts decides; at the top
// level the bits that the built trees really spend under an optimal parse.
static JobSettings jobSettingsFor(const ArchiveSettings& s) {
  JobSettings j;
  j.level = s.level;
  const bool top = s.level >= kMaxLevel;
  j.trialLevel = s.trialLevel ? s.trialLevel : top ? 3 : 1;
  j.exactTrials = top;
  j.helper = s.threads > 1;
  return j;
}

bool beginArchive(ArchiveWriter* w, int fd, const ArchiveSettings& settings) {
  w->settings = settings;
  stopJobQueue(&w->queue);
  w->jobSettings = jobSettingsFor(settings);
  w->heldNow = 0;
  w->codedBytes = 0;
  if (!startJobQueue(&w->queue, settings.threads > 1 ? settings.threads : 0, w->jobSettings, &w->codedBytes)) {
    w->failed = true;
    w->ioErrno = ENOMEM;
    return false;
  }
  w->fd = fd;
  w->failed = false;
  w->cancelled = false;
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

// ---- choosing the context of a file ----

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

// The contexts worth a trial for this file, with their preset bytes, from
// the ring as the decoder will have it before this file.
static void prepareContexts(ArchiveWriter* w, uint32_t size, const uint8_t* head, EntryJob* job) {
  job->contextCount = 0;
  auto add = [&](ContextChoice c) {
    for (int i = 0; i < job->contextCount; ++i)
      if (job->contexts[i].back == c.back && job->contexts[i].prefix == c.prefix) return;
    job->contexts[job->contextCount++] = c;
  };
  const uint32_t n = w->ring.fileEntries + 1;  // this file's number in the archive
  const uint32_t maxBack = n < 255 ? n : 255;
  const uint32_t headLength = size < kSlotBytes ? size : kSlotBytes;
  uint32_t prefix[256];
  uint32_t bestPrefixBack = 1;
  if (size) {
    for (uint32_t b = 1; b <= maxBack; ++b) {
      const HeadSlot* s = &w->ring.slots[slotOf(w, b)];
      const uint32_t most = headLength < (uint32_t)s->length ? headLength : (uint32_t)s->length;
      prefix[b] = commonPrefix(head, s->bytes, most);
      if (prefix[b] > prefix[bestPrefixBack]) bestPrefixBack = b;
    }
  }
  if (!size) {
    add(ContextChoice{1, 0});
  } else if (prefix[bestPrefixBack] == size) {
    // The whole file is the head of an earlier one: a record alone.
    add(ContextChoice{bestPrefixBack, size});
  } else {
    add(ContextChoice{1, 0});
    if (prefix[1]) add(ContextChoice{1, prefix[1]});
    if (prefix[bestPrefixBack]) add(ContextChoice{bestPrefixBack, prefix[bestPrefixBack]});
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
          const uint32_t sc = score[slotOf(w, b)];
          if (sc > bestScore) {
            bestScore = sc;
            best = b;
          }
        }
        if (!best) break;
        score[slotOf(w, best)] = 0;
        add(ContextChoice{best, prefix[best]});
      }
    }
  }
  job->presets.resize((size_t)job->contextCount * kPresetRoom);
  for (int i = 0; i < job->contextCount; ++i) {
    const Preset p = presetBytes(&w->ring, slotOf(w, job->contexts[i].back), (uint16_t)job->contexts[i].prefix);
    job->presetLength[i] = (uint32_t)p.length;
    memcpy(job->presets.data() + (size_t)i * kPresetRoom, p.bytes, (size_t)p.length);
  }
}

// A new file job: its record up to `back`, its contexts; and the ring moves
// on with this file's head, as the decoder's will.
static EntryJob* newFileJob(ArchiveWriter* w, const std::string& name, const FileTimes& times, uint32_t size,
                            const uint8_t* head) {
  EntryJob* job = new EntryJob();
  job->folder = false;
  job->size = size;
  prepareContexts(w, size, head, job);
  std::string record = nameRecordBytes(w->previousName, name);
  record.push_back('\0');
  w->previousName = name;
  putLittleEndian(&record, times.creation, 8);
  putLittleEndian(&record, times.lastAccess, 8);
  putLittleEndian(&record, times.lastWrite, 8);
  putLittleEndian(&record, size, 4);
  job->record.assign(record.begin(), record.end());

  const uint32_t headLength = size < kSlotBytes ? size : kSlotBytes;
  setCurrentLength(&w->ring, (int32_t)size);
  if (headLength) memcpy(w->ring.slots[w->ring.current].bytes, head, headLength);  // an empty file may have no head pointer
  learnSlotGrams(w, w->ring.current);
  advanceHeadRing(&w->ring);
  return job;
}

// ---- the queue of entries ----

// The figures of a file whose context is chosen, held or streamed alike.
static void countFile(ArchiveWriter* w, const EntryJob* job) {
  const ContextChoice c = job->contexts[job->chosen];
  ++w->stats.files;
  w->stats.inputBytes += job->size;
  w->stats.prefixBytes += c.prefix;
  w->stats.trialBytes += job->trialBytes;
  if (job->size && c.prefix == job->size) ++w->stats.prefixOnlyFiles;
  if (c.back != 1) ++w->stats.nonDefaultContext;
}

static void writeJob(ArchiveWriter* w, EntryJob* job) {
  // A job cut short by the cancel flag holds only part of its data.
  cancelRequested(w);
  if (job->failed) {
    if (!w->failed) {
      w->failed = true;
      w->ioErrno = ENOMEM;
    }
  } else if (!w->failed) {
    putAlignedBytes(&w->bits, job->output.data(), job->output.size());
  }
  if (!job->folder) {
    countFile(w, job);
    w->heldNow -= job->size;  // every file job in the queue is a held file
  }
  delete job;
}

// Writes the finished entries at the front of the queue; with `all`, waits
// until the queue is empty.
static void writeFinished(ArchiveWriter* w, bool all) {
  for (;;) {
    EntryJob* job = takeFinishedJob(&w->queue, all ? 100 : 0);
    if (job) {
      writeJob(w, job);
      continue;
    }
    if (!all || !jobsInQueue(&w->queue) || cancelRequested(w)) return;
    if (w->settings.waiting) w->settings.waiting(w->settings.waitingContext);
  }
}

static void queueJob(ArchiveWriter* w, EntryJob* job) {
  if (w->queue.workers.empty() && !job->done) {
    // No workers: code it here and now.
    try {
      codeHeldJob(w->ownCoder, w->jobSettings, job, &w->codedBytes, w->settings.cancel, w->settings.waiting,
                  w->settings.waitingContext);
    } catch (const std::bad_alloc&) {
      job->failed = true;
    }
    job->done = true;
  }
  addJob(&w->queue, job);
  writeFinished(w, false);
}

void addFolderEntry(ArchiveWriter* w, const std::string& name) {
  ++w->stats.folders;
  if (!jobsInQueue(&w->queue)) {
    putName(w, name + "\\.");
    return;
  }
  EntryJob* job = new EntryJob();
  job->folder = true;
  std::string record = nameRecordBytes(w->previousName, name + "\\.");
  record.push_back('\0');
  w->previousName = name + "\\.";
  job->output.assign(record.begin(), record.end());
  job->done = true;
  addJob(&w->queue, job);
}

bool holdsWholeFile(const ArchiveWriter* w, uint64_t size) { return size <= w->settings.heldBytes; }

uint64_t archiveBytesCoded(const ArchiveWriter* w) { return w->codedBytes.load(std::memory_order_relaxed); }

void makeRoomFor(ArchiveWriter* w, uint64_t size) {
  const size_t most = w->queue.workers.empty() ? 1 : 16 * w->queue.workers.size();
  writeFinished(w, false);
  while (jobsInQueue(&w->queue) && (w->heldNow + size > w->settings.heldBytes || jobsInQueue(&w->queue) >= most) &&
         !cancelRequested(w)) {
    EntryJob* job = takeFinishedJob(&w->queue, 100);
    if (job) writeJob(w, job);
    else if (w->settings.waiting) w->settings.waiting(w->settings.waitingContext);
  }
}

void addHeldFileEntry(ArchiveWriter* w, const std::string& name, const FileTimes& times,
                      std::vector<uint8_t>* bytes) {
  const uint32_t size = (uint32_t)bytes->size();
  EntryJob* job = newFileJob(w, name, times, size, bytes->data());
  job->bytes.swap(*bytes);
  bytes->clear();
  w->heldNow += size;
  if (w->heldNow > w->stats.peakHeldBytes) w->stats.peakHeldBytes = w->heldNow;
  queueJob(w, job);
}

// ---- streamed file entries ----

void beginFileEntry(ArchiveWriter* w, const std::string& name, const FileTimes& times, uint32_t size,
                    const uint8_t* head) {
  writeFinished(w, true);
  const uint32_t lookahead = size < kEntryLookahead ? size : kEntryLookahead;
  EntryJob* job = newFileJob(w, name, times, size, head);
  if (lookahead) job->bytes.assign(head, head + lookahead);
  job->trialBytes = 0;
  job->chosen = chooseJobContext(w->encoder, w->jobSettings, job);
  const ContextChoice choice = job->contexts[job->chosen];
  std::vector<uint8_t> record = job->record;
  appendContextFields(&record, choice);
  putAlignedBytes(&w->bits, record.data(), record.size());

  countFile(w, job);

  w->inFile = true;
  w->fileLeft = size - lookahead;
  w->coding = size > choice.prefix;
  w->codedBytes += lookahead;
  if (w->coding) {
    beginEntry(w->encoder, w->settings.level, job->presets.data() + (size_t)job->chosen * kPresetRoom,
               job->presetLength[job->chosen], size - choice.prefix, &w->bits);
    feedEntry(w->encoder, head + choice.prefix, lookahead - choice.prefix);
  }
  delete job;
}

void feedFileEntry(ArchiveWriter* w, const uint8_t* bytes, size_t count) {
  if (count > w->fileLeft) count = w->fileLeft;
  w->fileLeft -= (uint32_t)count;
  w->codedBytes += count;
  if (w->coding) feedEntry(w->encoder, bytes, count);
}

void endFileEntry(ArchiveWriter* w) {
  if (w->coding) endEntry(w->encoder);
  w->inFile = false;
  w->coding = false;
}

bool finishArchive(ArchiveWriter* w, uint64_t* totalSize) {
  writeFinished(w, true);
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
  for (size_t done = 0; done < 4;) {
    const ssize_t n = packWriteAt(w->fd, size + done, 4 - done, kArchiveStubSize + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      w->failed = true;
      w->ioErrno = n < 0 ? errno : EIO;
      return false;
    }
    done += (size_t)n;
  }
  return true;
}
