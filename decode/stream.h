// The block stream after the archive header: blocks of 4,096 data bytes and
// a CRC-16 each, masked with the key when the archive has a password. Bytes
// are handed out one at a time, bits least significant first.
#pragma once
#include <stdint.h>

// The next data byte. Never returns on a damaged block (the damaged-file
// exit) or when no data is left (the read-failure exit).
uint8_t readStreamByte();
uint32_t readBit();
uint32_t readBits(int count);
// The next bit comes from a fresh byte.
void resetBits();
