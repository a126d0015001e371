#include "encode/pack_io.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

int packOpenInput(const char* path) {
  int fd = open(path, O_RDONLY | O_NOATIME | O_CLOEXEC);
  if (fd < 0 && errno == EPERM) fd = open(path, O_RDONLY | O_CLOEXEC);  // not ours: atime may move
  return fd;
}

ssize_t packRead(int fd, void* buffer, size_t count) { return read(fd, buffer, count); }
DIR* packOpenFolder(const char* path) { return opendir(path); }
struct dirent* packReadFolder(DIR* folder) { return readdir(folder); }
ssize_t packWrite(int fd, const void* buffer, size_t count) { return write(fd, buffer, count); }
ssize_t packWriteAt(int fd, const void* buffer, size_t count, off_t offset) {
  return pwrite(fd, buffer, count, offset);
}
