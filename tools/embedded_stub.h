// The stub built by the same build, embedded in the program: the first file
// of every archive is coded against its first 16,384 bytes, so the archive
// can only be extracted by exactly this stub.
#pragma once
#include <stdint.h>

// The embedded stub's bytes and their count.
const uint8_t* embeddedStub(uint32_t* size);
