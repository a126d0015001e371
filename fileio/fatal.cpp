#include "fileio/fatal.h"
#include "common/app_state.h"
#include "common/texts.h"
#include "fileio/block_file.h"

void closeFilesAndExit() {
  close(&app.archiveFile);
  takeIoError();
  // An output file still open is a partly written one, and one whose close
  // failed may lack data the system had not stored yet: either goes, also
  // when closing it now fails.
  const bool partial = app.outputFile.state == FileReadWrite || app.outputFile.closeFailed;
  close(&app.outputFile);
  takeIoError();
  if (partial) {
    deleteFile(&app.outputFile);
    takeIoError();
  }
  pfExitProcess(1);
}

[[noreturn]] static void failWith(MessageId id, const char* text) {
  pfMessageBox(id, text, 0, kMbOk | kMbIconError, true);
  closeFilesAndExit();
}

void failRead() { failWith(MsgReadFailed, kTextReadFailed); }
void failWrite() { failWith(MsgWriteFailed, kTextWriteFailed); }
void failDamaged() { failWith(MsgDamaged, kTextDamaged); }
void failOutOfMemory() {
  pendingIoError = kIoNoMemory;
  failRead();
}
