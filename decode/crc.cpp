#include "decode/crc.h"
#include "common/app_state.h"

namespace {
// table[0][x] = x * 2^16 reduced by the generator: what the byte shifted out
// at the top contributes, so one step handles eight bits. On the host,
// table[k][x] = x * 2^(16 + 8k) reduced, so that eight bytes are checked
// in one step (their contributions are independent and are added).
#if VELLICOR_HOST_DECODER
static const int kCrcTables = 8;
#else
static const int kCrcTables = 1;
#endif
struct CrcTable {
  uint16_t v[kCrcTables][256];
  constexpr CrcTable() : v() {
    for (uint32_t x = 0; x < 256; ++x) {
      uint32_t r = x;
      for (int i = 0; i < 16; ++i) {
        r <<= 1;
        if (r & 0x10000) r ^= 0x18005;
      }
      v[0][x] = (uint16_t)r;
    }
    for (int k = 1; k < kCrcTables; ++k)
      for (uint32_t x = 0; x < 256; ++x) v[k][x] = (uint16_t)((v[k - 1][x] << 8) ^ v[0][v[k - 1][x] >> 8]);
  }
};
constexpr CrcTable kTable;
}  // namespace

uint32_t crcStep(uint32_t reg, uint8_t byte) {
  return (((reg << 8) & 0xFFFF) | byte) ^ kTable.v[0][(reg >> 8) & 0xFF];
}

void crcFeed(uint8_t byte) { app.crcRegister = crcStep(app.crcRegister, byte); }

uint16_t crc16(const void* bytes, uint32_t count) {
  const uint8_t* p = (const uint8_t*)bytes;
  uint32_t c = 0;
#if VELLICOR_HOST_DECODER
  for (; count >= 8; count -= 8, p += 8) {
    const auto& t = kTable.v;
    c = t[7][p[0] ^ (c >> 8)] ^ t[6][p[1] ^ (c & 0xFF)] ^ t[5][p[2]] ^ t[4][p[3]] ^ t[3][p[4]] ^ t[2][p[5]] ^
        t[1][p[6]] ^ t[0][p[7]];
  }
#endif
  for (; count; --count) c = ((c << 8) & 0xFFFF) ^ kTable.v[0][(c >> 8) ^ *p++];
  return (uint16_t)c;
}

uint32_t crcOfBlock(const uint8_t* bytes, uint32_t count) {
  if (count < 2) {
    uint32_t r = 0;
    for (uint32_t i = 0; i < count; ++i) r = crcStep(r, bytes[i]);
    return r;
  }
  // The register after a message and two more bytes is the message's CRC
  // added to those two bytes (high byte first).
  return crc16(bytes, count - 2) ^ ((uint32_t)bytes[count - 2] << 8 | bytes[count - 1]);
}
