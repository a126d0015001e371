// The progress window: one line of status text, written by the extraction
// driver, and a Cancel button that sets the cancel flag. The flag is polled
// by the driver and the decoder, which dispatch this window's messages from
// inside the run.
#include "app/shell.h"
#include "common/texts.h"
#include "platform/win32/wide_text.h"

static const int kIdProgressText = 1, kIdCancelButton = 2;

static void onCreate(HWND window) {
  const int cw = app.charWidth, lh = app.lineHeight;
  // Measured in the window's own device context with the dialog's font.
  HDC dc = GetDC(window);
  SelectObject(dc, app.dialogFont);
  // As wide as the whole window: a long path shows only as far as it fits.
  app.progressText = createControl(window, L"static", NULL, WS_CHILD | WS_VISIBLE, 2, lh, 70 * cw, lh, kIdProgressText);
  const SIZE extent = textExtent(dc, kTextCancel);
  app.cancelButton = createControl(window, L"button", wideFrom932(kTextCancel), WS_CHILD | WS_VISIBLE, 30 * cw, 3 * lh,
                                       extent.cx + cw, (3 * extent.cy) / 2, kIdCancelButton);
  ReleaseDC(window, dc);
}

LRESULT WIN32_CALLBACK progressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      onCreate(window);
      return 0;
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED && lParam && (HWND)lParam == hwndOf(app.cancelButton)) {
        app.cancelFlag = 1;  // stays set until the process ends
        return 0;
      }
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}
