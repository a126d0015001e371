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

static uint32_t le32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// Signing a self-extracting file appends a certificate table behind the
// archive, after zero bytes up to the next multiple of 8, names the table's
// file offset and length in the security entry of the image's header and
// rewrites the header's checksum. When the table sits exactly there and ends
// with the file, and the bytes before it are zero, the archive file ends at
// expectedSize for everything that reads it, and the image gets back the
// checksum and security entry of the unsigned stub (both 0: our build writes
// them so), the bytes its creator coded the first file against. Anything
// else leaves the file whole for the size check: a table elsewhere, bytes
// behind it or padding that is not zero make the file larger than recorded.
static uint32_t setSignatureAside() {
  // The optional header must lie well inside the image. The data
  // directories of its 64-bit form (magic 0x20b) start 16 bytes further on
  // than those of the 32-bit form (0x10b); security is the fifth.
  const uint32_t at = le32(app.stubImage + 0x3c) + 24;
  if (at > kStubSize - 256) return 0;
  uint8_t* optional = app.stubImage + at;
  uint8_t* entry = optional + (optional[1] == 2 ? 144 : 128);

  const int32_t end = app.expectedSize;
  if (end < (int32_t)(kStubSize + 4)) return 0;
  const uint32_t tableAt = ((uint32_t)end + 7) & ~7u;
  const uint32_t tableLength = le32(entry + 4);
  if (le32(entry) != tableAt || tableLength < 8) return 0;
  const uint32_t fileSize = (uint32_t)size(&app.archiveFile);
  if (fileSize < tableAt || fileSize - tableAt != tableLength) return 0;
  if (tableAt != (uint32_t)end) {
    uint64_t padding = 0;
    seekTo(&app.archiveFile, (uint32_t)end);
    readBlock(&app.archiveFile, &padding, tableAt - (uint32_t)end);
    seekTo(&app.archiveFile, kStubSize + 4);
    if (uint32_t error = takeIoError()) return error;
    if (padding) return 0;
  }
  endFileAt(&app.archiveFile, (uint32_t)end, kStubSize + 4);
  for (int i = 0; i < 4; ++i) optional[64 + i] = 0;  // the checksum
  for (int i = 0; i < 8; ++i) entry[i] = 0;
  return 0;
}

uint32_t readStubImageAndSize() {
  readBlock(&app.archiveFile, app.stubImage, kStubSize);
  if (uint32_t error = takeIoError()) return error;
  uint8_t recorded[4];
  readBlock(&app.archiveFile, recorded, 4);
  if (uint32_t error = takeIoError()) return error;
  app.expectedSize = (int32_t)le32(recorded);
  app.consumedCount = 0;  // the first stream byte starts a fresh block
  return setSignatureAside();
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
