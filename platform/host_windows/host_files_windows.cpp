// The host programs' side of the seam for files, folders, text stepping and
// memory on Windows. Names arrive as the stub passes them to the ANSI calls
// (code page 932, "\" separators); here they are converted to UTF-16 with
// code page 932 named explicitly, so Japanese names come out right on a
// Windows of any ANSI code page, and go to the wide calls with the "\\?\"
// prefix, so that long paths work. The files are opened, read, written and
// time-stamped as the stub does it, creation time included.
#include <windows.h>
#include <stdlib.h>

#include <string>

#include "platform/host_windows/wide_names.h"
#include "platform/platform.h"
#include "platform/host/host_files.h"

static uint32_t lastError;

static bool fail() {
  lastError = GetLastError();
  if (!lastError) lastError = ERROR_GEN_FAILURE;
  return false;
}

static bool fail(DWORD code) {
  SetLastError(code);
  return fail();
}

// The wide system path of a code page 932 name. Relative names (the
// extraction's, below its target folder) are refused when a component would
// be a device or a name that Windows programs cannot open.
static bool systemName(const char* name, std::wstring* out) {
  std::wstring wide;
  if (!winFromCp932(name, strlen(name), &wide)) return fail(ERROR_NO_UNICODE_TRANSLATION);
  const bool absolute = (wide.size() >= 2 && wide[1] == L':') || (!wide.empty() && (wide[0] == L'\\' || wide[0] == L'/'));
  if (!absolute && winNameIsOdd(wide)) return fail(ERROR_INVALID_NAME);
  return winSystemPath(wide, out) || fail();
}

const char* pfCharNext(const char* p) {
  // Code page 932 stepping whatever the ANSI code page is: archive names are
  // always code page 932.
  const unsigned char c = (unsigned char)*p;
  if (!c) return p;
  const bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
  return (lead && p[1]) ? p + 2 : p + 1;
}

FileHandle pfOpenFile(const char* name, bool forWriting) {
  std::wstring path;
  if (!systemName(name, &path)) return kNoFile;
  HANDLE h = CreateFileW(path.c_str(), forWriting ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ, 0,
                         forWriting ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
  if (h == INVALID_HANDLE_VALUE) return fail(), kNoFile;
  return (FileHandle)h;
}

// The POSIX side reads the archive ahead in large pieces, to spare three
// system calls per block; here ReadFile and the position and size queries
// are cheap enough, and nothing is read ahead.
void hostReadAhead(FileHandle) {}

bool pfReadFile(FileHandle h, void* buffer, uint32_t count, uint32_t* got) {
  uint32_t done = 0;
  while (done < count) {
    DWORD n = 0;
    if (!ReadFile((HANDLE)h, (char*)buffer + done, count - done, &n, 0)) return fail();
    if (n == 0) break;
    done += n;
  }
  *got = done;
  return true;
}

bool pfWriteFile(FileHandle h, const void* buffer, uint32_t count, uint32_t* put) {
  uint32_t done = 0;
  while (done < count) {
    DWORD n = 0;
    if (!WriteFile((HANDLE)h, (const char*)buffer + done, count - done, &n, 0)) return fail();
    if (n == 0) return fail(ERROR_WRITE_FAULT);
    done += n;
  }
  *put = done;
  return true;
}

bool pfFileSize(FileHandle h, uint32_t* size) {
  LARGE_INTEGER s;
  if (!GetFileSizeEx((HANDLE)h, &s)) return fail();
  *size = (uint32_t)s.QuadPart;
  return true;
}

bool pfFilePosition(FileHandle h, uint32_t* position) {
  LARGE_INTEGER zero, at;
  zero.QuadPart = 0;
  if (!SetFilePointerEx((HANDLE)h, zero, &at, FILE_CURRENT)) return fail();
  *position = (uint32_t)at.QuadPart;
  return true;
}

bool pfSeekFile(FileHandle h, uint32_t position) {
  LARGE_INTEGER to;
  to.QuadPart = position;
  return SetFilePointerEx((HANDLE)h, to, 0, FILE_BEGIN) || fail();
}

bool pfCloseFile(FileHandle h) { return CloseHandle((HANDLE)h) || fail(); }

bool pfDeleteFile(const char* name) {
  std::wstring path;
  if (!systemName(name, &path)) return false;
  return DeleteFileW(path.c_str()) || fail();
}

static FILETIME fileTime(uint64_t t) {
  FILETIME f;
  f.dwLowDateTime = (DWORD)t;
  f.dwHighDateTime = (DWORD)(t >> 32);
  return f;
}

bool pfSetFileTimes(FileHandle h, uint64_t creation, uint64_t lastAccess, uint64_t lastWrite) {
  const FILETIME c = fileTime(creation), a = fileTime(lastAccess), w = fileTime(lastWrite);
  if (SetFileTime((HANDLE)h, &c, &a, &w)) return true;
  // A time the file system cannot hold (a stored value beyond the largest
  // the system takes) is no reason to lose the file, as on POSIX: the times
  // are left as they are.
  if (GetLastError() == ERROR_INVALID_PARAMETER) return true;
  return fail();
}

uint32_t pfLastError() { return lastError; }

uint32_t pfProbe(const char* name) {
  // An attribute query, not a search: the name is never taken as a pattern.
  std::wstring path;
  if (!systemName(name, &path)) return kProbeNothing;
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes == INVALID_FILE_ATTRIBUTES ? kProbeNothing : (uint32_t)attributes;
}

bool pfCreateDirectory(const char* name) {
  std::wstring path;
  if (!systemName(name, &path)) return false;
  return CreateDirectoryW(path.c_str(), 0) || fail();
}

void* pfAlloc(uint32_t size) { return malloc(size); }
void* pfRealloc(void* block, uint32_t size) { return realloc(block, size); }
void pfFree(void* block) { free(block); }
