// Start-up: the two window classes and windows, the check of the file's own
// size against the size recorded behind the stub, the archive header into
// the dialog, and the message loop.
#include "app/shell.h"
#include "common/texts.h"
#include "archive/header.h"
#include "fileio/block_file.h"
#include "fileio/fatal.h"

static const char kMainClass[] = "core_gui";
static const char kProgressClass[] = "progress_window";
static const char kIconName[] = "main_icon";
// The background brush as a system colour index plus one: the menu colour.
static const HBRUSH kMenuColourBrush = (HBRUSH)(COLOR_MENU + 1);

static void registerMainClass(HINSTANCE module) {
  WNDCLASSEXA c;
  c.cbSize = sizeof c;  // 48
  c.style = 0;
  c.lpfnWndProc = mainWindowProc;
  c.cbClsExtra = 0;
  c.cbWndExtra = 0;
  c.hInstance = module;
  c.hIcon = LoadIconA(module, kIconName);
  c.hCursor = LoadCursorA(NULL, IDC_ARROW);
  c.hbrBackground = kMenuColourBrush;
  c.lpszMenuName = NULL;
  c.lpszClassName = kMainClass;
  c.hIconSm = LoadIconA(module, kIconName);
  if (!RegisterClassExA(&c)) pfExitProcess(0);
}

static void registerProgressClass(HINSTANCE module) {
  WNDCLASSA c;
  c.style = 0;
  c.lpfnWndProc = progressWindowProc;
  c.cbClsExtra = 0;
  c.cbWndExtra = 0;
  c.hInstance = module;
  c.hIcon = LoadIconA(module, kIconName);
  c.hCursor = LoadCursorA(NULL, IDC_ARROW);
  c.hbrBackground = kMenuColourBrush;
  c.lpszMenuName = NULL;
  c.lpszClassName = kProgressClass;
  if (!RegisterClassA(&c)) pfExitProcess(0);
}

// Hidden, owned by the main window, half a line above the desktop's centre
// (the offset counts 8 lines, the height 7). Uses the layout units that the
// main window's creation fixed.
static void createProgressWindow(HINSTANCE module) {
  RECT desk;
  GetWindowRect(GetDesktopWindow(), &desk);
  const int32_t cw = app.charWidth, lh = app.lineHeight;
  app.progressWindow = CreateWindowExA(0, kProgressClass, kTextProgressTitle, WS_OVERLAPPED | WS_CAPTION,
                                       (desk.right - 70 * cw) / 2, (desk.bottom - 8 * lh) / 2, 70 * cw, 7 * lh,
                                       hwndOf(app.mainWindow), NULL, module, NULL);
}

// Opens the running executable as the archive file. A module path that did
// not fit the buffer is refused rather than opened under a shortened name.
static void openOwnFile() {
  char path[MAX_PATH + 1];
  const DWORD n = GetModuleFileNameA(NULL, path, sizeof path);
  if (n == 0 || n >= sizeof path) failRead();
  bind(&app.archiveFile, path);
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
  SetWindowTextA(hwndOf(app.commentBox), bsText(&comment));
  bsRelease(&comment);
  readHeaderString(&app.launchFile);
  const uint8_t flags = readPasswordFields();
  if (app.passwordProtected && (flags & 1)) SendMessageA(hwndOf(app.passwordBox), EM_SETPASSWORDCHAR, '*', 0);
  return true;
}

void startUp() {
  HINSTANCE module = GetModuleHandleA(NULL);

  registerMainClass(module);
  // The creation handler lays the dialog out before this call returns.
  app.mainWindow = CreateWindowExA(0, kMainClass, kTextBanner, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, NULL, NULL, module, NULL);
  registerProgressClass(module);
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
  while (GetMessageA(&msg, NULL, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  pfExitProcess((uint32_t)msg.wParam);
}
