// The Win32 side of the seam: files, folders, text stepping, memory and the
// user dialogue of the stub, each a thin call of the wide interface with the
// names and texts converted from code page 932 (wide_text.h).
#include <windows.h>

#include "common/app_state.h"
#include "common/texts.h"
#include "platform/platform.h"
#include "platform/win32/wide_text.h"

static HANDLE handleFrom(FileHandle h) { return (HANDLE)h; }

FileHandle pfOpenFile(const char* name, bool forWriting) {
  HANDLE h = CreateFileW(wideFrom932(name), forWriting ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ, NULL,
                         forWriting ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  return (FileHandle)h;  // INVALID_HANDLE_VALUE is kNoFile
}

bool pfReadFile(FileHandle h, void* buffer, uint32_t count, uint32_t* got) {
  DWORD n = 0;
  if (!ReadFile(handleFrom(h), buffer, count, &n, NULL)) return false;
  *got = n;
  return true;
}

bool pfWriteFile(FileHandle h, const void* buffer, uint32_t count, uint32_t* put) {
  DWORD n = 0;
  if (!WriteFile(handleFrom(h), buffer, count, &n, NULL)) return false;
  *put = n;
  return true;
}

// GetFileSize and SetFilePointer answer 0xFFFFFFFF both for a failure and
// for a real value; only the last error tells them apart.
bool pfFileSize(FileHandle h, uint32_t* size) {
  SetLastError(NO_ERROR);
  DWORD s = GetFileSize(handleFrom(h), NULL);
  if (s == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
  *size = s;
  return true;
}

bool pfFilePosition(FileHandle h, uint32_t* position) {
  SetLastError(NO_ERROR);
  DWORD p = SetFilePointer(handleFrom(h), 0, NULL, FILE_CURRENT);
  if (p == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return false;
  *position = p;
  return true;
}

// Positions stay below 2 GB, so 0xFFFFFFFF can only mean a failure.
bool pfSeekFile(FileHandle h, uint32_t position) {
  return SetFilePointer(handleFrom(h), (LONG)position, NULL, FILE_BEGIN) != INVALID_SET_FILE_POINTER;
}

bool pfCloseFile(FileHandle h) { return CloseHandle(handleFrom(h)) != 0; }

bool pfDeleteFile(const char* name) { return DeleteFileW(wideFrom932(name)) != 0; }

bool pfSetFileTimes(FileHandle h, uint64_t creation, uint64_t lastAccess, uint64_t lastWrite) {
  FILETIME c = {(DWORD)creation, (DWORD)(creation >> 32)};
  FILETIME a = {(DWORD)lastAccess, (DWORD)(lastAccess >> 32)};
  FILETIME w = {(DWORD)lastWrite, (DWORD)(lastWrite >> 32)};
  return SetFileTime(handleFrom(h), &c, &a, &w) != 0;
}

uint32_t pfLastError() { return GetLastError(); }

uint32_t pfProbe(const char* name) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(wideFrom932(name), &found);
  if (search == INVALID_HANDLE_VALUE) return kProbeNothing;
  FindClose(search);
  return found.dwFileAttributes;
}

bool pfCreateDirectory(const char* name) { return CreateDirectoryW(wideFrom932(name), NULL) != 0; }

// Code page 932's rule, whatever the system's code page: a lead byte (0x81
// to 0x9F, 0xE0 to 0xFC) takes the next byte with it unless the text ends
// there, as the host sides step.
const char* pfCharNext(const char* p) { return CharNextExA(932, p, 0); }

void* pfAlloc(uint32_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }

void* pfRealloc(void* block, uint32_t size) {
  if (!block) return pfAlloc(size);
  return HeapReAlloc(GetProcessHeap(), 0, block, size);
}

void pfFree(void* block) {
  if (block) HeapFree(GetProcessHeap(), 0, block);
}

// The texts arrive complete (the subject is already part of them); the
// caption is always the product banner, the owner the main window once the
// caller asks for it.
int pfMessageBox(MessageId, const char* text, const char*, uint32_t flags, bool owned) {
  return MessageBoxW(owned ? (HWND)app.mainWindow : NULL, wideFrom932(text), wideFrom932(kTextBanner, WideSecond),
                     flags);
}

void pfShowStatus(StatusId, const char* text, const char*) {
  SetWindowTextW((HWND)app.progressText, wideFrom932(text));
}

void pfPumpOneMessage() {
  MSG msg;
  if (!PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) return;
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
}

void pfExitProcess(uint32_t code) {
  ExitProcess(code);
}
