// The POSIX side of the seam (host_files.cpp, compiled here under other
// names) with a counter and an optional failure in front of every call.
#define pfOpenFile hostOpenFile
#define pfReadFile hostReadFile
#define pfWriteFile hostWriteFile
#define pfFileSize hostFileSize
#define pfFilePosition hostFilePosition
#define pfCloseFile hostCloseFile
#define pfDeleteFile hostDeleteFile
#define pfSetFileTimes hostSetFileTimes
#define pfProbe hostProbe
#define pfCreateDirectory hostCreateDirectory
#define pfAlloc hostAlloc
#define pfRealloc hostRealloc
#define pfFree hostFree
#include "platform/host/host_files.cpp"
#undef pfOpenFile
#undef pfReadFile
#undef pfWriteFile
#undef pfFileSize
#undef pfFilePosition
#undef pfCloseFile
#undef pfDeleteFile
#undef pfSetFileTimes
#undef pfProbe
#undef pfCreateDirectory
#undef pfAlloc
#undef pfRealloc
#undef pfFree

#include <stdio.h>

#include <unordered_set>

#include "platform/host/fault_layer.h"

namespace {

struct Plan {
  uint32_t calls;
  uint32_t failAt;  // 0: never
  FaultMode mode;
};

Plan plans[FaultKindCount];
uint32_t struck;

const char* const kNames[FaultKindCount] = {"open",  "read",   "write", "close", "settimes",
                                            "mkdir", "delete", "probe", "query", "alloc"};

// True when this call of `kind` is the one to fail; the failure's errno is
// left for pfLastError.
bool strikes(FaultKind kind, FaultMode* mode = 0) {
  Plan& p = plans[kind];
  ++p.calls;
  if (p.failAt == 0 || p.calls != p.failAt) return false;
  ++struck;
  if (mode) *mode = p.mode;
  lastError = EIO;
  return true;
}

std::unordered_set<void*>& blocks() {
  static std::unordered_set<void*>* live = new std::unordered_set<void*>();
  return *live;
}

}  // namespace

void faultReset() {
  for (Plan& p : plans) p = Plan{0, 0, FaultFails};
  struck = 0;
}

void faultArm(FaultKind kind, uint32_t call, FaultMode mode) {
  plans[kind].failAt = plans[kind].calls + call;
  plans[kind].mode = mode;
}

uint32_t faultCalls(FaultKind kind) { return plans[kind].calls; }
uint32_t faultsStruck() { return struck; }
const char* faultKindName(FaultKind kind) { return kNames[kind]; }

bool faultArmFromText(const char* text) {
  Plan armed[FaultKindCount] = {};
  for (const char* p = text; *p;) {
    int kind = -1;
    for (int k = 0; k < FaultKindCount; ++k) {
      const size_t n = strlen(kNames[k]);
      if (!strncmp(p, kNames[k], n) && p[n] == ':') {
        kind = k;
        p += n + 1;
        break;
      }
    }
    if (kind < 0) return false;
    char* end = 0;
    const unsigned long call = strtoul(p, &end, 10);
    if (end == p || call == 0) return false;
    p = end;
    armed[kind].failAt = (uint32_t)call;
    armed[kind].mode = FaultFails;
    if (!strncmp(p, ":full", 5)) {
      armed[kind].mode = FaultDiskFull;
      p += 5;
    }
    if (*p == ',') ++p;
    else if (*p) return false;
  }
  for (int k = 0; k < FaultKindCount; ++k)
    if (armed[k].failAt) faultArm((FaultKind)k, armed[k].failAt, armed[k].mode);
  return true;
}

FileHandle pfOpenFile(const char* name, bool forWriting) {
  if (strikes(FaultOpen)) return kNoFile;
  return hostOpenFile(name, forWriting);
}

bool pfReadFile(FileHandle h, void* buffer, uint32_t count, uint32_t* got) {
  if (strikes(FaultRead)) return false;
  return hostReadFile(h, buffer, count, got);
}

bool pfWriteFile(FileHandle h, const void* buffer, uint32_t count, uint32_t* put) {
  FaultMode mode = FaultFails;
  if (!strikes(FaultWrite, &mode)) return hostWriteFile(h, buffer, count, put);
  if (mode == FaultDiskFull) {
    // What a disk that fills up does: part of the bytes are written, the
    // rest is refused.
    uint32_t written = 0;
    hostWriteFile(h, buffer, count / 2, &written);
    lastError = ENOSPC;
  }
  return false;
}

bool pfFileSize(FileHandle h, uint32_t* size) {
  if (strikes(FaultQuery)) return false;
  return hostFileSize(h, size);
}

bool pfFilePosition(FileHandle h, uint32_t* position) {
  if (strikes(FaultQuery)) return false;
  return hostFilePosition(h, position);
}

bool pfCloseFile(FileHandle h) {
  // A close that fails still gives the handle back, as both systems do.
  if (strikes(FaultClose)) {
    close((int)h);
    lastError = EIO;
    return false;
  }
  return hostCloseFile(h);
}

bool pfDeleteFile(const char* name) {
  if (strikes(FaultDelete)) return false;
  return hostDeleteFile(name);
}

bool pfSetFileTimes(FileHandle h, uint64_t creation, uint64_t lastAccess, uint64_t lastWrite) {
  if (strikes(FaultSetTimes)) return false;
  return hostSetFileTimes(h, creation, lastAccess, lastWrite);
}

uint32_t pfProbe(const char* name) {
  if (strikes(FaultProbe)) return kProbeNothing;
  return hostProbe(name);
}

bool pfCreateDirectory(const char* name) {
  if (strikes(FaultMakeFolder)) return false;
  return hostCreateDirectory(name);
}

void* pfAlloc(uint32_t size) {
  if (strikes(FaultAlloc)) return 0;
  void* p = hostAlloc(size);
  if (p) blocks().insert(p);
  return p;
}

void* pfRealloc(void* block, uint32_t size) {
  if (strikes(FaultAlloc)) return 0;
  void* p = hostRealloc(block, size);
  if (p) {
    blocks().erase(block);
    blocks().insert(p);
  }
  return p;
}

void pfFree(void* block) {
  if (block) blocks().erase(block);
  hostFree(block);
}

bool faultHostPath(const char* name, std::string* out) { return hostName(name, out); }

uint32_t liveBlocks() { return (uint32_t)blocks().size(); }

void freeLiveBlocks() {
  for (void* p : blocks()) hostFree(p);
  blocks().clear();
}
