#include "archive/driver.h"
#include "common/app_state.h"
#include "common/texts.h"
#include "fileio/fatal.h"
#include "fs/folders.h"
#include "fs/paths.h"
#include "platform/platform.h"

RunState* beginRun() {
  RunState* run = (RunState*)pfAlloc(sizeof(RunState));
  if (!run) failOutOfMemory();
  decoder = &run->decoder;
  app.cancelFlag = 0;
  app.endOfArchive = false;
  clearPreviousName();
  forgetFolders();
  resetHeadRing(&run->ring, app.stubImage);
  return run;
}

void endRun(RunState* run) {
  decoder = 0;
  pfFree(run);
}

void readNextEntry(RunState* run, const char* targetFolder, EntryHeader* h) {
  readEntryHeader(targetFolder, h);
  checkEntryName(h);
  if (h->isFolder) return;
  checkFileEntry(&run->ring, h);
  setCurrentLength(&run->ring, h->fileSize);
}

void decodeFileEntry(RunState* run, const EntryHeader* h, bool skip) {
  HeadRing* ring = &run->ring;
  const uint32_t ref = referencedSlot(ring, h->back);
  copyPrefix(ring, ref, h->prefixLength);
  const Preset preset = presetBytes(ring, ref, h->prefixLength);
  decodeEntry(h->fileSize - h->prefixLength, preset.bytes, preset.length, ring->slots[ring->current].bytes,
              h->prefixLength, skip, skip ? 0 : &app.outputFile);
}

void showEntryStatus(StatusId id, const ByteString* path) {
  static const char* const kWords[] = {kTextProcessing, kTextSkipping, kTextExtracting};
  ByteString text = {};
  bsAppendText(&text, kWords[id]);
  bsAppend(&text, bsText(path), path->length);
  pfShowStatus(id, bsText(&text), bsText(path));
  bsRelease(&text);
}

void makeFolderPathOrFail(const char* folderPath) {
  ByteString failed = {};
  if (!createFolderPath(folderPath, &failed)) failFolder(bsText(&failed));
}

void createOutputFile(const ByteString* path, const ByteString* folder) {
  bind(&app.outputFile, bsText(path));
  createForWriting(&app.outputFile);
  if (!pendingIoError) return;
  // The folder walk may have taken the file's folder from memory, and the
  // folder may have gone since: the walk that looks decides, and only when
  // it had to make a folder again is the file worth another try.
  const uint32_t code = takeIoError();
  ByteString failed = {};
  if (remakeFolderPath(bsText(folder), &failed)) createForWriting(&app.outputFile);
  else if (failed.length) failFolder(bsText(&failed));
  else pendingIoError = code;
}

bool askBeforeReplacing(const ByteString* path, bool* skip) {
  *skip = false;
  if (pfProbe(bsText(path)) == kProbeNothing) return true;
  ByteString question = {};
  bsAppend(&question, bsText(path), path->length);
  bsAppendText(&question, kTextExistsOverwrite);
  int answer = pfMessageBox(MsgOverwrite, bsText(&question), bsText(path), kMbYesNoCancel | kMbIconQuestion, true);
  bsRelease(&question);
  if (answer == kIdYes) return true;
  if (answer == kIdNo) {
    *skip = true;
    return true;
  }
  app.cancelFlag = 1;
  return false;
}

void extractAll(const char* targetFolder) {
  RunState* run = beginRun();
  HeadRing* ring = &run->ring;
  EntryHeader h = {};
  ByteString folder = {};

  while (!app.endOfArchive && !app.cancelFlag) {
    readNextEntry(run, targetFolder, &h);
    if (h.isFolder) {
      bsAssign(&folder, bsText(&h.fullPath), h.fullPath.length - 1);
      makeFolderPathOrFail(bsText(&folder));
      continue;
    }

    showEntryStatus(StatusProcessing, &h.fullPath);
    bool skip;
    if (!askBeforeReplacing(&h.fullPath, &skip)) break;
    showEntryStatus(skip ? StatusSkipping : StatusExtracting, &h.fullPath);

    folderPartOf(bsText(&h.fullPath), &folder);
    makeFolderPathOrFail(bsText(&folder));

    if (!skip) {
      createOutputFile(&h.fullPath, &folder);
      // Failures are tested, not taken: the code stays for the message.
      if (pendingIoError) failWrite();
      writeBlock(&app.outputFile, ring->slots[referencedSlot(ring, h.back)].bytes, h.prefixLength);
      if (pendingIoError) failWrite();
    }

    decodeFileEntry(run, &h, skip);

    if (!skip) {
      if (!pfSetFileTimes(handleOf(&app.outputFile), h.creationTime, h.lastAccessTime, h.lastWriteTime)) failWrite();
      close(&app.outputFile);
      if (pendingIoError) failWrite();
      if (app.cancelFlag) pfDeleteFile(bsText(&h.fullPath));
    }
    advanceHeadRing(ring);
  }

  close(&app.archiveFile);
  if (pendingIoError) failRead();
  bsRelease(&folder);
  bsRelease(&h.entryName);
  bsRelease(&h.fullPath);
  endRun(run);
}
