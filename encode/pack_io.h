// The creator's reads of its input files and writes of its output, by C
// runtime descriptor, gathered here so that a test program can put its own
// definitions in place of pack_io.cpp (a program that defines all of these
// never links that file) and fail any of them, as the core's platform seam
// allows. Opening the inputs and listing folders go the same way through
// tools/pack_system.h.
#pragma once
#include <stddef.h>
#include <sys/types.h>

ssize_t packRead(int fd, void* buffer, size_t count);
ssize_t packWrite(int fd, const void* buffer, size_t count);
// A write at an offset: a seek and a write (Windows' C runtime has no
// pwrite); the file position is left after the bytes written.
ssize_t packWriteAt(int fd, const void* buffer, size_t count, off_t offset);
