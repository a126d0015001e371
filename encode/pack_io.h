// The creator's calls to the system for reading its inputs and writing its
// output, gathered here so that a test program can put its own definitions
// in place of pack_io.cpp (a program that defines all of these never links
// that file) and fail any of them, as the core's platform seam allows.
#pragma once
#include <dirent.h>
#include <stddef.h>
#include <sys/types.h>

// open(path, O_RDONLY), without moving the file's access time where allowed.
int packOpenInput(const char* path);
ssize_t packRead(int fd, void* buffer, size_t count);
DIR* packOpenFolder(const char* path);
struct dirent* packReadFolder(DIR* folder);
// write() and pwrite() of the output file.
ssize_t packWrite(int fd, const void* buffer, size_t count);
ssize_t packWriteAt(int fd, const void* buffer, size_t count, off_t offset);
