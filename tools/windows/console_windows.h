// What the two files of the Windows side share: the console is set up and
// pumped in console_windows.cpp; the output file's control handler in
// system_windows.cpp ends the process from another thread and needs to
// leave a last line and the console as it found it.
#pragma once

// Writes `text` (UTF-8) to the standard error stream at once, on its own
// (from any thread, without the C runtime), then gives the console back its
// code page and modes. For a process about to end through ExitProcess.
void winLastWordsAndRestore(const char* text);
