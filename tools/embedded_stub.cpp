#include "tools/embedded_stub.h"

// VELLICOR_EMBEDDED_STUB is the stub file's path as a string literal, set by
// the build (a literal, so no part of the path is ever taken for a macro).

asm(".section .rodata\n"
    ".balign 16\n"
    "vellicorStubStart:\n"
    ".incbin \"" VELLICOR_EMBEDDED_STUB "\"\n"
    "vellicorStubEnd:\n"
    ".previous\n");

extern "C" const uint8_t vellicorStubStart[];
extern "C" const uint8_t vellicorStubEnd[];

const uint8_t* embeddedStub(uint32_t* size) {
  *size = (uint32_t)(vellicorStubEnd - vellicorStubStart);
  return vellicorStubStart;
}
