// The core's user-interface side for the maker. The maker only writes
// archives: the core's reading paths (the decoder's message pump, the fatal
// exits and their messages) are linked with the shared code but never run.
// Should one run all the same, it says so and ends the process.
#include <windows.h>

#include "platform/platform.h"

int pfMessageBox(MessageId, const char* text, const char*, uint32_t flags, bool) {
  return MessageBoxA(0, text ? text : "", "vellicor-maker", MB_OK | (flags & 0xF0));
}

void pfPumpOneMessage() {}

void pfExitProcess(uint32_t code) { ExitProcess(code); }
