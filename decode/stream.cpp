#include "decode/stream.h"
#include "common/app_state.h"
#include "decode/crc.h"
#include "decode/decoder.h"
#include "fileio/fatal.h"

// Loads the next block: reads up to 4,098 bytes, unmasks the data bytes with
// the key (the last two bytes read are the check bytes and are never masked),
// and checks the CRC over the clear data followed by the check bytes.
static void loadBlock() {
  uint32_t n = 0;
  readBlock(&app.archiveFile, app.blockBuffer, kBlockBytes, &n);
  // This read, or an untested one before it (the header's last fields),
  // failed outright: a read failure, not a short or damaged stream.
  if (pendingIoError) failRead();
  if (app.passwordProtected) {
    const uint8_t* key = (const uint8_t*)bsText(&app.key);
    const int32_t keyLength = (int32_t)app.key.length;
    if (keyLength == 0) failDamaged();  // nothing to unmask with
    for (uint32_t j = 0; j + 2 < n; ++j) {
      app.blockBuffer[j] ^= key[app.keyPos];
      if (++app.keyPos >= keyLength) app.keyPos = 0;
    }
  }
  app.crcRegister = crcOfBlock(app.blockBuffer, n);
  if (app.crcRegister != 0) failDamaged();
  app.blockDataCount = (int32_t)n - 2;
}

uint8_t readStreamByte() {
  const int32_t i = (int32_t)(app.consumedCount % kBlockData);
  if (i == 0) loadBlock();
  if (i >= app.blockDataCount) failRead();
  if (i == app.blockDataCount - 1 && atEnd(&app.archiveFile)) {
    // A size or position query that failed answers "at the end" too; the
    // archive did not end, its read failed.
    if (pendingIoError) failRead();
    app.endOfArchive = true;
  }
  ++app.consumedCount;
  return app.blockBuffer[i];
}

uint32_t readBit() {
  DecoderState* d = decoder;
  if (d->bitsUsed == 0) d->bitByte = readStreamByte();
  uint32_t bit = d->bitByte & 1;
  d->bitByte >>= 1;
  d->bitsUsed = (d->bitsUsed + 1) & 7;
  return bit;
}

uint32_t readBits(int count) {
  uint32_t v = 0;
  for (int k = 0; k < count; ++k) v |= readBit() << k;
  return v;
}

void resetBits() { decoder->bitsUsed = 0; }
