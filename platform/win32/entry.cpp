// The process entry of the stub. No C runtime runs before it: there are no
// global constructors, and the state record starts zeroed as the loader maps
// it. The stub takes nothing from its command line or environment.
#include <windows.h>

#include "app/shell.h"

// Self-extracting files are typically run from a download folder, where
// anyone may have left a DLL named like one that the shell loads on demand.
// Libraries are therefore taken from the system folder only. The call is
// looked up at run time: systems without it keep their default search order.
static void restrictDllSearch() {
  typedef BOOL(WINAPI * SetDefaultDllDirectoriesProc)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (!kernel) return;
  SetDefaultDllDirectoriesProc setDirectories =
      (SetDefaultDllDirectoriesProc)(void*)GetProcAddress(kernel, "SetDefaultDllDirectories");
  if (setDirectories) setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// An undecorated C name, so that the linker's entry option names it exactly.
// The loader calls it with the stack aligned to 4 bytes only.
extern "C" __attribute__((force_align_arg_pointer, noreturn, used)) void stubEntry() {
  restrictDllSearch();
  startUp();
}
