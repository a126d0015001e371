// The Windows side of the program's seam, part two: error texts, text
// through the system's code pages, local times, and files and folders
// through the wide calls with paths of any length.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/host_windows/wide_names.h"
#include "tools/system.h"
#include "tools/windows/console_windows.h"

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

static bool widePath(const std::string& utf8, std::wstring* out) {
  std::wstring wide;
  if (!winFromUtf8(utf8.data(), utf8.size(), &wide)) return fail(ERROR_NO_UNICODE_TRANSLATION);
  return winSystemPath(wide, out) || fail();
}

// ---- errors ----

bool sysEnvironment(const char* name, std::string* value) {
  std::wstring wideName;
  winFromUtf8(name, strlen(name), &wideName);
  const DWORD n = GetEnvironmentVariableW(wideName.c_str(), 0, 0);
  if (!n) return false;
  std::wstring wide(n, L'\0');
  const DWORD got = GetEnvironmentVariableW(wideName.c_str(), wide.data(), n);
  if (got >= n) return false;
  wide.resize(got);
  return winToUtf8(wide.data(), wide.size(), value);
}

uint32_t sysLastError() { return lastError; }

static bool japaneseTexts;

struct ErrorWords {
  DWORD code;
  const char* english;
  const char* japanese;
};

// The common failures in the words the POSIX build prints for the same
// failure, so that both builds print the same messages.
static const ErrorWords kErrorWords[] = {
    {ERROR_FILE_NOT_FOUND, "No such file or directory", "そのようなファイルやディレクトリはありません"},
    {ERROR_PATH_NOT_FOUND, "No such file or directory", "そのようなファイルやディレクトリはありません"},
    {ERROR_INVALID_DRIVE, "No such file or directory", "そのようなファイルやディレクトリはありません"},
    {ERROR_BAD_NETPATH, "No such file or directory", "そのようなファイルやディレクトリはありません"},
    {ERROR_BAD_NET_NAME, "No such file or directory", "そのようなファイルやディレクトリはありません"},
    {ERROR_ACCESS_DENIED, "Permission denied", "許可がありません"},
    {ERROR_FILE_EXISTS, "File exists", "ファイルが存在します"},
    {ERROR_ALREADY_EXISTS, "File exists", "ファイルが存在します"},
    {ERROR_DISK_FULL, "No space left on device", "デバイスに空き領域がありません"},
    {ERROR_HANDLE_DISK_FULL, "No space left on device", "デバイスに空き領域がありません"},
    {ERROR_DIRECTORY, "Not a directory", "ディレクトリではありません"},
    {ERROR_FILENAME_EXCED_RANGE, "File name too long", "ファイル名が長すぎます"},
    {ERROR_WRITE_PROTECT, "Read-only file system", "読み込み専用ファイルシステムです"},
    {ERROR_NOT_ENOUGH_MEMORY, "Cannot allocate memory", "メモリを確保できません"},
    {ERROR_OUTOFMEMORY, "Cannot allocate memory", "メモリを確保できません"},
    {ERROR_DIR_NOT_EMPTY, "Directory not empty", "ディレクトリは空ではありません"},
    {ERROR_NO_UNICODE_TRANSLATION, "Invalid or incomplete multibyte or wide character",
     "無効または不完全なマルチバイトまたはワイド文字です"},
    // Refused by the seam itself (a device name, a dot or space at the end).
    {ERROR_INVALID_NAME, "Windows cannot hold this file name (a device name, or a dot or space at the end)",
     "Windows ではこのファイル名を使えません（デバイス名、または末尾のピリオドや空白）"},
};

std::string sysErrorText(uint32_t code) {
  for (const ErrorWords& w : kErrorWords)
    if (w.code == code) return japaneseTexts ? w.japanese : w.english;
  // The rest in the system's words.
  wchar_t* text = 0;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 0, code, japaneseTexts ? MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT) : 0,
                                 (LPWSTR)&text, 0, 0);
  if (!n && japaneseTexts)  // no Japanese texts on this system
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, 0, code,
                   0, (LPWSTR)&text, 0, 0);
  std::string utf8;
  if (text) winToUtf8(text, wcslen(text), &utf8);
  if (text) LocalFree(text);
  // Without the closing period (the messages add their own) and line end.
  for (;;) {
    if (!utf8.empty() && strchr(" .\r\n", utf8.back())) utf8.pop_back();
    else if (utf8.size() >= 3 && utf8.compare(utf8.size() - 3, 3, "\xE3\x80\x82") == 0) utf8.resize(utf8.size() - 3);
    else break;
  }
  if (utf8.empty()) utf8 = "system error " + std::to_string(code);
  return utf8;
}

// ---- text ----

void sysInitTerminalText(bool japanese) { japaneseTexts = japanese; }

bool sysTerminalIsUtf8() { return true; }

bool sysUserLanguageIsJapanese() { return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE; }

bool sysConvertText(SysTextCode from, SysTextCode to, const char* bytes, size_t count, std::string* out,
                    bool approximate) {
  // The terminal is UTF-8 here; every conversion goes through UTF-16.
  std::wstring wide;
  const bool read = from == TextCp932 ? winFromCp932(bytes, count, &wide) : winFromUtf8(bytes, count, &wide);
  if (!read) return false;
  return to == TextCp932 ? winToCp932(wide.data(), wide.size(), out) : winToUtf8(wide.data(), wide.size(), out);
}

bool sysLocalTime(uint64_t filetime, SysLocalTime* out) {
  // The zone's rules for that date's year (not today's offset), as
  // localtime does, where the system keeps them per year.
  FILETIME utc;
  utc.dwLowDateTime = (DWORD)filetime;
  utc.dwHighDateTime = (DWORD)(filetime >> 32);
  SYSTEMTIME universal, local;
  if (!FileTimeToSystemTime(&utc, &universal)) return false;
  typedef BOOL(WINAPI * PerYear)(const DYNAMIC_TIME_ZONE_INFORMATION*, const SYSTEMTIME*, SYSTEMTIME*);
  static const PerYear perYear =
      (PerYear)(void*)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SystemTimeToTzSpecificLocalTimeEx");
  DYNAMIC_TIME_ZONE_INFORMATION zone;
  const bool dynamic = perYear && GetDynamicTimeZoneInformation(&zone) != TIME_ZONE_ID_INVALID;
  if (!(dynamic ? perYear(&zone, &universal, &local) : SystemTimeToTzSpecificLocalTime(0, &universal, &local)))
    return false;
  FILETIME localFile;
  if (!SystemTimeToFileTime(&local, &localFile)) return false;
  const uint64_t localTicks = ((uint64_t)localFile.dwHighDateTime << 32) | localFile.dwLowDateTime;
  const uint64_t wholeMilliseconds = filetime - filetime % 10000u;  // what a SYSTEMTIME holds
  out->year = local.wYear;
  out->month = local.wMonth;
  out->day = local.wDay;
  out->hour = local.wHour;
  out->minute = local.wMinute;
  out->second = local.wSecond;
  out->offsetSeconds = (long)(((int64_t)localTicks - (int64_t)wholeMilliseconds) / 10000000);
  return true;
}

// ---- files and folders ----

static uint64_t ticks(const FILETIME& f) { return ((uint64_t)f.dwHighDateTime << 32) | f.dwLowDateTime; }

static HANDLE openForInfo(const std::wstring& path) {
  // Backup semantics open folders too; links are followed to what they name.
  return CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, 0);
}

static bool infoOf(HANDLE h, SysFileInfo* info) {
  BY_HANDLE_FILE_INFORMATION i;
  if (!GetFileInformationByHandle(h, &i)) return fail();
  const DWORD type = GetFileType(h);
  info->folder = (i.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info->regular = !info->folder && type == FILE_TYPE_DISK;
  info->size = info->folder ? 0 : ((uint64_t)i.nFileSizeHigh << 32) | i.nFileSizeLow;
  info->creation = ticks(i.ftCreationTime);
  info->lastAccess = ticks(i.ftLastAccessTime);
  info->lastWrite = ticks(i.ftLastWriteTime);
  info->volume = i.dwVolumeSerialNumber;
  info->index = ((uint64_t)i.nFileIndexHigh << 32) | i.nFileIndexLow;
  return true;
}

bool sysFileInfo(const std::string& path, SysFileInfo* info) {
  std::wstring wide;
  if (!widePath(path, &wide)) return false;
  HANDLE h = openForInfo(wide);
  if (h == INVALID_HANDLE_VALUE) return fail();
  const bool ok = infoOf(h, info);
  CloseHandle(h);
  return ok;
}

bool sysCanRead(const std::string& path) {
  std::wstring wide;
  if (!widePath(path, &wide)) return false;
  HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0,
                         OPEN_EXISTING, 0, 0);
  if (h == INVALID_HANDLE_VALUE) return fail();
  CloseHandle(h);
  return true;
}

bool sysListFolder(const std::string& path, std::vector<std::string>* names) {
  names->clear();
  std::wstring wide;
  if (!widePath(path, &wide)) return false;
  if (wide.back() != L'\\') wide += L'\\';
  wide += L'*';
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileExW(wide.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, 0, 0);
  if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND || fail();
  bool ok = true;
  do {
    const wchar_t* n = found.cFileName;
    if (!wcscmp(n, L".") || !wcscmp(n, L"..")) continue;
    std::string utf8;
    if (!winToUtf8(n, wcslen(n), &utf8)) {
      ok = fail(ERROR_NO_UNICODE_TRANSLATION);
      break;
    }
    names->push_back(utf8);
  } while (FindNextFileW(find, &found));
  if (ok && GetLastError() != ERROR_NO_MORE_FILES) ok = fail();
  FindClose(find);
  return ok;
}

std::string sysStoredName(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && (trimmed.back() == '/' || trimmed.back() == '\\')) trimmed.pop_back();
  const size_t cut = trimmed.find_last_of("/\\:");
  std::string base = trimmed.substr(cut == std::string::npos ? 0 : cut + 1);
  if (base.empty() || base == "." || base == "..") {
    // The real folder's name (also for "C:" alone, the current folder of a drive).
    std::wstring wide;
    if (!widePath(path, &wide)) return "";
    const size_t slash = wide.rfind(L'\\');
    const std::wstring last = wide.substr(slash + 1);
    if (last.empty()) return "";  // a root
    winToUtf8(last.data(), last.size(), &base);
  }
  return base;
}

bool sysReadWholeFile(const std::string& path, std::string* out) {
  out->clear();
  std::wstring wide;
  if (!widePath(path, &wide)) return false;
  HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_EXISTING, 0, 0);
  if (h == INVALID_HANDLE_VALUE) return fail();
  bool ok = true;
  for (;;) {
    char buffer[65536];
    DWORD n = 0;
    if (!ReadFile(h, buffer, sizeof buffer, &n, 0)) {
      ok = fail();
      break;
    }
    if (!n) break;
    out->append(buffer, n);
  }
  CloseHandle(h);
  return ok;
}

int sysOpenInput(const std::string& path) {
  std::wstring wide;
  if (!widePath(path, &wide)) return -1;
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | FILE_WRITE_ATTRIBUTES, share, 0, OPEN_EXISTING,
                         FILE_FLAG_SEQUENTIAL_SCAN, 0);
  if (h != INVALID_HANDLE_VALUE) {
    // Reading through this handle leaves the last-access time as it was.
    const FILETIME keep = {0xFFFFFFFFu, 0xFFFFFFFFu};
    SetFileTime(h, 0, &keep, 0);
  } else {
    h = CreateFileW(wide.c_str(), GENERIC_READ, share, 0, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, 0);
  }
  if (h == INVALID_HANDLE_VALUE) return fail(), -1;
  const int fd = _open_osfhandle((intptr_t)h, _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(h);
    fail(ERROR_TOO_MANY_OPEN_FILES);
  }
  return fd;
}

bool sysOpenArchive(const std::string& path, FileHandle* handle, uint64_t* size, bool* regular) {
  std::wstring wide;
  if (!widePath(path, &wide)) return false;
  HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, 0);
  if (h == INVALID_HANDLE_VALUE) return fail();
  SysFileInfo info;
  *regular = infoOf(h, &info) && info.regular;
  *size = *regular ? info.size : 0;
  *handle = (FileHandle)h;
  return true;
}

bool sysMakeFolders(const std::string& path) {
  std::wstring wide;
  if (!widePath(path, &wide)) return false;
  // From the first folder below the root down to the last.
  size_t at = wide.compare(0, 8, L"\\\\?\\UNC\\") == 0 ? wide.find(L'\\', wide.find(L'\\', 8) + 1) : 6;
  while (at != std::wstring::npos && at < wide.size()) {
    size_t end = wide.find(L'\\', at + 1);
    if (end == std::wstring::npos) end = wide.size();
    const std::wstring part = wide.substr(0, end);
    const DWORD attributes = GetFileAttributesW(part.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      if (!CreateDirectoryW(part.c_str(), 0) && GetLastError() != ERROR_ALREADY_EXISTS) return fail();
    } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      return fail(ERROR_DIRECTORY);
    }
    at = end;
  }
  return true;
}

bool sysEnterFolder(const std::string& path) {
  std::wstring wide;
  if (!widePath(path, &wide)) return false;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return fail();
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return fail(ERROR_DIRECTORY);
  // The process's current folder has a length limit that the folder may
  // pass: relative names are resolved against it by the seam itself.
  winSetBaseFolder(wide);
  SetCurrentDirectoryW(wide.c_str());
  return true;
}

void sysRemoveLinkAt(const char* name) {
  std::wstring wide, path;
  if (!winFromCp932(name, strlen(name), &wide) || !winSystemPath(wide, &path)) return;
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileExW(path.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, 0, 0);
  if (find == INVALID_HANDLE_VALUE) return;
  FindClose(find);
  // Only links: other reparse points (files kept in the cloud, for one) are
  // the files themselves.
  if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return;
  if (found.dwReserved0 != IO_REPARSE_TAG_SYMLINK && found.dwReserved0 != IO_REPARSE_TAG_MOUNT_POINT) return;
  if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveDirectoryW(path.c_str());
  else DeleteFileW(path.c_str());
}

FileHandle sysStandardOutputHandle() {
  HANDLE copy;
  if (!DuplicateHandle(GetCurrentProcess(), (HANDLE)_get_osfhandle(1), GetCurrentProcess(), &copy, 0, FALSE,
                       DUPLICATE_SAME_ACCESS))
    return fail(), kNoFile;
  return (FileHandle)copy;
}

// ---- one run apart ----

// The variable that names the archive to a process started for it alone.
static const wchar_t kApartVariable[] = L"VELLICOR_RUN_APART";

// A copy of a standard handle that a started process inherits.
static HANDLE inheritable(HANDLE h) {
  HANDLE copy = 0;
  if (!h || h == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
    return 0;
  return copy;
}

int sysRunApart(int (*one)(const char* archive), const char* archive, bool capture, std::string* output) {
  // Windows cannot fork: the program starts again with the same command
  // line, and the variable tells that process which archive is its own.
  std::vector<wchar_t> self(32768);
  const DWORD length = GetModuleFileNameW(0, self.data(), (DWORD)self.size());
  if (!length || length >= self.size()) return fail(), kApartNotStarted;
  std::wstring wideArchive;
  winFromUtf8(archive, strlen(archive), &wideArchive);
  HANDLE readEnd = 0, writeEnd = 0;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, 0, TRUE};
  if (capture) {
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return fail(), kApartNotStarted;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  }
  STARTUPINFOW start = {};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = inheritable(GetStdHandle(STD_INPUT_HANDLE));
  start.hStdOutput = capture ? writeEnd : inheritable((HANDLE)_get_osfhandle(1));
  start.hStdError = inheritable((HANDLE)_get_osfhandle(2));
  std::wstring commandLine = GetCommandLineW();
  PROCESS_INFORMATION process = {};
  SetEnvironmentVariableW(kApartVariable, wideArchive.c_str());
  const bool started = CreateProcessW(self.data(), commandLine.data(), 0, 0, TRUE, 0, 0, 0, &start, &process);
  if (!started) fail();
  SetEnvironmentVariableW(kApartVariable, 0);
  for (HANDLE h : {start.hStdInput, start.hStdOutput, start.hStdError})
    if (h) CloseHandle(h);
  if (!started) {
    if (readEnd) CloseHandle(readEnd);
    return kApartNotStarted;
  }
  CloseHandle(process.hThread);
  if (capture) {
    output->clear();
    char buffer[65536];
    DWORD n = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &n, 0) && n) output->append(buffer, n);
    CloseHandle(readEnd);
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  const bool known = GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  if (!known) return kApartCrashed;
  if (code == (DWORD)STATUS_CONTROL_C_EXIT) return kApartInterrupted;
  return code > 255 ? kApartCrashed : (int)code;
}

const char* sysArchiveApart() {
  static std::string archive;
  static bool looked = false;
  if (!looked) {
    looked = true;
    if (!sysEnvironment("VELLICOR_RUN_APART", &archive)) archive.clear();
    // Its own runs are never apart again.
    SetEnvironmentVariableW(kApartVariable, 0);
  }
  return archive.empty() ? 0 : archive.c_str();
}

// ---- pack's output file ----

// The temporary output. The control handler removes it and ends the
// process; the lock keeps it from running while the file comes and goes.
static CRITICAL_SECTION outputLock;
static bool outputLockReady;
static std::wstring tempName;
static bool tempActive;
static const char* outputNote;
static int outputInterruptCode;

static BOOL WINAPI onOutputEvent(DWORD) {
  EnterCriticalSection(&outputLock);
  // Opened with delete sharing: the name goes now, the data when the
  // process's handles close.
  if (tempActive) DeleteFileW(tempName.c_str());
  winLastWordsAndRestore(outputNote);
  ExitProcess((UINT)outputInterruptCode);
  return TRUE;
}

bool sysBeginOutput(const std::string& path, const char* interruptNote, int interruptCode, int* fd) {
  std::wstring full;
  if (!widePath(path, &full)) return false;
  const size_t slash = full.rfind(L'\\');
  const std::wstring folder = full.substr(0, slash + 1), base = full.substr(slash + 1);
  if (!outputLockReady) {
    InitializeCriticalSection(&outputLock);
    outputLockReady = true;
  }
  outputNote = interruptNote;
  outputInterruptCode = interruptCode;
  SetConsoleCtrlHandler(onOutputEvent, TRUE);
  HANDLE h = INVALID_HANDLE_VALUE;
  uint32_t seed = GetTickCount() ^ (GetCurrentProcessId() << 16);
  EnterCriticalSection(&outputLock);
  for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
    seed = seed * 1103515245u + 12345u;
    std::wstring suffix = L".";
    for (int shift = 20; shift >= 0; shift -= 4) suffix += L"0123456789abcdef"[(seed >> (shift + 8)) & 15];
    tempName = folder + L"." + base + suffix;
    h = CreateFileW(tempName.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, 0,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, 0);
    if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (h == INVALID_HANDLE_VALUE) fail();
  else tempActive = true;
  LeaveCriticalSection(&outputLock);
  if (h == INVALID_HANDLE_VALUE) {
    SetConsoleCtrlHandler(onOutputEvent, FALSE);
    return false;
  }
  *fd = _open_osfhandle((intptr_t)h, _O_BINARY);
  if (*fd < 0) {
    CloseHandle(h);
    EnterCriticalSection(&outputLock);
    DeleteFileW(tempName.c_str());
    tempActive = false;
    LeaveCriticalSection(&outputLock);
    SetConsoleCtrlHandler(onOutputEvent, FALSE);
    return fail(ERROR_TOO_MANY_OPEN_FILES);
  }
  return true;
}

bool sysFinishOutput(int fd, const std::string& path) {
  std::wstring full;
  bool ok = widePath(path, &full);
  if (ok && !FlushFileBuffers((HANDLE)_get_osfhandle(fd))) ok = fail();
  if (_close(fd) != 0 && ok) ok = fail(ERROR_WRITE_FAULT);
  EnterCriticalSection(&outputLock);
  if (ok && !MoveFileExW(tempName.c_str(), full.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) ok = fail();
  if (!ok) DeleteFileW(tempName.c_str());
  tempActive = false;
  LeaveCriticalSection(&outputLock);
  SetConsoleCtrlHandler(onOutputEvent, FALSE);
  return ok;
}

void sysDiscardOutput(int fd) {
  _close(fd);
  EnterCriticalSection(&outputLock);
  DeleteFileW(tempName.c_str());
  tempActive = false;
  LeaveCriticalSection(&outputLock);
  SetConsoleCtrlHandler(onOutputEvent, FALSE);
}
