// The Windows side of the program's seam, part one: the wide command line,
// the console, Ctrl-C, and the lines a user types.
//
// The console gets UTF-16. The program writes UTF-8 through the C runtime,
// and a runtime's own console output converts bytes one by one in some
// code page (Japanese names come out as question marks). So when standard
// output or standard error is a console, that stream is turned into a pipe,
// and a thread of the program reads the pipe and writes its text to the
// console with WriteConsoleW, in the order it was written. Files and pipes
// get the bytes unchanged, "\n" as one byte, as on POSIX.
#include <fcntl.h>
#include <io.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/host_windows/wide_names.h"
#include "tools/system.h"
#include "tools/windows/console_windows.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

// ---- the arguments ----

static std::vector<std::string> arguments;
static std::vector<char*> argumentPointers;

// The arguments as UTF-8, from the wide command line: names in any script
// arrive whole, whatever the ANSI code page is.
static void takeWideArguments(int* argc, char*** argv) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return;
  for (int i = 0; i < count; ++i) {
    std::string utf8;
    if (!winToUtf8(wide[i], wcslen(wide[i]), &utf8) && i < *argc) utf8 = (*argv)[i];
    arguments.push_back(utf8);
  }
  LocalFree(wide);
  for (std::string& a : arguments) argumentPointers.push_back(a.data());
  argumentPointers.push_back(0);
  *argc = count;
  *argv = argumentPointers.data();
}

// ---- the console ----

struct ConsoleStream {
  bool isConsole;
  bool escapes;  // the console takes the progress line's escape sequences
};
static ConsoleStream streams[2];  // standard output, standard error
// The console's screen, opened by the program itself: the handles the
// streams came with are closed when the streams become the pipe.
static HANDLE consoleOut = INVALID_HANDLE_VALUE;
static DWORD savedMode;
static UINT savedOutputCodePage;
static HANDLE pumpRead, pumpWrite, pumpThread;
static HANDLE pumpCaughtUp;  // set when the pump has shown everything up to a mark

// The mark a sync writes into the pipe: a NUL byte, which the program's
// text never holds (control characters are shown escaped).
static const char kSyncMark = '\0';

// Shows UTF-8 text on the console; a character split between two reads
// waits for its end.
static void showOnConsole(std::string* pending, bool all) {
  size_t complete = pending->size();
  if (!all) {
    // Back up over an unfinished sequence at the end.
    size_t i = complete;
    int continuation = 0;
    while (i > 0 && continuation < 3 && ((unsigned char)(*pending)[i - 1] & 0xC0) == 0x80) --i, ++continuation;
    if (i > 0) {
      const unsigned char lead = (unsigned char)(*pending)[i - 1];
      const int need = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
      if (need > continuation) complete = i - 1;
    }
  }
  if (!complete) return;
  // Invalid bytes become U+FFFD rather than stopping the text.
  const int n = MultiByteToWideChar(CP_UTF8, 0, pending->data(), (int)complete, 0, 0);
  std::wstring wide((size_t)(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, pending->data(), (int)complete, wide.data(), n);
  for (size_t done = 0; done < wide.size();) {
    DWORD written = 0;
    const DWORD chunk = (DWORD)std::min<size_t>(wide.size() - done, 8192);
    if (!WriteConsoleW(consoleOut, wide.data() + done, chunk, &written, 0) || !written) break;
    done += written;
  }
  pending->erase(0, complete);
}

static DWORD WINAPI pumpToConsole(void*) {
  std::string pending;
  for (;;) {
    char buffer[4096];
    DWORD n = 0;
    if (!ReadFile(pumpRead, buffer, sizeof buffer, &n, 0) || n == 0) break;
    for (DWORD i = 0; i < n; ++i) {
      if (buffer[i] != kSyncMark) {
        pending += buffer[i];
        continue;
      }
      showOnConsole(&pending, true);
      SetEvent(pumpCaughtUp);
    }
    showOnConsole(&pending, false);
  }
  showOnConsole(&pending, true);
  return 0;
}

// Waits until everything written to the console streams so far is shown
// (before a prompt is read, the text above it must be there).
static void syncConsole() {
  fflush(stdout);
  fflush(stderr);
  if (!pumpThread) return;
  ResetEvent(pumpCaughtUp);
  DWORD written;
  if (WriteFile(pumpWrite, &kSyncMark, 1, &written, 0)) WaitForSingleObject(pumpCaughtUp, 5000);
}

// Gives the console back as it was: its code page and modes stay with the
// window after the program ends.
static void restoreConsole() {
  if (!savedOutputCodePage) return;
  SetConsoleMode(consoleOut, savedMode);
  SetConsoleOutputCP(savedOutputCodePage);
  savedOutputCodePage = 0;
}

// At the exit: the rest of the text is shown before the process ends.
static void finishConsole() {
  fflush(stdout);
  fflush(stderr);
  if (pumpThread) {
    // The pump ends when every writer of the pipe is closed.
    for (int fd = 1; fd <= 2; ++fd)
      if (streams[fd - 1].isConsole) _close(fd);
    CloseHandle(pumpWrite);
    WaitForSingleObject(pumpThread, 5000);
    pumpThread = 0;
  }
  restoreConsole();
}

void winLastWordsAndRestore(const char* text) {
  if (streams[1].isConsole) {
    std::wstring wide;
    winFromUtf8(text, strlen(text), &wide);
    DWORD written;
    WriteConsoleW(consoleOut, wide.data(), (DWORD)wide.size(), &written, 0);
  } else {
    DWORD written;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, (DWORD)strlen(text), &written, 0);
  }
  restoreConsole();
}

// The last of the control handlers to run: when no other one takes the
// event, the process is about to be ended by the system's own handler,
// without the exit's clean-up; the console gets its settings back first.
static BOOL WINAPI restoreBeforeTheEnd(DWORD) {
  restoreConsole();
  return FALSE;
}

static void setUpConsole() {
  const DWORD ids[2] = {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  for (int i = 0; i < 2; ++i) {
    DWORD mode;
    HANDLE h = GetStdHandle(ids[i]);
    streams[i].isConsole = h && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode);
  }
  if (!streams[0].isConsole && !streams[1].isConsole) return;
  consoleOut = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, 0,
                           OPEN_EXISTING, 0, 0);
  if (consoleOut == INVALID_HANDLE_VALUE || !GetConsoleMode(consoleOut, &savedMode)) {
    streams[0].isConsole = streams[1].isConsole = false;  // no screen to write to: left to the runtime
    return;
  }
  const bool escapes =
      SetConsoleMode(consoleOut, savedMode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  for (ConsoleStream& s : streams) s.escapes = s.isConsole && escapes;
  // The console's code page matters only to other writers; UTF-8 makes
  // their bytes come out as ours do.
  savedOutputCodePage = GetConsoleOutputCP();
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCtrlHandler(restoreBeforeTheEnd, TRUE);
  if (!CreatePipe(&pumpRead, &pumpWrite, 0, 0)) return;
  pumpCaughtUp = CreateEventW(0, TRUE, FALSE, 0);
  for (int fd = 1; fd <= 2; ++fd) {
    if (!streams[fd - 1].isConsole) continue;
    HANDLE copy;
    if (!DuplicateHandle(GetCurrentProcess(), pumpWrite, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
      continue;
    const int temporary = _open_osfhandle((intptr_t)copy, _O_WRONLY | _O_BINARY);
    if (temporary < 0) {
      CloseHandle(copy);
      continue;
    }
    _dup2(temporary, fd);
    _close(temporary);
  }
  // Unbuffered, as a terminal's output is written at each line end on
  // POSIX: the listing and the progress line keep their order.
  if (streams[0].isConsole) setvbuf(stdout, 0, _IONBF, 0);
  pumpThread = CreateThread(0, 0, pumpToConsole, 0, 0, 0);
}

void sysStartProcess(int* argc, char*** argv) {
  takeWideArguments(argc, argv);
  _setmode(0, _O_BINARY);
  _setmode(1, _O_BINARY);
  _setmode(2, _O_BINARY);
  setUpConsole();
  atexit(finishConsole);
}

bool sysIsTerminal(int stream) {
  if (stream == 0) {
    DWORD mode;
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    return in && in != INVALID_HANDLE_VALUE && GetConsoleMode(in, &mode);
  }
  // The error stream counts as a terminal where the progress line works.
  if (stream == 1) return streams[0].isConsole;
  return streams[1].isConsole && streams[1].escapes;
}

size_t sysTerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (streams[1].isConsole && GetConsoleScreenBufferInfo(consoleOut, &info)) {
    const int width = info.srWindow.Right - info.srWindow.Left + 1;
    if (width > 20) return (size_t)width;
  }
  return 80;
}

int sysProcessorCount() {
  DWORD_PTR process = 0, system = 0;
  int count = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system))
    for (; process; process &= process - 1) ++count;
  return count > 0 ? count : 1;
}

double sysSeconds() {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return (double)now.QuadPart / (double)frequency.QuadPart;
}

// ---- interruptions ----

static void (*interruptCallback)(int);
static volatile LONG interrupted;
static volatile LONG waitingForInput;  // the main thread is in a read of the input
static HANDLE mainThread;

// Runs on a thread of its own when the user presses Ctrl-C or Ctrl-Break or
// closes the console.
static BOOL WINAPI onConsoleEvent(DWORD type) {
  const bool closing = type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT;
  InterlockedExchange(&interrupted, 1);
  if (interruptCallback) interruptCallback(closing ? SIGTERM : SIGINT);
  if (waitingForInput && mainThread) CancelSynchronousIo(mainThread);
  // When the console closes, the process ends as soon as this returns: the
  // main thread is given the time to remove its partial file and exit.
  if (closing) Sleep(INFINITE);
  return TRUE;
}

void sysCatchInterrupts(void (*onInterrupt)(int signal)) {
  interruptCallback = onInterrupt;
  if (!mainThread)
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &mainThread, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
  SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

// ---- lines typed ----

// Waits a moment for the control handler when a console read ended without
// a line: Ctrl-C ends the read before the handler has run.
static void settleInterrupt() {
  for (int i = 0; i < 50 && !interrupted; ++i) Sleep(10);
}

// Reads a line from a console: line editing by the console, the text as
// UTF-16 (a console's byte reads lose non-ASCII text in many code pages).
static bool readConsoleLine(HANDLE in, HANDLE echoTo, const std::string& prompt, bool hidden, std::string* line) {
  DWORD saved = 0;
  GetConsoleMode(in, &saved);
  DWORD mode = saved | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT;
  mode = hidden ? mode & ~(DWORD)ENABLE_ECHO_INPUT : mode | ENABLE_ECHO_INPUT;
  SetConsoleMode(in, mode);
  DWORD written;
  if (!prompt.empty()) {
    std::wstring wide;
    winFromUtf8(prompt.data(), prompt.size(), &wide);
    WriteConsoleW(echoTo, wide.data(), (DWORD)wide.size(), &written, 0);
  }
  std::wstring text;
  bool ended = false;
  InterlockedExchange(&waitingForInput, 1);
  while (!interrupted) {
    wchar_t buffer[256];
    DWORD n = 0;
    if (!ReadConsoleW(in, buffer, 256, &n, 0) || n == 0) {
      settleInterrupt();
      break;
    }
    text.append(buffer, n);
    if (text.find(L'\n') != std::wstring::npos) {
      ended = true;
      break;
    }
  }
  InterlockedExchange(&waitingForInput, 0);
  SetConsoleMode(in, saved);
  if (hidden) WriteConsoleW(echoTo, L"\r\n", 2, &written, 0);  // the line end that was not echoed
  if (interrupted) return false;
  text = text.substr(0, text.find_first_of(L"\r\n"));
  if (!ended && text.empty()) return false;
  if (!text.empty() && text[0] == 0x1A) return false;  // Ctrl-Z: the end of the input
  if (!winToUtf8(text.data(), text.size(), line)) line->clear();
  return true;
}

bool sysReadLine(const std::string& prompt, bool hidden, std::string* line) {
  line->clear();
  syncConsole();
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode;
  if (GetConsoleMode(in, &mode)) {
    // The prompt goes where the error stream goes: on a console, written
    // like the echo, after the echo is off.
    if (streams[1].isConsole) return readConsoleLine(in, consoleOut, prompt, hidden, line);
    fputs(prompt.c_str(), stderr);
    fflush(stderr);
    return readConsoleLine(in, consoleOut, "", hidden, line);
  }
  fputs(prompt.c_str(), stderr);
  syncConsole();
  // A file or a pipe: bytes up to a line end, which may be CR LF.
  InterlockedExchange(&waitingForInput, 1);
  bool ended = false;
  while (!interrupted) {
    char c;
    DWORD n = 0;
    if (!ReadFile(in, &c, 1, &n, 0) || n == 0) break;
    if (c == '\n') {
      ended = true;
      break;
    }
    *line += c;
  }
  InterlockedExchange(&waitingForInput, 0);
  if (interrupted) return false;
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return ended || !line->empty();
}

bool sysAskOnTerminal(const std::string& prompt, std::string* line, bool* noTerminal) {
  *noTerminal = false;
  syncConsole();
  HANDLE in = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, 0,
                          OPEN_EXISTING, 0, 0);
  HANDLE out = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, 0,
                           OPEN_EXISTING, 0, 0);
  DWORD mode;
  bool got = false;
  if (in == INVALID_HANDLE_VALUE || out == INVALID_HANDLE_VALUE || !GetConsoleMode(in, &mode)) *noTerminal = true;
  else got = readConsoleLine(in, out, prompt, true, line);
  if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  return got;
}
