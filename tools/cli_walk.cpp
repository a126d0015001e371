#include "tools/cli_walk.h"

#include "common/app_state.h"
#include "archive/driver.h"
#include "fileio/fatal.h"
#include "tools/cli_text.h"
#include "tools/cli_ui.h"

std::string shownName(const EntryHeader* h) {
  uint32_t n = h->entryName.length;
  if (h->isFolder) --n;  // "docs\." names the folder "docs\"
  return showCp932(bsText(&h->entryName), n, true);
}

void walkEntries(void (*seen)(const EntryHeader*), void (*verified)(const EntryHeader*)) {
  RunState* run = beginRun();
  if (interruptSignal) app.cancelFlag = 1;  // beginRun clears it; a Ctrl-C before the run still counts
  EntryHeader h = {};
  while (!app.endOfArchive && !app.cancelFlag) {
    cli.phase = PhaseRecord;
    // The same target folder as extraction, so that folder entries are
    // recognised exactly as the driver recognises them.
    readNextEntry(run, ".\\", &h);
    if (seen) seen(&h);
    if (h.isFolder) {
      if (verified) verified(&h);
      continue;
    }
    cli.currentCp932.assign(bsText(&h.entryName), h.entryName.length);
    cli.currentShown = shownName(&h);
    cli.phase = PhaseData;
    progressStart(cli.currentShown, h.prefixLength);
    decodeFileEntry(run, &h, true);
    if (app.cancelFlag) break;
    // The decoder stops at exactly the recorded size or ends as damaged;
    // this guards that promise, since nothing else compares the sizes.
    if (decoder->produced != (int64_t)h.fileSize - h.prefixLength) failDamaged();
    advanceHeadRing(&run->ring);
    cli.bytesDone += (uint64_t)h.fileSize;
    ++cli.filesDone;
    if (verified) verified(&h);
  }
  cli.phase = PhaseDone;
  endRun(run);
  bsRelease(&h.entryName);
  bsRelease(&h.fullPath);
  close(&app.archiveFile);
  const uint32_t closeFailure = takeIoError();
  if (app.cancelFlag) cliFail(ExitInterrupted, tr("interrupted.", "中断しました。"));
  if (closeFailure) {
    pendingIoError = closeFailure;
    failRead();
  }
  progressClear();
}
