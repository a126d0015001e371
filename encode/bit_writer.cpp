#include "encode/bit_writer.h"

#include <string.h>

#include "encode/block_writer.h"

void initBitWriter(BitWriter* w, BlockWriter* sink) {
  w->acc = 0;
  w->accBits = 0;
  w->used = 0;
  w->bytesDone = 0;
  w->sink = sink;
  w->keep = 0;
}

void initBitWriterToMemory(BitWriter* w, std::vector<uint8_t>* keep) {
  initBitWriter(w, 0);
  w->keep = keep;
}

void drainBits(BitWriter* w) {
  if (w->sink && w->used) writeStreamBytes(w->sink, w->buffer, w->used);
  else if (w->keep && w->used) w->keep->insert(w->keep->end(), w->buffer, w->buffer + w->used);
  w->bytesDone += w->used;
  w->used = 0;
}

void alignToByte(BitWriter* w) {
  while (w->accBits > 0) {
    w->buffer[w->used++] = (uint8_t)w->acc;
    w->acc >>= 8;
    w->accBits = w->accBits > 8 ? w->accBits - 8 : 0;
  }
  w->acc = 0;
  if (w->used > kBitBufferSize - 8) drainBits(w);
}

void putAlignedBytes(BitWriter* w, const uint8_t* bytes, size_t count) {
  while (count) {
    size_t room = kBitBufferSize - w->used;
    size_t n = count < room ? count : room;
    memcpy(w->buffer + w->used, bytes, n);
    w->used += (uint32_t)n;
    bytes += n;
    count -= n;
    if (w->used > kBitBufferSize - 8) drainBits(w);
  }
}
