// The decoder compiled as the stub compiles it (bits from a 32-bit word,
// none of the host's speed-ups), timed on an archive the way format_bench
// times the host's decoder: every record read, every file decoded in skip
// mode, nothing written. format_bench runs it on each set's archive and
// prints its speed beside the host's.
//
//   stub_config_decode ARCHIVE REPEAT
//
// Prints "BYTES SECONDS": the files' bytes and the best time of REPEAT
// decodes. Exit status 1 when the archive does not decode.
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "archive/driver.h"
#include "bench/bench_archive.h"
#include "archive/header.h"
#include "common/app_state.h"
#include "fileio/fatal.h"
#include "platform/host/scripted_ui.h"

static double now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}

// One decode of the archive; false when the core stopped or a size is wrong.
static bool decodeOnce(const char* path, unsigned long long* bytes, double* seconds) {
  scripted::resetRun();
  RunState* run = 0;
  EntryHeader h = {};
  bool ok = true;
  *bytes = 0;
  const double start = now();
  try {
    benchOpenArchive(path);
    run = beginRun();
    while (!app.endOfArchive && ok) {
      readNextEntry(run, ".\\", &h);
      if (h.isFolder) continue;
      decodeFileEntry(run, &h, true);
      ok = decoder->produced == (int64_t)h.fileSize - h.prefixLength;
      *bytes += h.fileSize;
      advanceHeadRing(&run->ring);
    }
  } catch (const scripted::Exit&) {
    ok = false;
  }
  *seconds = now() - start;
  if (run) endRun(run);
  bsRelease(&h.entryName);
  bsRelease(&h.fullPath);
  if (app.archiveFile.state == FileReading) close(&app.archiveFile);
  takeIoError();
  return ok;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: stub_config_decode ARCHIVE REPEAT\n");
    return 2;
  }
  const int repeat = atoi(argv[2]) > 0 ? atoi(argv[2]) : 1;
  double best = 1e30;
  unsigned long long bytes = 0;
  for (int k = 0; k < repeat; ++k) {
    double seconds = 0;
    if (!decodeOnce(argv[1], &bytes, &seconds)) {
      fprintf(stderr, "stub_config_decode: %s does not decode\n", argv[1]);
      return 1;
    }
    if (seconds < best) best = seconds;
  }
  printf("%llu %.6f\n", bytes, best);
  return 0;
}
