// The command-line program's seam to the system it runs on: the process and
// its console or terminal, interruptions, text conversions, clocks, and the
// files and folders it reaches by the user's paths. Plain procedures; one
// side per system is linked: tools/posix/ or tools/windows/.
//
// Host paths are UTF-8 text as the user gave them; "/" separates folders
// (on Windows "\" does too). Error codes are the system's own (errno on
// POSIX, the last-error value on Windows), the same kind of codes as the
// host side of platform.h reports through pfLastError; sysErrorText words
// either.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "platform/platform.h"

// ---- the process ----

// The first call of main. On Windows: the arguments become UTF-8 (from the
// wide command line), the standard streams binary (output bytes are the
// same as on POSIX), and text for a console reaches it as UTF-16 (its code
// page and modes are given back at the exit).
void sysStartProcess(int* argc, char*** argv);
// An environment variable as UTF-8 (on Windows from the wide environment:
// the C runtime's copy is in the ANSI code page and loses other
// characters). False when it is not set.
bool sysEnvironment(const char* name, std::string* value);
// The code of the last failing sys* call, and the text of any code.
uint32_t sysLastError();
std::string sysErrorText(uint32_t code);

// ---- terminal or console ----

// Whether a standard stream (0 input, 1 output, 2 error) is a terminal.
// The error stream counts as one only where the progress line's escape
// sequences work (a Windows console before Windows 10 takes none).
bool sysIsTerminal(int stream);
// Width of the terminal on the error stream; 80 when unknown.
size_t sysTerminalColumns();
// A monotonic clock, in seconds.
double sysSeconds();
// The processors this process may run on.
int sysProcessorCount();
// Shows `prompt` on the error stream and reads one line from the standard
// input, without its line end. With `hidden`, a terminal does not show what
// is typed (the line end is shown); echo goes off before the prompt is
// shown, so nothing typed after it is ever echoed. False at the end of the
// input with nothing read, or when an interruption arrives while it waits.
bool sysReadLine(const std::string& prompt, bool hidden, std::string* line);
// Asks on the user's terminal itself (not the standard streams): shows
// `prompt` and reads a line typed without echo. False when nothing was
// typed, with *noTerminal set when there is no terminal to ask on.
bool sysAskOnTerminal(const std::string& prompt, std::string* line, bool* noTerminal);

// ---- interruptions ----

// `onInterrupt` runs when the user interrupts: Ctrl-C (and Ctrl-Break), on
// POSIX also SIGTERM and SIGHUP, on Windows also the console being closed.
// It gets the signal number (SIGINT, or SIGTERM for the others). It runs as
// a signal handler on POSIX and on a thread of its own on Windows, so it
// may only store flags; a waiting sysReadLine returns false.
void sysCatchInterrupts(void (*onInterrupt)(int signal));

// ---- text ----

enum SysTextCode : uint8_t { TextCp932, TextUtf8, TextTerminal };
// Learns the terminal's character encoding (the locale's on POSIX; UTF-8
// on Windows, whose console is switched to it). `japanese`: the program
// speaks Japanese, and so do the error texts (on POSIX the locale decides
// that already).
void sysInitTerminalText(bool japanese);
bool sysTerminalIsUtf8();
// True when the system's language for users is Japanese (asked only when
// none of LC_ALL, LC_MESSAGES and LANG is set).
bool sysUserLanguageIsJapanese();
// Converts a whole text; false when some part has no form in `to` (or is
// no valid text in `from`). With `approximate`, characters without a form
// may be replaced by near ones instead.
bool sysConvertText(SysTextCode from, SysTextCode to, const char* bytes, size_t count, std::string* out,
                    bool approximate = false);

// A FILETIME (100 ns since 1601-01-01 UTC) in the local time zone.
struct SysLocalTime {
  int year, month, day, hour, minute, second;
  long offsetSeconds;  // local time minus UTC
};
bool sysLocalTime(uint64_t filetime, SysLocalTime* out);

// ---- files and folders by host path ----

struct SysFileInfo {
  bool folder;
  bool regular;  // a plain file (not a folder, device, pipe or socket)
  uint64_t size;
  uint64_t creation, lastAccess, lastWrite;  // FILETIME values; creation is the
                                             // last write where none is kept
  uint64_t volume, index;  // what the file is: the same pair means the same file
};
// Follows symbolic links. False (sysLastError set) when nothing is there or
// it cannot be asked.
bool sysFileInfo(const std::string& path, SysFileInfo* info);
bool sysCanRead(const std::string& path);
// The names in a folder (UTF-8, without "." and ".."), in no set order.
bool sysListFolder(const std::string& path, std::vector<std::string>* names);
// The name an input path is stored under: its last component, or for "."
// and ".." (and paths ending in them) the real folder's name; "" for a root.
std::string sysStoredName(const std::string& path);
bool sysReadWholeFile(const std::string& path, std::string* out);
// Opens a file for reading: a C runtime descriptor (binary), read with
// read(); its last-access time is left as it was where the system allows.
int sysOpenInput(const std::string& path);

// The archive to read, opened for the core's file layer (its handle goes
// into app.archiveFile). `regular` tells whether it is a plain file.
bool sysOpenArchive(const std::string& path, FileHandle* handle, uint64_t* size, bool* regular);

// Makes the folder and every missing folder above it.
bool sysMakeFolders(const std::string& path);
// Makes the folder the one that relative names (the core's "." + "\" names
// among them) are taken from.
bool sysEnterFolder(const std::string& path);
// Where the core is about to replace something at `name` (code page 932,
// relative to the entered folder): a symbolic link there is removed, so
// that the new file never goes through it to wherever it points.
void sysRemoveLinkAt(const char* name);

// Standard output as a handle for the core's file layer (a copy of it,
// closed by the layer); kNoFile when there is none.
FileHandle sysStandardOutputHandle();

// ---- one run apart ----

// Runs `one(archive)` in a process of its own, and returns its exit code
// (or one of the values below). With `capture`, what it writes to standard
// output is returned in *output instead of shown. POSIX forks; Windows
// starts the program anew with the same command line, and in that process
// sysArchiveApart names the archive to run alone.
static const int kApartNotStarted = -1, kApartInterrupted = -2, kApartCrashed = -3;
int sysRunApart(int (*one)(const char* archive), const char* archive, bool capture, std::string* output);
// The archive this process was started for by sysRunApart, or null.
const char* sysArchiveApart();

// ---- pack's output file ----

// Creates a new file beside `path` for the output (a C runtime descriptor,
// binary, written with write()). From now on an interruption removes it,
// prints `interruptNote` on the error stream and ends the process with
// `interruptCode`.
bool sysBeginOutput(const std::string& path, const char* interruptNote, int interruptCode, int* fd);
// Puts the data on the disk, gives the file the permissions of a new file,
// closes it and moves it to `path`, replacing what is there. On failure
// (sysLastError set) the file is removed.
bool sysFinishOutput(int fd, const std::string& path);
// Closes and removes the unfinished output.
void sysDiscardOutput(int fd);
