#include "tools/extract_selected.h"

#include "archive/driver.h"
#include "common/app_state.h"
#include "fileio/fatal.h"
#include "fs/paths.h"
#include "platform/platform.h"
#include "tools/cli_ui.h"
#include "tools/system.h"

// Standard output as the run's output file. Its name is left too long to
// open, so that the fatal exits' removal of a partly written output file
// can never reach a file of that name on disk.
static void bindStandardOutput() {
  bind(&app.outputFile, "");
  app.outputFile.nameTooLong = true;
  fflush(stdout);
  app.outputFile.handle = sysStandardOutputHandle();
  app.outputFile.state = app.outputFile.handle == kNoFile ? FileClosed : FileReadWrite;
  if (app.outputFile.handle == kNoFile) failWrite();
}

// One selected file: into its file below the target folder, or to
// standard output.
static void extractFile(RunState* run, const EntryHeader* h, bool toStdout) {
  HeadRing* ring = &run->ring;
  const HeadSlot* ref = &ring->slots[referencedSlot(ring, h->back)];
  showEntryStatus(StatusProcessing, &h->fullPath);
  bool skip = false;
  if (!toStdout && !askBeforeReplacing(&h->fullPath, &skip)) return;
  showEntryStatus(skip ? StatusSkipping : StatusExtracting, &h->fullPath);
  ByteString folder = {};
  if (!toStdout) {
    folderPartOf(bsText(&h->fullPath), &folder);
    makeFolderPathOrFail(bsText(&folder));
  }
  if (!skip) {
    if (!toStdout) {
      createOutputFile(&h->fullPath, &folder);
      if (takeIoError()) failWrite();
    }
    writeBlock(&app.outputFile, ref->bytes, h->prefixLength);
    if (takeIoError()) failWrite();
  }
  bsRelease(&folder);
  decodeFileEntry(run, h, skip);
  if (!app.cancelFlag && decoder->produced != (int64_t)h->fileSize - h->prefixLength) failDamaged();
  if (!skip && !toStdout) {
    if (!pfSetFileTimes(handleOf(&app.outputFile), h->creationTime, h->lastAccessTime, h->lastWriteTime))
      failWrite();
    close(&app.outputFile);
    if (takeIoError()) failWrite();
    if (app.cancelFlag) pfDeleteFile(bsText(&h->fullPath));
  }
}

// An entry that is not selected: its data decoded for the head ring and
// for the way to the next record, and nothing written or made.
static void passOver(RunState* run, const EntryHeader* h) {
  pfShowStatus(StatusProcessing, "", bsText(&h->fullPath));  // names it in messages about damage
  cli.phase = PhaseData;
  decodeFileEntry(run, h, true);
  if (!app.cancelFlag && decoder->produced != (int64_t)h->fileSize - h->prefixLength) failDamaged();
}

void extractSelected(const char* targetFolder, Selection* selection, bool toStdout) {
  RunState* run = beginRun();
  if (interruptSignal) app.cancelFlag = 1;  // beginRun clears it; a Ctrl-C before the run still counts
  EntryHeader h = {};
  ByteString folder = {};
  if (toStdout) bindStandardOutput();

  while (!app.endOfArchive && !app.cancelFlag) {
    cli.phase = PhaseRecord;
    readNextEntry(run, targetFolder, &h);
    const bool selected = entrySelected(selection, bsText(&h.entryName), h.entryName.length, h.isFolder);
    if (h.isFolder) {
      if (selected && !toStdout) {
        bsAssign(&folder, bsText(&h.fullPath), h.fullPath.length - 1);
        makeFolderPathOrFail(bsText(&folder));
      }
      continue;
    }
    if (selected) extractFile(run, &h, toStdout);
    else passOver(run, &h);
    advanceHeadRing(&run->ring);
  }

  if (toStdout) {
    close(&app.outputFile);
    if (takeIoError()) failWrite();
  }
  close(&app.archiveFile);
  if (takeIoError()) failRead();
  bsRelease(&folder);
  bsRelease(&h.entryName);
  bsRelease(&h.fullPath);
  endRun(run);
}
