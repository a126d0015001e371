// The progress window: one line of status text, written by the extraction
// driver, and a Cancel button that sets the cancel flag. The flag is polled
// by the driver and the decoder, which dispatch this window's messages from
// inside the run.
#include "app/shell.h"
#include "common/texts.h"

static const int kIdProgressText = 1, kIdCancelButton = 2;

static void onCreate(HWND window) {
  HINSTANCE module = GetModuleHandleA(NULL);
  const int cw = app.charWidth, lh = app.lineHeight;
  // Measured in the window's own device context with its default font,
  // which is the system font.
  HDC dc = GetDC(window);
  // As wide as the whole window: a long path shows only as far as it fits.
  app.progressText = CreateWindowExA(0, "static", NULL, WS_CHILD | WS_VISIBLE, 2, lh, 70 * cw, lh, window,
                                     (HMENU)kIdProgressText, module, NULL);
  SIZE extent;
  GetTextExtentPoint32A(dc, kTextCancel, sizeof kTextCancel - 1, &extent);
  app.cancelButton = CreateWindowExA(0, "button", kTextCancel, WS_CHILD | WS_VISIBLE, 30 * cw, 3 * lh,
                                     extent.cx + cw, (3 * extent.cy) / 2, window, (HMENU)kIdCancelButton, module, NULL);
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
  return DefWindowProcA(window, message, wParam, lParam);
}
