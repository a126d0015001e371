// Browse: the shell's folder dialog, opened at the folder last chosen (at
// first the current folder). The folder chosen goes into the folder box and
// is remembered for the next time; typing into the box does not change what
// is preselected. Folders stay in the system's UTF-16 form here: they go
// from the system to the box and back unchanged.
#include "app/shell.h"
#include "common/texts.h"
#include "platform/win32/wide_text.h"

#include <shlobj.h>

static const uint32_t kPathBuffer = MAX_PATH + 1;

// UTF-16 units up to the first 0, at most the buffer's length.
static uint32_t boundedLength(const WCHAR* text, uint32_t limit) {
  uint32_t n = 0;
  while (n < limit && text[n]) ++n;
  return n;
}

static int WIN32_CALLBACK browseCallback(HWND dialog, UINT message, LPARAM, LPARAM) {
  if (message == BFFM_INITIALIZED) SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, (LPARAM)bsText(&app.browseFolder));
  return 0;
}

void browseForFolder() {
  // Every item list the shell hands out is freed with its task allocator.
  // The allocator is used through its interface, so no COM library is linked.
  IMalloc* allocator = NULL;
  if (FAILED(SHGetMalloc(&allocator)) || !allocator) return;

  // Nothing is preselected when the folder to preselect is the desktop
  // folder itself. A desktop folder that cannot be located counts as empty.
  WCHAR desktop[kPathBuffer];
  desktop[0] = 0;
  LPITEMIDLIST list = NULL;
  SHGetSpecialFolderLocation(hwndOf(app.mainWindow), CSIDL_DESKTOPDIRECTORY, &list);
  if (list) {
    if (!SHGetPathFromIDListW(list, desktop)) desktop[0] = 0;
    allocator->Free(list);
  }
  const uint32_t desktopBytes = (boundedLength(desktop, kPathBuffer) + 1) * sizeof(WCHAR);
  const bool preselect = !(desktopBytes == app.browseFolder.length &&
                           sameBytes(desktop, bsText(&app.browseFolder), desktopBytes));

  WCHAR displayName[kPathBuffer];
  BROWSEINFOW info;
  info.hwndOwner = hwndOf(app.mainWindow);
  info.pidlRoot = NULL;
  info.pszDisplayName = displayName;
  info.lpszTitle = wideFrom932(kTextBrowseTitle, WideSecond);
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN;
  info.lpfn = preselect ? browseCallback : NULL;
  info.lParam = 0;
  info.iImage = 0;

  list = SHBrowseForFolderW(&info);
  if (list) {
    // An item without a file-system path changes nothing.
    WCHAR chosen[kPathBuffer];
    if (SHGetPathFromIDListW(list, chosen)) {
      chosen[kPathBuffer - 1] = 0;
      SetWindowTextW(hwndOf(app.folderBox), chosen);
      keepBrowseFolder(chosen, boundedLength(chosen, kPathBuffer));
    }
    allocator->Free(list);
  }
  allocator->Release();
}

void keepBrowseFolder(const WCHAR* folder, uint32_t units) {
  // The UTF-16 bytes with their 0 behind them.
  bsAssign(&app.browseFolder, (const char*)folder, (units + 1) * sizeof(WCHAR));
}
