#include "encode/pack_io.h"

#include <unistd.h>

ssize_t packRead(int fd, void* buffer, size_t count) { return read(fd, buffer, count); }
ssize_t packWrite(int fd, const void* buffer, size_t count) { return write(fd, buffer, count); }
ssize_t packWriteAt(int fd, const void* buffer, size_t count, off_t offset) {
  if (lseek(fd, offset, SEEK_SET) != offset) return -1;
  return write(fd, buffer, count);
}
