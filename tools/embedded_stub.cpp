#include "tools/embedded_stub.h"

// VELLICOR_EMBEDDED_STUB is the stub file's path as a string literal, set by
// the build (a literal, so no part of the path is ever taken for a macro).

// Read-only data: ".rodata" in ELF, ".rdata" in a Windows image (whose
// assembler knows no ".previous": the code section is named again).
#ifdef _WIN32
#define STUB_SECTION ".section .rdata,\"dr\"\n"
#define STUB_SECTION_END ".text\n"
#else
#define STUB_SECTION ".section .rodata\n"
#define STUB_SECTION_END ".previous\n"
#endif

asm(STUB_SECTION
    ".balign 16\n"
    "vellicorStubStart:\n"
    ".incbin \"" VELLICOR_EMBEDDED_STUB "\"\n"
    "vellicorStubEnd:\n"
    STUB_SECTION_END);

extern "C" const uint8_t vellicorStubStart[];
extern "C" const uint8_t vellicorStubEnd[];

const uint8_t* embeddedStub(uint32_t* size) {
  *size = (uint32_t)(vellicorStubEnd - vellicorStubStart);
  return vellicorStubStart;
}
