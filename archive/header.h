// The archive header that follows the stub: expected size, comment, launch
// file and password settings, read directly from the archive file.
#pragma once
#include <stdint.h>
#include "fileio/byte_string.h"

// Reads the stub image (the context of the first stored file) and the
// recorded size of the whole file into expectedSize, and starts the block
// stream afresh. A signed file (its certificate table right behind the
// archive) gets the archive's end as its logical end, and the image the
// unsigned stub's header values back. Returns the file layer's error code,
// 0 when all was read.
uint32_t readStubImageAndSize();
// Reads bytes up to a 0 byte. A string that runs to the end of the file
// ends the process as a damaged file.
void readHeaderString(ByteString* out);
// Reads the flag byte and, when it is not 0, the check value. Sets
// passwordProtected, passwordCheck and keyPos; returns the flag byte.
uint8_t readPasswordFields();
// The check value an archive stores for a password and its flag byte.
uint16_t storedPasswordCheck(const char* password, uint32_t length, uint8_t flags);
// True when the typed password matches passwordCheck. An empty password is
// never accepted: the mask needs at least one key byte.
bool passwordAccepted(const char* typed, uint32_t length);
