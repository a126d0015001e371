#include "pack_faults.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <dirent.h>
#include <unistd.h>

#include <map>

#include "encode/pack_io.h"
#include "tools/pack_system.h"

PackFaultPlan packFaults;
uint32_t packWrites;

// Which host path each open input descriptor belongs to, and whether it was
// read before.
static std::map<int, std::string> inputs;
static std::map<int, bool> readBefore;

static bool diskFull;

void resetPackFaults() {
  packFaults = PackFaultPlan{};
  packWrites = 0;
  diskFull = false;
  inputs.clear();
  readBefore.clear();
}

int packOpenInput(const std::string& path, uint32_t* error) {
  if (packFaults.openFails == path) {
    *error = EACCES;
    return -1;
  }
  // As pack's own open: reading must not move the access time it stores.
  int fd = open(path.c_str(), O_RDONLY | O_NOATIME | O_CLOEXEC);
  if (fd < 0 && errno == EPERM) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = (uint32_t)errno;
    return -1;
  }
  inputs[fd] = path;
  readBefore[fd] = false;
  return fd;
}

ssize_t packRead(int fd, void* buffer, size_t count) {
  const std::string path = inputs.count(fd) ? inputs[fd] : "";
  const bool first = !readBefore[fd];
  readBefore[fd] = true;
  if (!path.empty() && path == packFaults.readFails && !first) {
    errno = EIO;
    return -1;
  }
  if (first && !path.empty() && path == packFaults.grows) {
    const int w = open(path.c_str(), O_WRONLY | O_APPEND);
    if (w >= 0 && write(w, "+", 1) == 1) close(w);
  }
  if (first && !path.empty() && path == packFaults.shrinks) {
    const off_t size = lseek(fd, 0, SEEK_END);
    lseek(fd, 0, SEEK_SET);
    if (size > 0 && truncate(path.c_str(), size - 1) != 0) abort();
  }
  return read(fd, buffer, count);
}

bool packListFolder(const std::string& path, std::vector<std::string>* names, uint32_t* error) {
  names->clear();
  if (packFaults.folderOpenFails == path) {
    *error = EACCES;
    return false;
  }
  DIR* d = opendir(path.c_str());
  if (!d) {
    *error = (uint32_t)errno;
    return false;
  }
  // A listing that fails after its first name, as a failing disk would.
  const bool failing = packFaults.folderListFails == path;
  while (struct dirent* e = readdir(d)) {
    if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
    if (failing) {
      closedir(d);
      *error = EIO;
      return false;
    }
    names->push_back(e->d_name);
  }
  closedir(d);
  return true;
}

// The planned write: with a full disk it writes part of its bytes and every
// write after it fails with ENOSPC, as write() does when a disk fills up;
// else it fails with EIO.
static bool writeFails(int fd, const void* buffer, size_t count, const off_t* at, ssize_t* result) {
  ++packWrites;
  if (diskFull) {
    errno = ENOSPC;
    *result = -1;
    return true;
  }
  if (packWrites != packFaults.failWriteAt) return false;
  if (packFaults.shortOnly) {
    const size_t part = count > 1 ? count / 2 : count;
    if (at && lseek(fd, *at, SEEK_SET) != *at) *result = -1;
    else *result = write(fd, buffer, part);
    return true;
  }
  if (!packFaults.fullDisk) {
    errno = EIO;
    *result = -1;
    return true;
  }
  diskFull = true;
  const size_t part = count / 2;
  if (at && lseek(fd, *at, SEEK_SET) != *at) *result = -1;
  else *result = write(fd, buffer, part);
  if (part == 0) {
    errno = ENOSPC;
    *result = -1;
  }
  return true;
}

ssize_t packWrite(int fd, const void* buffer, size_t count) {
  ssize_t r;
  if (writeFails(fd, buffer, count, 0, &r)) return r;
  return write(fd, buffer, count);
}

ssize_t packWriteAt(int fd, const void* buffer, size_t count, off_t offset) {
  ssize_t r;
  if (writeFails(fd, buffer, count, &offset, &r)) return r;
  if (lseek(fd, offset, SEEK_SET) != offset) return -1;
  return write(fd, buffer, count);
}
