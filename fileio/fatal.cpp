#include "fileio/fatal.h"
#include "common/app_state.h"
#include "common/texts.h"
#include "fileio/block_file.h"

void closeFilesAndExit() {
  close(&app.archiveFile);
  takeIoError();
  close(&app.outputFile);
  if (takeIoError() == 0) {
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
void failOutOfMemory() { failRead(); }
