#include "encode/block_writer.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include "decode/crc.h"
#include "encode/pack_io.h"

void initBlockWriter(BlockWriter* b, int fd, uint64_t fileOffset, const uint8_t* key, uint32_t keyLength,
                     uint64_t limit) {
  b->fd = fd;
  b->key = keyLength ? key : 0;
  b->keyLength = keyLength;
  b->keyPos = 0;
  b->fileOffset = fileOffset;
  b->limit = limit;
  b->dataBytes = 0;
  b->fileBytes = fileOffset;
  b->error = BlockWriterOk;
  b->ioErrno = 0;
  b->blockUsed = 0;
  b->outUsed = 0;
}

static void flushOut(BlockWriter* b) {
  const uint8_t* p = b->out;
  size_t left = b->outUsed;
  b->outUsed = 0;
  while (left && b->error == BlockWriterOk) {
    ssize_t n = packWrite(b->fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      b->error = BlockWriterIoFailed;
      b->ioErrno = n < 0 ? errno : EIO;
      return;
    }
    p += n;
    left -= (size_t)n;
  }
}

// Checks the clear block, masks it into the output buffer, appends the check.
static void closeBlock(BlockWriter* b) {
  const uint32_t n = b->blockUsed;
  if (n == 0) return;
  b->blockUsed = 0;
  b->fileBytes += n + 2;
  if (b->fileBytes > b->limit && b->error == BlockWriterOk) b->error = BlockWriterTooLarge;
  if (b->error != BlockWriterOk) return;

  const uint16_t crc = crc16(b->block, n);
  uint8_t* o = b->out + b->outUsed;
  if (b->key) {
    uint32_t k = b->keyPos;
    for (uint32_t i = 0; i < n; ++i) {
      o[i] = b->block[i] ^ b->key[k];
      if (++k == b->keyLength) k = 0;
    }
    b->keyPos = k;
  } else {
    memcpy(o, b->block, n);
  }
  o[n] = (uint8_t)(crc >> 8);
  o[n + 1] = (uint8_t)crc;
  b->outUsed += n + 2;
  if (b->outUsed > sizeof(b->out) - (kStreamBlockData + 2)) flushOut(b);
}

void writeStreamBytes(BlockWriter* b, const uint8_t* bytes, size_t count) {
  b->dataBytes += count;
  while (count) {
    uint32_t room = kStreamBlockData - b->blockUsed;
    uint32_t n = count < room ? (uint32_t)count : room;
    memcpy(b->block + b->blockUsed, bytes, n);
    b->blockUsed += n;
    bytes += n;
    count -= n;
    if (b->blockUsed == kStreamBlockData) closeBlock(b);
  }
}

bool finishBlocks(BlockWriter* b) {
  closeBlock(b);
  flushOut(b);
  return b->error == BlockWriterOk;
}

uint64_t projectedFileSize(const BlockWriter* b) {
  return b->fileBytes + (b->blockUsed ? b->blockUsed + 2 : 0);
}
