// The application shell of the stub: start-up, the main dialog, folder
// selection, the progress window and the Extract command. Win32 only.
#pragma once
#include <windows.h>

#include "common/app_state.h"

// Win32 calls these with the stack aligned to 4 bytes only; the attribute
// makes each of them align its own frame.
#define WIN32_CALLBACK __attribute__((force_align_arg_pointer)) CALLBACK

// The window handles of AppState are kept as plain pointers.
inline HWND hwndOf(WindowRef w) { return (HWND)w; }

// Registers the classes, creates both windows, checks the file's own size,
// reads the archive header into the dialog and runs the message loop. Ends
// the process; never returns.
[[noreturn]] void startUp();

// The main dialog (class "core_gui").
LRESULT WIN32_CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The progress window (class "progress_window") with its Cancel button.
LRESULT WIN32_CALLBACK progressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// A child control in the dialog's font. The extent of a code page 932 text
// in the font selected into `dc`.
HWND createControl(HWND parent, const WCHAR* className, const WCHAR* text, DWORD style, int x, int y, int w, int h,
                   int id);
SIZE textExtent(HDC dc, const char* text);

// Browse: the shell's folder dialog; the folder chosen goes into the folder
// box and becomes the next preselection.
void browseForFolder();
// Keeps `units` UTF-16 units of a folder as the next preselection.
void keepBrowseFolder(const WCHAR* folder, uint32_t units);

// Extract: password and folder checks, the run with the progress window,
// then the completion step, which ends the dialog.
void onExtract();
void completeExtraction();
