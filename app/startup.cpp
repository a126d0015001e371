// Start-up: the two window classes and windows, the check of the file's own
// size against the size recorded behind the stub, the archive header into
// the dialog, and the message loop.
#include "app/shell.h"
#include "common/texts.h"
#include "archive/header.h"
#include "fileio/block_file.h"
#include "fileio/fatal.h"
#include "platform/win32/wide_text.h"

static const WCHAR kMainClass[] = L"core_gui";
static const WCHAR kProgressClass[] = L"progress_window";
static const WCHAR kIconName[] = L"main_icon";
// The background brush as a system colour index plus one: the menu colour.
static const HBRUSH kMenuColourBrush = (HBRUSH)(COLOR_MENU + 1);

// Both classes: the main one with its small icon, the progress window's
// without (as RegisterClass leaves it: the system derives one).
static void registerClass(HINSTANCE module, WNDPROC procedure, const WCHAR* name, bool smallIcon) {
  WNDCLASSEXW c;
  c.cbSize = sizeof c;
  c.style = 0;
  c.lpfnWndProc = procedure;
  c.cbClsExtra = 0;
  c.cbWndExtra = 0;
  c.hInstance = module;
  c.hIcon = LoadIconW(module, kIconName);
  c.hCursor = LoadCursorW(NULL, (LPCWSTR)IDC_ARROW);
  c.hbrBackground = kMenuColourBrush;
  c.lpszMenuName = NULL;
  c.lpszClassName = name;
  c.hIconSm = smallIcon ? LoadIconW(module, kIconName) : NULL;
  if (!RegisterClassExW(&c)) pfExitProcess(0);
}

// Hidden, owned by the main window, half a line above the desktop's centre
// (the offset counts 8 lines, the height 7). Uses the layout units that the
// main window's creation fixed.
static void createProgressWindow(HINSTANCE module) {
  RECT desk;
  GetWindowRect(GetDesktopWindow(), &desk);
  const int32_t cw = app.charWidth, lh = app.lineHeight;
  app.progressWindow = CreateWindowExW(0, kProgressClass, wideFrom932(kTextProgressTitle), WS_OVERLAPPED | WS_CAPTION,
                                       (desk.right - 70 * cw) / 2, (desk.bottom - 8 * lh) / 2, 70 * cw, 7 * lh,
                                       hwndOf(app.mainWindow), NULL, module, NULL);
}

// Opens the running executable as the archive file. A module path that did
// not fit the buffer is refused rather than opened under a shortened name.
// A path that code page 932 cannot hold is opened by its UTF-16 form.
static WCHAR ownPath[MAX_PATH + 1];

static void openOwnFile() {
  const DWORD n = GetModuleFileNameW(NULL, ownPath, MAX_PATH + 1);
  if (n == 0 || n >= MAX_PATH + 1) failRead();
  ByteString path = {};
  if (!narrowTo932(ownPath, (int)n, &path, true)) keepOwnName(ownPath, &path);
  bind(&app.archiveFile, bsText(&path));
  bsRelease(&path);
  openForReading(&app.archiveFile);
  if (takeIoError()) failRead();
}

// The size check. A mismatch is told without an owner (the main window is
// never shown then) and ends the process with exit code 0.
static void refuseWrongSize(MessageId id, const char* text) {
  pfMessageBox(id, text, 0, kMbOk | kMbIconError, false);
  close(&app.archiveFile);
  pfExitProcess(0);
}

// Reads the stub image and the recorded size, compares it with the file's
// size and reads the rest of the header into the dialog. False when the file
// is the stub alone and carries no payload.
static bool readPayloadHeader() {
  if (size(&app.archiveFile) == (int32_t)kStubSize) return false;

  if (readStubImageAndSize()) failRead();

  const int32_t actual = size(&app.archiveFile);
  if (actual < app.expectedSize) refuseWrongSize(MsgFileSmaller, kTextFileSmaller);
  if (actual > app.expectedSize) refuseWrongSize(MsgFileLarger, kTextFileLarger);

  ByteString comment = {};
  readHeaderString(&comment);
  SetWindowTextW(hwndOf(app.commentBox), wideFrom932(bsText(&comment)));
  bsRelease(&comment);
  readHeaderString(&app.launchFile);
  const uint8_t flags = readPasswordFields();
  if (app.passwordProtected && (flags & 1)) SendMessageW(hwndOf(app.passwordBox), EM_SETPASSWORDCHAR, '*', 0);
  return true;
}

void startUp() {
  HINSTANCE module = GetModuleHandleW(NULL);

  registerClass(module, mainWindowProc, kMainClass, true);
  // The creation handler lays the dialog out before this call returns.
  app.mainWindow = CreateWindowExW(0, kMainClass, wideFrom932(kTextBanner, WideSecond), WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, NULL, NULL, module, NULL);
  registerClass(module, progressWindowProc, kProgressClass, false);
  createProgressWindow(module);

  openOwnFile();
  if (!readPayloadHeader()) {
    EnableWindow(hwndOf(app.extractButton), FALSE);
  } else if (!app.passwordProtected) {
    // Hidden before the window first shows, so they never flash into view.
    ShowWindow(hwndOf(app.passwordBox), SW_HIDE);
    ShowWindow(hwndOf(app.passwordLabel), SW_HIDE);
  }

  ShowWindow(hwndOf(app.mainWindow), SW_SHOW);
  UpdateWindow(hwndOf(app.mainWindow));

  // No accelerators and no dialog-message handling: Tab, Enter and Escape
  // mean nothing special in the main window.
  MSG msg;
  msg.wParam = 0;
  while (GetMessageW(&msg, NULL, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  pfExitProcess((uint32_t)msg.wParam);
}
