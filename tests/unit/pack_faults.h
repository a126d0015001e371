// The creator's system calls (encode/pack_io.h, tools/pack_system.h) for the
// tests, in place of encode/pack_io.cpp and tools/pack_system.cpp: they pass
// through to the system unless the plan below makes one of them fail or
// changes a file while it is read.
#pragma once
#include <stdint.h>

#include <string>

struct PackFaultPlan {
  // Output: the failWriteAt-th write (at the end or at an offset, from 1) fails with
  // EIO; with `fullDisk` it writes half its bytes, and every later write
  // fails with ENOSPC.
  uint32_t failWriteAt = 0;
  bool fullDisk = false;
  // With `shortOnly` that write is no failure: it writes only the first half
  // of its bytes and reports so, as write() may, and the later ones work.
  bool shortOnly = false;
  // Inputs, by host path: opening fails (EACCES), reading fails after the
  // first read (EIO), the folder cannot be opened (EACCES) or listed (EIO).
  std::string openFails, readFails, folderOpenFails, folderListFails;
  // Inputs, by host path: at the first read the file grows by one byte or
  // loses its last byte, as a file written meanwhile by someone else would.
  std::string grows, shrinks;
};

extern PackFaultPlan packFaults;
extern uint32_t packWrites;  // writes of the output so far

// Clears the plan and the count.
void resetPackFaults();
