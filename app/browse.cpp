// Browse: the shell's folder dialog, opened at the folder last chosen (at
// first the current folder). The folder chosen goes into the folder box and
// is remembered for the next time; typing into the box does not change what
// is preselected.
#include "app/shell.h"
#include "common/texts.h"

#include <shlobj.h>

static const uint32_t kPathBuffer = MAX_PATH + 1;

// Bytes up to the first 0, at most the buffer's length.
static uint32_t boundedLength(const char* text, uint32_t limit) {
  uint32_t n = 0;
  while (n < limit && text[n]) ++n;
  return n;
}

static int WIN32_CALLBACK browseCallback(HWND dialog, UINT message, LPARAM, LPARAM) {
  if (message == BFFM_INITIALIZED) SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE, (LPARAM)bsText(&app.browseFolder));
  return 0;
}

void browseForFolder() {
  // Every item list the shell hands out is freed with its task allocator.
  // The allocator is used through its interface, so no COM library is linked.
  IMalloc* allocator = NULL;
  if (FAILED(SHGetMalloc(&allocator)) || !allocator) return;

  // Nothing is preselected when the folder to preselect is the desktop
  // folder itself. A desktop folder that cannot be located counts as empty.
  char desktop[kPathBuffer];
  desktop[0] = 0;
  LPITEMIDLIST list = NULL;
  SHGetSpecialFolderLocation(hwndOf(app.mainWindow), CSIDL_DESKTOPDIRECTORY, &list);
  if (list) {
    if (!SHGetPathFromIDListA(list, desktop)) desktop[0] = 0;
    allocator->Free(list);
  }
  const uint32_t desktopLength = boundedLength(desktop, kPathBuffer);
  const bool preselect = !(desktopLength == app.browseFolder.length &&
                           sameBytes(desktop, bsText(&app.browseFolder), desktopLength));

  char displayName[kPathBuffer];
  BROWSEINFOA info;
  info.hwndOwner = hwndOf(app.mainWindow);
  info.pidlRoot = NULL;
  info.pszDisplayName = displayName;
  info.lpszTitle = kTextBrowseTitle;
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN;
  info.lpfn = preselect ? browseCallback : NULL;
  info.lParam = 0;
  info.iImage = 0;

  list = SHBrowseForFolderA(&info);
  if (list) {
    // An item without a file-system path changes nothing.
    char chosen[kPathBuffer];
    if (SHGetPathFromIDListA(list, chosen)) {
      chosen[kPathBuffer - 1] = 0;
      SetWindowTextA(hwndOf(app.folderBox), chosen);
      bsAssign(&app.browseFolder, chosen, boundedLength(chosen, kPathBuffer));
    }
    allocator->Free(list);
  }
  allocator->Release();
}
