// The main dialog: a plain window whose controls are created by hand in its
// creation handler and laid out in units of the system font.
#include "app/shell.h"
#include "common/texts.h"
#include "platform/platform.h"

// Every control: a visible child with no further extended style.
static const DWORD kChild = WS_CHILD | WS_VISIBLE;
// Multi-line, read-only comment with a vertical scroll bar; long lines wrap.
static const DWORD kCommentStyle = kChild | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY;
// One-line boxes that scroll sideways.
static const DWORD kLineStyle = kChild | WS_BORDER | ES_AUTOHSCROLL;

static const int kIdComment = 1, kIdPassword = 2, kIdExtract = 3, kIdMessageLabel = 4, kIdPasswordLabel = 5,
                 kIdFolderLabel = 6, kIdFolder = 7, kIdBrowse = 8;

static HWND createControl(HWND parent, const char* className, const char* text, DWORD style, int x, int y, int w,
                          int h, int id) {
  return CreateWindowExA(0, className, text, style, x, y, w, h, parent, (HMENU)(INT_PTR)id, GetModuleHandleA(NULL),
                         NULL);
}

// A label sized to its caption's extent in the system font.
static WindowRef createLabel(HWND parent, HDC dc, const char* caption, int length, int y, int id) {
  SIZE extent;
  GetTextExtentPoint32A(dc, caption, length, &extent);
  return createControl(parent, "static", caption, kChild, 1, y, extent.cx, extent.cy, id);
}

static void onCreate(HWND window) {
  HDC dc = GetDC(window);
  SelectObject(dc, GetStockObject(SYSTEM_FONT));
  TEXTMETRICA metrics;
  GetTextMetricsA(dc, &metrics);
  const int cw = app.charWidth = metrics.tmAveCharWidth;
  const int lh = app.lineHeight = metrics.tmHeight + metrics.tmExternalLeading;

  // Keep the position the system chose; only the size is ours.
  WINDOWPLACEMENT placement;
  placement.length = sizeof placement;  // 44
  placement.flags = 0;
  GetWindowPlacement(window, &placement);
  MoveWindow(window, placement.rcNormalPosition.left, placement.rcNormalPosition.top, 70 * cw, 20 * lh, TRUE);

  app.messageLabel =
      createLabel(window, dc, kTextMessageLabel, sizeof kTextMessageLabel - 1, 1, kIdMessageLabel);
  app.passwordLabel =
      createLabel(window, dc, kTextPasswordLabel, sizeof kTextPasswordLabel - 1, 16 * lh, kIdPasswordLabel);
  app.folderLabel = createLabel(window, dc, kTextFolderLabel, sizeof kTextFolderLabel - 1, 13 * lh, kIdFolderLabel);

  // One size for both buttons, measured over the longer caption (Browse,
  // 7 bytes), so that it fits both.
  SIZE extent;
  GetTextExtentPoint32A(dc, kTextBrowse, sizeof kTextBrowse - 1, &extent);
  const int buttonWidth = extent.cx + cw, buttonHeight = (3 * extent.cy) / 2;
  app.extractButton = createControl(window, "button", kTextExtract, kChild, 60 * cw, 17 * lh - lh / 4, buttonWidth,
                                    buttonHeight, kIdExtract);
  app.browseButton = createControl(window, "button", kTextBrowse, kChild, 60 * cw, 14 * lh - lh / 4, buttonWidth,
                                   buttonHeight, kIdBrowse);
  ReleaseDC(window, dc);

  app.commentBox =
      createControl(window, "edit", NULL, kCommentStyle, cw - 2, (3 * lh) / 2 - 2, 67 * cw, 11 * lh, kIdComment);
  app.passwordBox = createControl(window, "edit", NULL, kLineStyle, cw - 2, 17 * lh, 57 * cw + 4, lh, kIdPassword);

  // The folder box starts with the current folder, which is also what the
  // first Browse preselects.
  const DWORD length = GetCurrentDirectoryA(0, NULL);
  char* current = length ? (char*)pfAlloc(length) : NULL;
  if (current && GetCurrentDirectoryA(length, current) >= length) current[0] = 0;
  const char* folder = current ? current : "";
  bsAssign(&app.browseFolder, folder, textLength(folder));
  app.folderBox = createControl(window, "edit", folder, kLineStyle, cw - 2, 14 * lh, 57 * cw + 4, lh, kIdFolder);
  pfFree(current);
}

LRESULT WIN32_CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      onCreate(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_COMMAND:
      // Commands are told apart by the sending control's handle.
      if (HIWORD(wParam) == BN_CLICKED) {
        if ((HWND)lParam == hwndOf(app.extractButton) && lParam) {
          onExtract();
          return 0;
        }
        if ((HWND)lParam == hwndOf(app.browseButton) && lParam) {
          browseForFolder();
          return 0;
        }
      }
      break;
    case WM_CTLCOLORSTATIC:
      // The read-only comment box asks as a static control; it is white.
      if ((HWND)lParam == hwndOf(app.commentBox) && lParam) return (LRESULT)GetStockObject(WHITE_BRUSH);
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}
