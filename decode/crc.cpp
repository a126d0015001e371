#include "decode/crc.h"
#include "common/app_state.h"

namespace {
// table[x] = x * 2^16 reduced by the generator: what the byte shifted out at
// the top contributes, so one step handles eight bits.
struct CrcTable {
  uint16_t v[256];
  constexpr CrcTable() : v() {
    for (uint32_t x = 0; x < 256; ++x) {
      uint32_t r = x;
      for (int i = 0; i < 16; ++i) {
        r <<= 1;
        if (r & 0x10000) r ^= 0x18005;
      }
      v[x] = (uint16_t)r;
    }
  }
};
constexpr CrcTable kTable;
}  // namespace

uint32_t crcStep(uint32_t reg, uint8_t byte) {
  return (((reg << 8) & 0xFFFF) | byte) ^ kTable.v[(reg >> 8) & 0xFF];
}

void crcFeed(uint8_t byte) { app.crcRegister = crcStep(app.crcRegister, byte); }

uint16_t crc16(const void* bytes, uint32_t count) {
  const uint8_t* p = (const uint8_t*)bytes;
  uint32_t r = 0;
  for (uint32_t i = 0; i < count; ++i) r = crcStep(r, p[i]);
  r = crcStep(r, 0);
  r = crcStep(r, 0);
  return (uint16_t)r;
}
