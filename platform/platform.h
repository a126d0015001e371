// The seam between the format code and the system it runs on.
//
// Everything that touches files, windows or the process goes through these
// plain procedures. The stub links platform/win32, the host programs link
// platform/host (files on POSIX) plus a user-interface side of their own:
// scripted answers for the tests, a terminal for the command-line tool.
// Paths and texts are code page 932 byte strings with "\" as separator.
#pragma once
#include <stdint.h>

typedef intptr_t FileHandle;
static const FileHandle kNoFile = -1;

// ---- files (mirror the Win32 calls the stub makes) ----
// Opens an existing file read-only (share read) or creates/truncates one for
// reading and writing. Returns kNoFile on failure; pfLastError tells why.
FileHandle pfOpenFile(const char* name, bool forWriting);
bool pfReadFile(FileHandle h, void* buffer, uint32_t count, uint32_t* got);
bool pfWriteFile(FileHandle h, const void* buffer, uint32_t count, uint32_t* put);
// Low 32 bits of the size; false on failure.
bool pfFileSize(FileHandle h, uint32_t* size);
// Current position (low 32 bits); false on failure.
bool pfFilePosition(FileHandle h, uint32_t* position);
// Moves the position to `position` bytes from the start (below 2 GB).
bool pfSeekFile(FileHandle h, uint32_t position);
bool pfCloseFile(FileHandle h);
bool pfDeleteFile(const char* name);
// Sets creation, last-access and last-write time (FILETIME values, UTC).
bool pfSetFileTimes(FileHandle h, uint64_t creation, uint64_t lastAccess, uint64_t lastWrite);
uint32_t pfLastError();

// Looks a name up the way FindFirstFileA does (the search is closed again).
// Returns kProbeNothing when nothing was found or the search failed, else
// the attributes of the entry found.
static const uint32_t kProbeNothing = 0xFFFFFFFFu;
static const uint32_t kAttrDirectory = 0x10;
uint32_t pfProbe(const char* name);
bool pfCreateDirectory(const char* name);

// ---- text ----
// Steps from one character of an ANSI (code page 932) string to the next.
const char* pfCharNext(const char* p);

// ---- memory (the run's working state and growing strings) ----
void* pfAlloc(uint32_t size);
void* pfRealloc(void* block, uint32_t size);
void pfFree(void* block);

// ---- user dialogue ----
// Which fixed message a box shows; the host sides use it to word the
// message for a terminal and to pick an exit code.
enum MessageId {
  MsgReadFailed,       // ファイルの読み込みに失敗しました。
  MsgWriteFailed,      // ファイルの書き込みに失敗しました。
  MsgDamaged,          // ファイルが壊れています。
  MsgFolderFailed,     // フォルダが作れませんでした: + folder
  MsgOverwrite,        // path + はすでに存在します。上書きしますか？
  MsgFileSmaller,
  MsgFileLarger,
  MsgWrongPassword,
  MsgCreateFolder,
  MsgCannotMakeFolder,
  MsgFinished,
  MsgInterrupted,
  MsgLaunchFailed,
};
// Message box flags and answers, as Win32 numbers them.
static const uint32_t kMbOk = 0x00, kMbYesNoCancel = 0x03, kMbYesNo = 0x04;
static const uint32_t kMbIconError = 0x10, kMbIconQuestion = 0x20,
                      kMbIconExclamation = 0x30, kMbIconInformation = 0x40;
static const int kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7;
// Shows a modal message box captioned with the product banner, owned by the
// main window when `owned`. `subject` is the path or name the text names
// (or null). Returns the answer.
int pfMessageBox(MessageId id, const char* text, const char* subject, uint32_t flags, bool owned);

// What the extraction driver is doing, shown in the progress window's text
// line. `text` is the whole line (status word + path).
enum StatusId { StatusProcessing, StatusSkipping, StatusExtracting };
void pfShowStatus(StatusId id, const char* text, const char* fullPath);

// Takes at most one waiting window message and dispatches it (the decoder
// calls this at every rebuild point of its code trees).
void pfPumpOneMessage();

// Ends the process with an exit code.
[[noreturn]] void pfExitProcess(uint32_t code);
