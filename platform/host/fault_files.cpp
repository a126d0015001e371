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

#include <unordered_map>

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

// Live blocks and their sizes.
std::unordered_map<void*, uint32_t>& blocks() {
  static std::unordered_map<void*, uint32_t>* live = new std::unordered_map<void*, uint32_t>();
  return *live;
}

// With keepLargeBlocks, one freed block of a run's size waits for the next
// run instead of going back to the heap.
const uint32_t kLargeBlock = 1u << 20;
bool keepingLarge;
void* keptBlock;
uint32_t keptSize;

// The files in memory.
const FileHandle kMemoryFile = -2, kMemorySink = -3;
const uint8_t* memoryBytes;
uint32_t memorySize, memoryPosition;
uint64_t sinkBytes;

}  // namespace

FileHandle faultMemoryFile(const void* bytes, uint32_t size) {
  memoryBytes = (const uint8_t*)bytes;
  memorySize = size;
  memoryPosition = 0;
  return kMemoryFile;
}

FileHandle faultMemorySink() {
  sinkBytes = 0;
  return kMemorySink;
}

uint64_t faultSinkBytes() { return sinkBytes; }

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
  if (h != kMemoryFile) return hostReadFile(h, buffer, count, got);
  const uint32_t left = memorySize - memoryPosition;
  *got = count < left ? count : left;
  memcpy(buffer, memoryBytes + memoryPosition, *got);
  memoryPosition += *got;
  return true;
}

bool pfWriteFile(FileHandle h, const void* buffer, uint32_t count, uint32_t* put) {
  FaultMode mode = FaultFails;
  if (!strikes(FaultWrite, &mode)) {
    if (h != kMemorySink) return hostWriteFile(h, buffer, count, put);
    sinkBytes += count;
    *put = count;
    return true;
  }
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
  if (h == kMemoryFile) return *size = memorySize, true;
  if (h == kMemorySink) return *size = (uint32_t)sinkBytes, true;
  return hostFileSize(h, size);
}

bool pfFilePosition(FileHandle h, uint32_t* position) {
  if (strikes(FaultQuery)) return false;
  if (h == kMemoryFile) return *position = memoryPosition, true;
  if (h == kMemorySink) return *position = (uint32_t)sinkBytes, true;
  return hostFilePosition(h, position);
}

bool pfCloseFile(FileHandle h) {
  // A close that fails still gives the handle back, as both systems do.
  const bool inMemory = h == kMemoryFile || h == kMemorySink;
  if (strikes(FaultClose)) {
    if (!inMemory) close((int)h);
    lastError = EIO;
    return false;
  }
  return inMemory || hostCloseFile(h);
}

bool pfDeleteFile(const char* name) {
  if (strikes(FaultDelete)) return false;
  return hostDeleteFile(name);
}

bool pfSetFileTimes(FileHandle h, uint64_t creation, uint64_t lastAccess, uint64_t lastWrite) {
  if (strikes(FaultSetTimes)) return false;
  if (h == kMemorySink) return true;
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

static void release(void* block, uint32_t size) {
  if (keepingLarge && size >= kLargeBlock && !keptBlock) {
    keptBlock = block;
    keptSize = size;
    return;
  }
  hostFree(block);
}

void* pfAlloc(uint32_t size) {
  if (strikes(FaultAlloc)) return 0;
  void* p;
  if (keptBlock && keptSize == size) {
    p = keptBlock;
    keptBlock = 0;
  } else {
    p = hostAlloc(size);
  }
  if (p) blocks()[p] = size;
  return p;
}

void* pfRealloc(void* block, uint32_t size) {
  if (strikes(FaultAlloc)) return 0;
  // The entry goes before the block may: on failure the block stays.
  auto found = block ? blocks().find(block) : blocks().end();
  const uint32_t oldSize = found != blocks().end() ? found->second : 0;
  if (found != blocks().end()) blocks().erase(found);
  void* p = hostRealloc(block, size);
  if (p) blocks()[p] = size;
  else if (block) blocks()[block] = oldSize;
  return p;
}

void pfFree(void* block) {
  if (!block) return;
  auto found = blocks().find(block);
  if (found == blocks().end()) return hostFree(block);
  const uint32_t size = found->second;
  blocks().erase(found);
  release(block, size);
}


uint32_t liveBlocks() { return (uint32_t)blocks().size(); }

void freeLiveBlocks() {
  for (auto& [block, size] : blocks()) release(block, size);
  blocks().clear();
}

void keepLargeBlocks(bool keep) {
  keepingLarge = keep;
  if (!keep && keptBlock) {
    hostFree(keptBlock);
    keptBlock = 0;
  }
}
