// The Extract command: the password and the target folder are checked (a
// failed check leaves the dialog as it was, ready for another click), then
// the whole archive is extracted with the progress window shown, and the
// completion step reports, opens the designated file and ends the dialog.
#include "app/shell.h"
#include "common/texts.h"
#include "archive/driver.h"
#include "archive/header.h"
#include "fileio/fatal.h"
#include "fs/folders.h"
#include "fs/paths.h"
#include "platform/win32/wide_text.h"

#include <shellapi.h>

// The typed password must have the archive's check value; it then becomes
// the key the block stream is unmasked with. An empty password is refused:
// the mask needs at least one key byte.
static bool passwordChecked() {
  if (!app.passwordProtected) return true;
  // Converted as the ANSI calls of a code page 932 system convert it (a
  // character without a form there becomes its nearest one), as before.
  ByteString typed = {};
  windowText932(hwndOf(app.passwordBox), &typed, false);
  const bool accepted = passwordAccepted(bsText(&typed), typed.length);
  if (accepted) bsAssign(&app.key, bsText(&typed), typed.length);
  bsRelease(&typed);
  if (!accepted) {
    pfMessageBox(MsgWrongPassword, kTextWrongPassword, 0, kMbOk | kMbIconExclamation, true);
    SetFocus(hwndOf(app.passwordBox));
  }
  return accepted;
}

// The folder box's text becomes the target folder, which must exist or be
// created now. A folder whose name has a character that code page 932
// cannot write is refused before anything is made or written: any 932 form
// of it would name a different folder ("Zoe" for "Zoë").
static bool targetFolderReady() {
  ByteString typed = {};
  const bool exact = windowText932(hwndOf(app.folderBox), &typed, true);
  withTrailingBackslash(bsText(&typed), &app.targetFolder);
  bsRelease(&typed);
  if (!exact) {
    pfMessageBox(MsgCannotMakeFolder, kTextFolderNameUnusable, 0, kMbOk | kMbIconError, true);
    return false;
  }

  const char* target = bsText(&app.targetFolder);
  switch (folderState(target)) {
    case FolderExists:
      return true;
    case FolderMissing: {
      if (pfMessageBox(MsgCreateFolder, kTextCreateFolder, target, kMbYesNo | kMbIconQuestion, true) != kIdYes)
        return false;
      ByteString failed = {};
      const bool made = createFolderPath(target, &failed);
      bsRelease(&failed);
      if (made) return true;
      break;
    }
    case FolderIsFile:
      break;
  }
  pfMessageBox(MsgCannotMakeFolder, kTextCannotMakeFolder, target, kMbOk | kMbIconError, true);
  return false;
}

void onExtract() {
  if (!passwordChecked()) return;
  if (!targetFolderReady()) return;

  // The main window stays disabled for good: no second Extract or Browse can
  // arrive while the run dispatches messages.
  ShowWindow(hwndOf(app.progressWindow), SW_SHOW);
  UpdateWindow(hwndOf(app.progressWindow));
  EnableWindow(hwndOf(app.mainWindow), FALSE);
  extractAll(bsText(&app.targetFolder));
  ShowWindow(hwndOf(app.progressWindow), SW_HIDE);

  completeExtraction();
}

void completeExtraction() {
  if (app.cancelFlag) {
    pfMessageBox(MsgInterrupted, kTextInterrupted, 0, kMbOk | kMbIconInformation, true);
  } else {
    pfMessageBox(MsgFinished, kTextFinished, 0, kMbOk | kMbIconInformation, true);
    if (app.launchFile.length) {
      // A relative name is found in the target folder, and the program
      // started inherits it as its current folder.
      SetCurrentDirectoryW(wideFrom932(bsText(&app.targetFolder)));
      const INT_PTR result =
          (INT_PTR)ShellExecuteW(NULL, NULL, wideFrom932(bsText(&app.launchFile)), NULL, NULL, SW_SHOWNORMAL);
      if (result <= 32) {
        ByteString text = {};
        bsAppend(&text, bsText(&app.launchFile), app.launchFile.length);
        bsAppendText(&text, kTextLaunchFailed);
        pfMessageBox(MsgLaunchFailed, bsText(&text), bsText(&app.launchFile), kMbOk | kMbIconError, true);
        bsRelease(&text);
      }
    }
  }
  // Posted, not sent: the main loop delivers it, the destroy handler asks
  // for the quit message, and the process ends with exit code 0.
  PostMessageW(hwndOf(app.mainWindow), WM_DESTROY, 0, 0);
}
