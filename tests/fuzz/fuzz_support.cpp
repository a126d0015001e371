#include "fuzz_support.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <bitset>

#include "archive/entries.h"
#include "common/app_reset.h"
#include "common/app_state.h"
#include "decode/crc.h"
#include "decode/decoder.h"
#include "platform/host/fault_layer.h"

uint8_t FuzzInput::byte() {
  if (!size) return 0;
  --size;
  return *data++;
}

uint32_t FuzzInput::upTo(uint32_t most) {
  uint64_t v = 0;
  for (uint32_t range = most; range; range >>= 8) v = v << 8 | byte();
  return most == 0xFFFFFFFFu ? (uint32_t)v : (uint32_t)(v % ((uint64_t)most + 1));
}

Bytes FuzzInput::take(size_t count) {
  if (count > size) count = size;
  Bytes out(data, data + count);
  data += count;
  size -= count;
  return out;
}

Bytes FuzzInput::rest() { return take(size); }

const uint8_t* fuzzStubImage() {
  static uint8_t image[kStubSize];
  static bool made = false;
  if (!made) {
    // Looks enough like a program to give the first file some context:
    // a header, zeros, and a stretch of varied bytes.
    uint32_t x = 0x2545F491;
    for (uint32_t i = 0; i < kStubSize; ++i) {
      x ^= x << 13, x ^= x >> 17, x ^= x << 5;
      image[i] = i < 1024 ? 0 : (i % 7 == 0 ? (uint8_t)x : (uint8_t)(i >> 4));
    }
    image[0] = 'M';
    image[1] = 'Z';
    made = true;
  }
  return image;
}

Bytes wrapBlocks(const Bytes& data, const Bytes& key) {
  Bytes out;
  out.reserve(data.size() + data.size() / 2048 + 2);
  size_t keyPos = 0;
  for (size_t at = 0; at < data.size(); at += kBlockData) {
    const size_t n = data.size() - at < kBlockData ? data.size() - at : kBlockData;
    const uint16_t crc = crc16(data.data() + at, (uint32_t)n);
    for (size_t i = 0; i < n; ++i) {
      uint8_t b = data[at + i];
      if (!key.empty()) {
        b ^= key[keyPos];
        keyPos = (keyPos + 1) % key.size();
      }
      out.push_back(b);
    }
    out.push_back((uint8_t)(crc >> 8));
    out.push_back((uint8_t)crc);
  }
  return out;
}

Bytes unwrapBlocks(const Bytes& stored, const Bytes& key) {
  Bytes data;
  size_t keyPos = 0;
  for (size_t at = 0; at < stored.size(); at += kBlockBytes) {
    const size_t n = stored.size() - at < kBlockBytes ? stored.size() - at : kBlockBytes;
    for (size_t i = 0; i + 2 < n; ++i) {
      uint8_t b = stored[at + i];
      if (!key.empty()) {
        b ^= key[keyPos];
        keyPos = (keyPos + 1) % key.size();
      }
      data.push_back(b);
    }
  }
  return data;
}

Bytes headerBytes(const std::string& comment, const std::string& launch, uint8_t flags, const Bytes& key) {
  Bytes h(comment.begin(), comment.end());
  h.push_back(0);
  h.insert(h.end(), launch.begin(), launch.end());
  h.push_back(0);
  h.push_back(flags);
  if (flags) {
    const uint16_t check = (uint16_t)(crc16(key.data(), (uint32_t)key.size()) ^ (flags * 0x0101));
    h.push_back((uint8_t)check);
    h.push_back((uint8_t)(check >> 8));
  }
  return h;
}

static Bytes withStub(const Bytes& payload) {
  Bytes file(fuzzStubImage(), fuzzStubImage() + kStubSize);
  const uint32_t total = (uint32_t)(kStubSize + 4 + payload.size());
  for (int i = 0; i < 4; ++i) file.push_back((uint8_t)(total >> (8 * i)));
  file.insert(file.end(), payload.begin(), payload.end());
  return file;
}

ArchiveCase archiveCase(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  ArchiveCase c;
  c.mode = in.byte();
  c.key = in.take(in.byte() % 16);
  // The password travels through the environment as typed text: printable
  // ASCII is the same in every encoding.
  for (uint8_t& k : c.key) k = (uint8_t)(0x21 + k % 94);
  const Bytes rest = in.rest();
  if (c.mode & 1) {
    c.file = withStub(rest);
    return c;
  }
  // Wrapped form: the header up to the flags byte, then data bytes.
  size_t at = 0;
  int zeros = 0;
  while (at < rest.size() && zeros < 2)
    if (rest[at++] == 0) ++zeros;
  if (zeros < 2 || at >= rest.size()) {
    c.file = withStub(rest);  // no complete header: as is
    return c;
  }
  const uint8_t flags = rest[at++];
  Bytes payload(rest.begin(), rest.begin() + at);
  if (flags) {
    const uint16_t check = (uint16_t)(crc16(c.key.data(), (uint32_t)c.key.size()) ^ (flags * 0x0101));
    payload.push_back((uint8_t)check);
    payload.push_back((uint8_t)(check >> 8));
  }
  const Bytes stream = wrapBlocks(Bytes(rest.begin() + at, rest.end()), flags ? c.key : Bytes());
  payload.insert(payload.end(), stream.begin(), stream.end());
  c.file = withStub(payload);
  return c;
}

Bytes archiveCaseInput(uint8_t mode, const Bytes& key, const Bytes& file) {
  Bytes in = {(uint8_t)(mode & ~1u), (uint8_t)key.size()};
  in.insert(in.end(), key.begin(), key.end());
  size_t at = kStubSize + 4;
  int zeros = 0;
  while (at < file.size() && zeros < 2)
    if (file[at++] == 0) ++zeros;
  const uint8_t flags = file[at++];
  in.insert(in.end(), file.begin() + kStubSize + 4, file.begin() + at);
  if (flags) at += 2;
  const Bytes data = unwrapBlocks(Bytes(file.begin() + at, file.end()), flags ? key : Bytes());
  in.insert(in.end(), data.begin(), data.end());
  return in;
}

std::string memoryFile(const Bytes& bytes, int* fd) {
  *fd = memfd_create("vellicor-fuzz", MFD_CLOEXEC);
  if (*fd < 0) fuzzFail("memfd_create");
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(*fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) fuzzFail("writing the memory file");
    done += (size_t)n;
  }
  lseek(*fd, 0, SEEK_SET);
  return "/proc/self/fd/" + std::to_string(*fd);
}

const std::string& scratchFolder() {
  static std::string path;
  if (path.empty()) {
    // A memory file system where there is one: making and removing files
    // for every input costs a disk file system far more.
    const char* tmp = getenv("TMPDIR");
    std::string base = tmp && *tmp ? tmp : access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/vellicor-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) fuzzFail("mkdtemp");
    path = pattern;
    // The process's scratch folder goes when the process ends normally.
    atexit([] {
      emptyFolder(path);
      rmdir(path.c_str());
    });
  }
  return path;
}

static int removeOne(const char* path, const struct stat*, int, struct FTW* ftw) {
  if (ftw->level > 0) remove(path);
  return 0;
}

void emptyFolder(const std::string& path) { nftw(path.c_str(), removeOne, 16, FTW_DEPTH | FTW_PHYS); }

// Descriptors are handed out lowest first: the ones a run opens lie in a
// small window from the lowest one free when it starts.
static const int kWatchedDescriptors = 16;
static int firstWatched;
static std::bitset<kWatchedDescriptors> descriptorsBefore;

static std::bitset<kWatchedDescriptors> openDescriptors() {
  std::bitset<kWatchedDescriptors> open;
  for (int i = 0; i < kWatchedDescriptors; ++i) open[i] = fcntl(firstWatched + i, F_GETFD) != -1;
  return open;
}

static std::string folderBefore;

void beginRunInProcess() {
  if (folderBefore.empty()) {
    char buffer[4096];
    if (!getcwd(buffer, sizeof buffer)) fuzzFail("getcwd");
    folderBefore = buffer;
  }
  firstWatched = dup(0);
  close(firstWatched);
  descriptorsBefore = openDescriptors();
  keepLargeBlocks(true);
  faultReset();
}

void endRunInProcess() {
  const std::bitset<kWatchedDescriptors> now = openDescriptors();
  for (int i = 0; i < kWatchedDescriptors; ++i)
    if (now[i] && !descriptorsBefore[i]) close(firstWatched + i);
  if (chdir(folderBefore.c_str()) != 0) fuzzFail("chdir back");
  // Strings that outlive a run hold blocks too; released first, the rest
  // (what a fatal exit left behind) goes with freeLiveBlocks.
  bsRelease(const_cast<ByteString*>(previousEntryName()));
  resetAppForNextRun();
  freeLiveBlocks();
  decoder = 0;
  faultReset();
}

void fuzzFail(const char* what) {
  fprintf(stderr, "vellicor fuzz: invariant broken: %s\n", what);
  abort();
}
