#include "common/app_reset.h"

#include "common/app_state.h"
#include "fileio/block_file.h"

void resetAppForNextRun() {
  bsRelease(&app.key);
  bsRelease(&app.launchFile);
  bsRelease(&app.targetFolder);
  bsRelease(&app.browseFolder);
  app.archiveFile = BlockFile{};
  app.outputFile = BlockFile{};
  app.cancelFlag = 0;
  app.passwordProtected = false;
  app.passwordCheck = 0;
  app.expectedSize = 0;
  app.consumedCount = 0;
  app.blockDataCount = 0;
  app.crcRegister = 0;
  app.keyPos = 0;
  app.endOfArchive = false;
  bsRelease(&app.walkedFolder);
  app.walkTrusted = false;
  takeIoError();
}
