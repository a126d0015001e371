// The main dialog: a plain window whose controls are created by hand in its
// creation handler and laid out in units of the system font.
#include "app/shell.h"
#include "common/texts.h"
#include "platform/platform.h"
#include "platform/win32/wide_text.h"

// Every control: a visible child with no further extended style.
static const DWORD kChild = WS_CHILD | WS_VISIBLE;
// Multi-line, read-only comment with a vertical scroll bar; long lines wrap.
static const DWORD kCommentStyle = kChild | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY;
// One-line boxes that scroll sideways.
static const DWORD kLineStyle = kChild | WS_BORDER | ES_AUTOHSCROLL;

static const int kIdComment = 1, kIdPassword = 2, kIdExtract = 3, kIdMessageLabel = 4, kIdPasswordLabel = 5,
                 kIdFolderLabel = 6, kIdFolder = 7, kIdBrowse = 8;

HWND createControl(HWND parent, const WCHAR* className, const WCHAR* text, DWORD style, int x, int y, int w, int h,
                   int id) {
  HWND control = CreateWindowExW(0, className, text, style, x, y, w, h, parent, (HMENU)(INT_PTR)id,
                                 GetModuleHandleW(NULL), NULL);
  SendMessageW(control, WM_SETFONT, (WPARAM)app.dialogFont, FALSE);
  return control;
}

SIZE textExtent(HDC dc, const char* text) {
  const WCHAR* wide = wideFrom932(text);
  SIZE extent;
  GetTextExtentPoint32W(dc, wide, wideUnits, &extent);
  return extent;
}

// A label sized to its caption's extent in the dialog's font.
static WindowRef createLabel(HWND parent, HDC dc, const char* caption, int y, int id) {
  const SIZE extent = textExtent(dc, caption);
  return createControl(parent, L"static", wideFrom932(caption), kChild, 1, y, extent.cx, extent.cy, id);
}

static void onCreate(HWND window) {
  // The dialog's font: the stock system font where it carries the Japanese
  // characters (a system of code page 932), else a font of the Japanese
  // character set of the same height, which the system's font mapper picks
  // among the fonts it has. The layout units come from the font chosen.
  HDC dc = GetDC(window);
  HGDIOBJ font = GetStockObject(SYSTEM_FONT);
  SelectObject(dc, font);
  TEXTMETRICW metrics;
  GetTextMetricsW(dc, &metrics);
  if (metrics.tmCharSet != SHIFTJIS_CHARSET) {
    LOGFONTW wanted = {};
    wanted.lfHeight = metrics.tmHeight;
    wanted.lfWeight = metrics.tmWeight;
    wanted.lfCharSet = SHIFTJIS_CHARSET;
    HFONT japanese = CreateFontIndirectW(&wanted);
    if (japanese) {
      font = japanese;
      SelectObject(dc, font);
      GetTextMetricsW(dc, &metrics);
    }
  }
  app.dialogFont = font;
  const int cw = app.charWidth = metrics.tmAveCharWidth;
  const int lh = app.lineHeight = metrics.tmHeight + metrics.tmExternalLeading;

  // Keep the position the system chose; only the size is ours.
  WINDOWPLACEMENT placement;
  placement.length = sizeof placement;  // 44
  placement.flags = 0;
  GetWindowPlacement(window, &placement);
  MoveWindow(window, placement.rcNormalPosition.left, placement.rcNormalPosition.top, 70 * cw, 20 * lh, TRUE);

  app.messageLabel = createLabel(window, dc, kTextMessageLabel, 1, kIdMessageLabel);
  app.passwordLabel = createLabel(window, dc, kTextPasswordLabel, 16 * lh, kIdPasswordLabel);
  app.folderLabel = createLabel(window, dc, kTextFolderLabel, 13 * lh, kIdFolderLabel);

  // One size for both buttons, measured over the longer caption (Browse,
  // 7 bytes), so that it fits both.
  const SIZE extent = textExtent(dc, kTextBrowse);
  const int buttonWidth = extent.cx + cw, buttonHeight = (3 * extent.cy) / 2;
  app.extractButton = createControl(window, L"button", wideFrom932(kTextExtract), kChild, 60 * cw, 17 * lh - lh / 4,
                                        buttonWidth, buttonHeight, kIdExtract);
  app.browseButton = createControl(window, L"button", wideFrom932(kTextBrowse), kChild, 60 * cw, 14 * lh - lh / 4,
                                       buttonWidth, buttonHeight, kIdBrowse);
  ReleaseDC(window, dc);

  app.commentBox =
      createControl(window, L"edit", NULL, kCommentStyle, cw - 2, (3 * lh) / 2 - 2, 67 * cw, 11 * lh, kIdComment);
  app.passwordBox =
      createControl(window, L"edit", NULL, kLineStyle, cw - 2, 17 * lh, 57 * cw + 4, lh, kIdPassword);

  // The folder box starts with the current folder, which is also what the
  // first Browse preselects; both keep the system's UTF-16 form.
  const DWORD length = GetCurrentDirectoryW(0, NULL);
  WCHAR* current = length ? (WCHAR*)pfAlloc(length * sizeof(WCHAR)) : NULL;
  DWORD got = current ? GetCurrentDirectoryW(length, current) : 0;
  if (got >= length) got = 0;
  if (current) current[got] = 0;
  keepBrowseFolder(current ? current : L"", got);
  app.folderBox = createControl(window, L"edit", current, kLineStyle, cw - 2, 14 * lh, 57 * cw + 4, lh, kIdFolder);
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
  return DefWindowProcW(window, message, wParam, lParam);
}
