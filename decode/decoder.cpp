#include "decode/decoder.h"
#include "common/app_state.h"
#include "decode/stream.h"
#include "fileio/byte_string.h"
#include "fileio/fatal.h"
#include "platform/platform.h"

DecoderState* decoder;

static void writeOut(const uint8_t* bytes, uint32_t count) {
  writeBlock(decoder->out, bytes, count);
  if (pendingIoError) failWrite();
}

void putByte(uint8_t byte) {
  DecoderState* d = decoder;
  if (d->writePos - d->base >= kWindowSize) {
    if (!d->skip) writeOut(d->window + d->flushFrom, (uint32_t)(kSlideSize - d->flushFrom));
    d->flushFrom = 0;
    copyBytes(d->window, d->window + kSlideSize, kWindowSize - kSlideSize);
    d->base += kSlideSize;
  }
  d->window[d->writePos - d->base] = byte;
  int64_t c = d->writePos - d->presetLength + d->captureOffset;
  if (c < (int64_t)kHeadSize) d->capture[c] = byte;
  ++d->writePos;
}

void finalFlush() {
  DecoderState* d = decoder;
  if (d->writePos > d->base) writeOut(d->window + d->flushFrom, (uint32_t)(d->writePos - d->base - d->flushFrom));
}

void decodeEntry(int32_t total, const uint8_t* preset, int32_t presetLength, uint8_t* capture,
                 int32_t captureOffset, bool skip, BlockFile* out) {
  DecoderState* d = decoder;
  copyBytes(d->window, preset, (uint32_t)presetLength);
  d->presetLength = presetLength;
  d->writePos = presetLength;
  d->flushFrom = presetLength;
  d->base = 0;
  d->captureOffset = captureOffset;
  d->capture = capture;
  d->skip = skip;
  d->out = out;

  resetBits();
  resetCodeTree(&d->symbolTree);
  resetCodeTree(&d->distanceTree);
  d->produced = 0;
  d->symbolCount = 0;

  while (d->produced < total && !app.cancelFlag) {
    if (isRebuildPoint(d->symbolCount)) {
      buildCodeTree(&d->symbolTree);
      buildCodeTree(&d->distanceTree);
      pfPumpOneMessage();
    }
    int s = decodeSymbol(&d->symbolTree);
    countSymbol(&d->symbolTree, s);
    if (s < 256) {
      putByte((uint8_t)s);
      d->produced += 1;
    } else {
      int32_t length = s - 254;
      if (s == 511) length = 257 + (int32_t)readBits(12);
      int ds = decodeSymbol(&d->distanceTree);
      countSymbol(&d->distanceTree, ds);
      int32_t distance = 16 * ds + 1 + (int32_t)readBits(4);
      // A distance before the first byte the window holds, or a match that
      // runs past the size the record declares, cannot come from a sound
      // archive: reading on would leave the window or lengthen the file.
      if (distance > d->writePos - d->base || length > total - d->produced) failDamaged();
      for (int32_t k = 0; k < length; ++k) putByte(d->window[d->writePos - distance - d->base]);
      d->produced += length;
    }
    ++d->symbolCount;
  }
  if (!skip) finalFlush();
}
