#include "archive/header.h"
#include "common/app_state.h"
#include "decode/crc.h"
#include "fileio/fatal.h"

// One read per byte: the header is small, and the file position must end
// exactly where the block stream begins.
static bool readHeaderByte(uint8_t* c) {
  uint32_t got = 0;
  readBlock(&app.archiveFile, c, 1, &got);
  return got == 1;
}

uint32_t readStubImageAndSize() {
  readBlock(&app.archiveFile, app.stubImage, kStubSize);
  if (uint32_t error = takeIoError()) return error;
  uint8_t recorded[4];
  readBlock(&app.archiveFile, recorded, 4);
  if (uint32_t error = takeIoError()) return error;
  app.expectedSize = (int32_t)((uint32_t)recorded[0] | (uint32_t)recorded[1] << 8 | (uint32_t)recorded[2] << 16 |
                               (uint32_t)recorded[3] << 24);
  app.consumedCount = 0;  // the first stream byte starts a fresh block
  return 0;
}

void readHeaderString(ByteString* out) {
  bsClear(out);
  uint8_t c;
  for (;;) {
    // A string that runs into the end of the file has lost its terminator;
    // a read that failed outright is a read failure.
    if (!readHeaderByte(&c)) {
      if (pendingIoError) failRead();
      failDamaged();
    }
    if (c == 0) break;
    bsAppendByte(out, (char)c);
  }
  if (!out->data) bsAppend(out, "", 0);
}

uint8_t readPasswordFields() {
  uint8_t flags = 0;
  readHeaderByte(&flags);
  app.passwordProtected = flags != 0;
  if (!app.passwordProtected) return 0;
  app.keyPos = 0;
  uint8_t check[2] = {0, 0};
  readHeaderByte(&check[0]);
  readHeaderByte(&check[1]);
  app.passwordCheck = (uint16_t)((check[0] | (check[1] << 8)) ^ (flags * 0x0101));
  return flags;
}

uint16_t storedPasswordCheck(const char* password, uint32_t length, uint8_t flags) {
  return (uint16_t)(crc16(password, length) ^ (flags * 0x0101));
}

bool passwordAccepted(const char* typed, uint32_t length) {
  if (length == 0) return false;
  app.crcRegister = 0;
  for (uint32_t i = 0; i < length; ++i) crcFeed((uint8_t)typed[i]);
  crcFeed(0);
  crcFeed(0);
  return app.crcRegister == app.passwordCheck;
}
