#include "encode/pack_run.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <new>

#include "encode/pack_io.h"

namespace {

struct Run {
  const PackRun* run;
  ArchiveWriter* writer;
  PackRunResult* result;
  PackProgress progress;
  std::vector<uint8_t> buffer;  // a streamed file's pieces
};

bool cancelled(const Run* r) { return r->run->cancel && r->run->cancel->load(std::memory_order_relaxed); }

void report(Run* r) {
  if (!r->run->progress) return;
  r->progress.codedBytes = archiveBytesCoded(r->writer);
  r->progress.archiveBytes = archiveBytesSoFar(r->writer);
  r->run->progress(r->run->progressContext, r->progress);
}

// Reads `count` bytes, or fewer only at the end of the file.
ssize_t readFully(int fd, uint8_t* buf, size_t count) {
  size_t got = 0;
  while (got < count) {
    ssize_t n = packRead(fd, buf + got, count - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += (size_t)n;
  }
  return (ssize_t)got;
}

// Stores one file; false with the result set.
bool storeFile(Run* r, const PackInput& in) {
  ArchiveWriter* w = r->writer;
  uint32_t openError = 0;
  const int fd = r->run->openInput(in.hostPath, &openError);
  if (fd < 0) {
    r->result->failure = PackCannotOpen;
    r->result->input = in.hostPath;
    r->result->systemError = openError;
    return false;
  }
  // The record states the size before the data, so the file must keep the
  // size it had when the inputs were collected.
  std::string problem;
  const uint32_t size = (uint32_t)in.size;
  const uint32_t head = size < kEntryLookahead ? size : kEntryLookahead;
  uint8_t* buf = r->buffer.data();
  auto readExactly = [&](size_t count) {
    const ssize_t n = readFully(fd, buf, count);
    if (n < 0) problem = strerror(errno);
    else if ((size_t)n < count) problem = "it became shorter while it was read";
    return problem.empty();
  };
  // The file must end where its size said (a read error there is no growth).
  auto noMoreBytes = [&]() {
    uint8_t extra;
    const ssize_t more = readFully(fd, &extra, 1);
    if (more < 0) problem = strerror(errno);
    else if (more > 0) problem = "it became longer while it was read";
  };
  if (holdsWholeFile(w, size)) {
    // The whole file in memory, coded on whichever thread is free.
    makeRoomFor(w, size);
    std::vector<uint8_t> whole;
    try {
      whole.resize(size);
    } catch (const std::bad_alloc&) {
      problem = "there is not enough memory to hold it";
    }
    buf = whole.data();
    if (problem.empty() && readExactly(size)) noMoreBytes();
    if (problem.empty() && archiveWriterOk(w)) addHeldFileEntry(w, in.name, in.times, &whole);
  } else if (readExactly(head)) {
    beginFileEntry(w, in.name, in.times, size, buf);
    for (uint32_t left = size - head; left && archiveWriterOk(w) && !cancelled(r);) {
      const size_t want = left < r->buffer.size() ? left : r->buffer.size();
      if (!readExactly(want)) break;
      feedFileEntry(w, buf, want);
      left -= (uint32_t)want;
      report(r);
    }
    if (problem.empty() && !cancelled(r)) noMoreBytes();
    if (problem.empty()) endFileEntry(w);
  }
  close(fd);
  if (!problem.empty()) {
    r->result->failure = PackCannotStore;
    r->result->input = in.hostPath;
    r->result->detail = problem;
    return false;
  }
  return true;
}

void waiting(void* context) { report((Run*)context); }

}  // namespace

bool runPack(const PackRun& run, PackRunResult* result) {
  *result = PackRunResult();
  Run r;
  r.run = &run;
  r.result = result;
  r.progress = PackProgress{};
  for (const PackInput& in : *run.inputs) {
    r.progress.totalBytes += in.size;
    r.progress.totalFiles += in.folder ? 0 : 1;
  }
  r.writer = newArchiveWriter();
  try {
    r.buffer.resize(1 << 20);
  } catch (const std::bad_alloc&) {
  }
  if (!r.writer || r.buffer.empty()) {
    freeArchiveWriter(r.writer);
    result->failure = PackNoMemory;
    return false;
  }
  ArchiveWriter* w = r.writer;
  ArchiveSettings settings = run.settings;
  settings.waiting = waiting;
  settings.waitingContext = &r;
  settings.cancel = run.cancel;

  bool ok = beginArchive(w, run.fd, settings);
  for (size_t i = 0; ok && i < run.inputs->size(); ++i) {
    if (cancelled(&r)) {
      ok = false;
      break;
    }
    const PackInput& in = (*run.inputs)[i];
    if (in.folder) {
      addFolderEntry(w, in.name);
    } else {
      ok = storeFile(&r, in);
      ++r.progress.doneFiles;
    }
    report(&r);
    ok = ok && archiveWriterOk(w);
  }
  if (ok && !cancelled(&r)) ok = finishArchive(w, &result->totalSize);
  if (ok) report(&r);  // the totals reached, once the workers' last files are written
  if (cancelled(&r)) {
    // Whatever else went wrong meanwhile, the run stopped because it was asked to.
    ok = false;
    *result = PackRunResult();
    result->failure = PackCancelled;
  } else if (!ok && result->failure == PackOk) {
    if (w->blocks.error == BlockWriterTooLarge) {
      result->failure = PackTooLarge;
    } else {
      const int e = w->ioErrno ? w->ioErrno : w->blocks.ioErrno;
      result->failure = PackCannotWrite;
      result->systemError = (uint32_t)(e ? e : EIO);
    }
  }
  result->stats = w->stats;
  freeArchiveWriter(w);
  return ok;
}
