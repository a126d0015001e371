// A host side of the file seam that can make any call fail. It is the POSIX
// side of host_files.cpp with every call counted by kind; the k-th call of a
// kind fails when a test asks for it. A program that links fault_files.cpp
// gets it in place of host_files.cpp (it defines every procedure of that
// file), and the core runs unchanged above it. Tests and fuzzing only.
#pragma once
#include <stdint.h>

#include <string>

#include "platform/platform.h"

enum FaultKind : uint8_t {
  FaultOpen,        // pfOpenFile
  FaultRead,        // pfReadFile
  FaultWrite,       // pfWriteFile
  FaultClose,       // pfCloseFile (the handle is closed all the same)
  FaultSetTimes,    // pfSetFileTimes
  FaultMakeFolder,  // pfCreateDirectory
  FaultDelete,      // pfDeleteFile
  FaultProbe,       // pfProbe (a search that fails finds nothing)
  FaultQuery,       // pfFileSize, pfFilePosition
  FaultAlloc,       // pfAlloc, pfRealloc (no memory)
  FaultKindCount
};

enum FaultMode : uint8_t {
  FaultFails,     // the call does nothing and fails with EIO
  FaultDiskFull,  // writes only: the first half of the bytes reach the file, then ENOSPC
};

// Counts back to 0 and nothing armed.
void faultReset();
// The `call`-th call of `kind` from now on (counted from 1) fails. One plan
// per kind; arming a kind again replaces its plan.
void faultArm(FaultKind kind, uint32_t call, FaultMode mode = FaultFails);
uint32_t faultCalls(FaultKind kind);
// How many armed failures have struck since the last reset.
uint32_t faultsStruck();
const char* faultKindName(FaultKind kind);
// Arms from text: "write:3", "write:3:full", "close:2,delete:1". False when
// the text is malformed (nothing is armed then).
bool faultArmFromText(const char* plan);

// Files in memory, without a system call per read (for fuzzing): a file to
// read that holds `bytes` (not copied: they must outlive its use), and a
// file to write that only counts what it is given. One of each at a time;
// their calls are counted and can fail like any other.
FileHandle faultMemoryFile(const void* bytes, uint32_t size);
FileHandle faultMemorySink();
uint64_t faultSinkBytes();

// Blocks of pfAlloc/pfRealloc not freed yet. A fatal exit that unwinds a run
// in a test leaves the run's blocks behind; freeLiveBlocks releases them.
uint32_t liveBlocks();
void freeLiveBlocks();
// Keeps one freed block of 1 MB or more for the next allocation of the same
// size (a run's working state), so that a fuzzer does not spend its time
// allocating megabytes for every input.
void keepLargeBlocks(bool keep);
