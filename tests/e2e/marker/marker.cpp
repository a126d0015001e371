// The program that the launch cases pack and have the stub open after
// extraction: it writes marker.txt into its current folder (which tells
// where the stub let it start) and ends. A Windows program without a
// window, so nothing appears on the screen.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Written under another name first and then renamed, so that marker.txt
  // appears with its whole content at once.
  static const char kText[] = "started\r\n";
  HANDLE h = CreateFileA("marker.tmp", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (h == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  const BOOL ok = WriteFile(h, kText, sizeof kText - 1, &written, NULL);
  CloseHandle(h);
  if (!ok || !MoveFileA("marker.tmp", "marker.txt")) return 1;
  return 0;
}
