#include "decode/decoder.h"
#include "common/app_state.h"
#include "decode/stream.h"
#include "fileio/byte_string.h"
#include "fileio/fatal.h"
#include "platform/platform.h"

DecoderState* decoder;

#define ALWAYS_INLINE inline __attribute__((always_inline))
#define NEVER_INLINE __attribute__((noinline))

// ---- the bit input of the decoding loop ----
//
// Bits wait in a machine word (64 bits on the host, 32 in the stub), the
// next bit in bit 0. The word is filled from the current block as far as it
// goes; the next block is loaded (through readStreamByte, with its check)
// only when a bit of its first byte is needed, exactly when readBit would
// load it. So every byte taken into the word but not used belongs to the
// current block, and the entry gives those back when it ends.

#if VELLICOR_BIT_WORD_32
typedef uint32_t BitWord;  // the 32-bit product's word, for its tests on a 64-bit host
#else
typedef uintptr_t BitWord;
#endif
static const uint32_t kWordBits = sizeof(BitWord) * 8;

struct BitInput {
  BitWord bits;          // waiting bits; above `count` only zeros or bytes not yet counted
  uint32_t count;        // waiting bits
  const uint8_t* next;   // the first byte of the current block not yet counted in
  const uint8_t* end;    // the end of the current block's data
  uint32_t blockStart;   // consumedCount at the current block's first byte
  uint32_t symbol;       // the result of decodeSlowly
};

// Counts in whole bytes up to at most kWordBits - 8 bits, without leaving
// the current block.
static NEVER_INLINE BitInput refillByBytes(BitInput in) {
  while (in.count <= kWordBits - 8 && in.next < in.end) {
    in.bits |= (BitWord)*in.next++ << in.count;
    in.count += 8;
  }
  return in;
}

static ALWAYS_INLINE void refill(BitInput& in) {
  if (in.end - in.next >= (intptr_t)sizeof(BitWord)) {
    // One unaligned load; whole bytes are counted in, the rest of the
    // loaded word stays above `count` and is counted by a later refill.
    BitWord word;
    __builtin_memcpy(&word, in.next, sizeof word);
    in.bits |= word << in.count;
    in.next += (kWordBits - 1 - in.count) >> 3;
    in.count |= kWordBits - 8;
  } else {
    in = refillByBytes(in);
  }
}

// At least `need` bits (at most kWordBits - 8): first from the current
// block, then byte by byte through readStreamByte, which loads the next
// block (and ends the process on a damaged or missing one).
static NEVER_INLINE BitInput moreBits(BitInput in, uint32_t need) {
  in = refillByBytes(in);
  while (in.count < need) {
    app.consumedCount = in.blockStart + (uint32_t)(in.next - app.blockBuffer);
    const uint8_t byte = readStreamByte();
    const uint32_t at = (app.consumedCount - 1) % kBlockData;
    in.blockStart = app.consumedCount - 1 - at;
    in.next = app.blockBuffer + at + 1;
    in.end = app.blockBuffer + app.blockDataCount;
    in.bits |= (BitWord)byte << in.count;
    in.count += 8;
    in = refillByBytes(in);
  }
  return in;
}

static ALWAYS_INLINE uint32_t takeBits(BitInput& in, uint32_t n) {
  if (in.count < n) in = moreBits(in, n);
  const uint32_t v = (uint32_t)in.bits & ((1u << n) - 1);
  in.bits >>= n;
  in.count -= n;
  return v;
}

// A symbol whose table entry needs more bits than are waiting, or whose code
// is longer than the table: more bits byte by byte until the entry is sure
// (an entry of n bits is right whenever n bits are there), then for a long
// code the walk on from the table's node, one bit at a time.
static NEVER_INLINE BitInput decodeSlowly(BitInput in, const DecodeTable* table, const CodeTree* tree) {
  uint32_t e = table->entries[in.bits & table->mask];
  while ((e & 63) > in.count) {
    in = moreBits(in, in.count + 1);
    e = table->entries[in.bits & table->mask];
  }
  in.bits >>= e & 63;
  in.count -= e & 63;
  uint32_t node = e >> 6;
  while (node >= (uint32_t)kSymbols) {
    if (in.count == 0) in = moreBits(in, 1);
    const CodeNode& n = tree->nodes[node];
    node = (uint32_t)(in.bits & 1 ? n.child1 : n.child0);
    in.bits >>= 1;
    in.count -= 1;
  }
  in.symbol = node;
  return in;
}

static ALWAYS_INLINE uint32_t decodeWith(BitInput& in, const DecodeTable& table, const CodeTree& tree) {
  const uint32_t e = table.entries[in.bits & table.mask];
  const uint32_t n = e & 63;
  if (e >= ((uint32_t)kSymbols << 6) || n > in.count) {
    in = decodeSlowly(in, &table, &tree);
    return in.symbol;
  }
  in.bits >>= n;
  in.count -= n;
  return e >> 6;
}

static BitInput startInput() {
  BitInput in;
  const uint32_t at = app.consumedCount % kBlockData;
  in.bits = 0;  // the bits left in the byte before are dropped
  in.count = 0;
  in.blockStart = app.consumedCount - at;
  in.next = app.blockBuffer + at;
  // At a block's start nothing of it is loaded yet; the first bit loads it.
  in.end = at && (int32_t)at < app.blockDataCount ? app.blockBuffer + app.blockDataCount : in.next;
  in.symbol = 0;
  return in;
}

// Gives back the whole bytes that were counted in but not used, and leaves
// readBit's state as the bit-by-bit reader would have left it.
static void finishInput(const BitInput& in, uint32_t consumedBefore) {
  const uint8_t* used = in.next - (in.count >> 3);
  app.consumedCount = in.blockStart + (uint32_t)(used - app.blockBuffer);
  const uint32_t partial = in.count & 7;
  decoder->bitsUsed = (uint8_t)(partial ? 8 - partial : 0);
  decoder->bitByte = (uint8_t)(in.bits & ((1u << partial) - 1));
  // The last data byte of the stream was used (readStreamByte sets the flag
  // for the bytes it hands out itself).
  if (app.consumedCount != consumedBefore && used == in.end && !app.endOfArchive && atEnd(&app.archiveFile)) {
    if (pendingIoError) failRead();  // the size query failed: not an end, a read failure
    app.endOfArchive = true;
  }
}

// ---- the window ----

static void writeOut(const uint8_t* bytes, uint32_t count) {
  writeBlock(decoder->out, bytes, count);
  if (pendingIoError) failWrite();
}

// The file's first 16,384 bytes go to the head ring's slot: the produced
// bytes of the window before `pos` whose file offset is below 16,384. Taken
// before the first slide, which they all precede, or at the end.
static void captureHead(DecoderState* d, int32_t pos) {
  const int32_t from = d->presetLength;
  int32_t upTo = d->presetLength + (int32_t)kHeadSize - d->captureOffset;
  if (upTo > pos) upTo = pos;
  if (upTo > from) __builtin_memcpy(d->capture + d->captureOffset, d->window + from, (uint32_t)(upTo - from));
}

// After the symbol that took the window past its 40,960 bytes: the first
// 32,768 are written (less what was written before), and the last 8,192
// plus what the symbol added beyond the window move to the front.
static void slide(DecoderState* d, int32_t pos) {
  if (!d->skip) writeOut(d->window + d->flushFrom, (uint32_t)(kSlideSize - d->flushFrom));
  if (d->base == 0) captureHead(d, pos);
  d->flushFrom = 0;
  __builtin_memcpy(d->window, d->window + kSlideSize, (uint32_t)(pos - kSlideSize));
  d->base += kSlideSize;
}

void finalFlush() {
  DecoderState* d = decoder;
  if (d->writePos > d->base) writeOut(d->window + d->flushFrom, (uint32_t)(d->writePos - d->base - d->flushFrom));
}

// A match: byte after byte from `distance` back, so a distance shorter than
// the length repeats the last bytes. When the distance is at least a word,
// no word read overlaps the word written, and whole words are copied (the
// last may run past the match into the window's spare room). On the host,
// a match at a distance of 16 or more starts with one 16-byte copy, which
// is the whole of most matches.
static ALWAYS_INLINE void copyMatch(uint8_t* to, uint32_t distance, uint32_t length) {
  const uint8_t* from = to - distance;
  uint8_t* const end = to + length;
#if VELLICOR_HOST_DECODER
  if (distance >= 16) {
    uint8_t chunk[16];
    __builtin_memcpy(chunk, from, 16);
    __builtin_memcpy(to, chunk, 16);
    if (length <= 16) return;
    from += 16;
    to += 16;
  }
#endif
  if (distance >= sizeof(BitWord)) {
    do {
      BitWord word;
      __builtin_memcpy(&word, from, sizeof word);
      __builtin_memcpy(to, &word, sizeof word);
      from += sizeof word;
      to += sizeof word;
    } while (to < end);
  } else {
    do *to++ = *from++;
    while (to < end);
  }
}

// The table of the first build of every entry: all counts 1, every code 9
// bits. Both trees start from it, and the build itself is skipped (it
// would leave the ranks as they are); their next build starts from the
// same counts and ranks as after a real one.
static DecodeTable firstTable;
// The walk on from a table's node would need the entry's own tree, which
// is not built then: the first table must hold every 9-bit code.
static_assert(kDecodeTableBits >= 9, "the first table must hold whole codes");

static const DecodeTable* firstCodes(DecoderState* d) {
  if (firstTable.mask == 0) {
    resetCodeTree(&d->symbolTree);
    buildCodeTree(&d->symbolTree);
    fillDecodeTable(&d->symbolTree, &firstTable, kDecodeTableBits);
  }
  return &firstTable;
}

#if VELLICOR_HOST_DECODER
void (*rebuildHook)(bool done);
#endif

// Both trees and their tables.
static void rebuildCodes(DecoderState* d) {
#if VELLICOR_HOST_DECODER
  if (rebuildHook) rebuildHook(false);
#endif
  buildCodeTree(&d->symbolTree);
  buildCodeTree(&d->distanceTree);
  fillDecodeTable(&d->symbolTree, &d->symbolTable, kDecodeTableBits);
  fillDecodeTable(&d->distanceTree, &d->distanceTable, kDecodeTableBits);
#if VELLICOR_HOST_DECODER
  if (rebuildHook) rebuildHook(true);
#endif
}

void decodeEntry(int32_t total, const uint8_t* preset, int32_t presetLength, uint8_t* capture,
                 int32_t captureOffset, bool skip, BlockFile* out) {
  DecoderState* d = decoder;
  __builtin_memcpy(d->window, preset, (uint32_t)presetLength);
  d->presetLength = presetLength;
  d->writePos = presetLength;
  d->flushFrom = presetLength;
  d->base = 0;
  d->captureOffset = captureOffset;
  d->capture = capture;
  d->skip = skip;
  d->out = out;
  d->bitsUsed = 0;
  const DecodeTable* symbolCodes = firstCodes(d);
  const DecodeTable* distanceCodes = symbolCodes;
  resetCodeTree(&d->symbolTree);
  resetCodeTree(&d->distanceTree);
  d->produced = 0;
  d->symbolCount = 0;

  const uint32_t consumedBefore = app.consumedCount;
  BitInput in = startInput();
  uint8_t* const window = d->window;
  int32_t pos = presetLength;  // writePos - base
  // Where the entry ends, counted from window[0] (capped: it only ever
  // meets positions within the window), and the first position at which
  // the loop must stop to slide the window or to end.
  const int64_t endPos = (int64_t)presetLength + total;
  int32_t stop = endPos > 0x7FFFFFFF ? 0x7FFFFFFF : (int32_t)endPos;
  int32_t limit = stop < kWindowSize + 1 ? stop : kWindowSize + 1;
  uint32_t symbols = 0, nextBuild = 0;

  for (;;) {
    if (pos >= limit) {
      if (pos <= kWindowSize) break;  // the entry is complete
      slide(d, pos);
      pos -= kSlideSize;
      const int64_t left = endPos - d->base;
      stop = left > 0x7FFFFFFF ? 0x7FFFFFFF : (int32_t)left;
      limit = stop < kWindowSize + 1 ? stop : kWindowSize + 1;
      continue;
    }
    if (app.cancelFlag) break;
    if (symbols == nextBuild) {
      // Rebuild points: every 256 symbols up to 2,048, then every 1,024.
      nextBuild += symbols < 2048 ? 256 : 1024;
      if (symbols) {
        rebuildCodes(d);
        symbolCodes = &d->symbolTable;
        distanceCodes = &d->distanceTable;
      }
      // Progress as far as it got, for whoever looks during the pump.
      d->writePos = d->base + pos;
      d->produced = d->writePos - presetLength;
      d->symbolCount = symbols;
      app.consumedCount = in.blockStart + (uint32_t)(in.next - app.blockBuffer) - (in.count >> 3);
      pfPumpOneMessage();
    }

    // One refill serves a literal and the symbol after it (a literal or a
    // whole match, at most 49 bits with table-length codes) when the word
    // has 64 bits; longer codes fetch their bits as they go.
    refill(in);
    for (int inWord = 0;; ++inWord) {
      const uint32_t s = decodeWith(in, *symbolCodes, d->symbolTree);
      countSymbol(&d->symbolTree, (int)s);
      ++symbols;
      if (s < 256) {
        window[pos++] = (uint8_t)s;
        if (kWordBits < 64 || inWord || pos >= limit || app.cancelFlag || symbols == nextBuild) break;
        continue;
      }
      uint32_t length = s - 254;
      if (s == 511) length = 257 + takeBits(in, 12);
      if (kWordBits < 64) refill(in);
      const uint32_t ds = decodeWith(in, *distanceCodes, d->distanceTree);
      countSymbol(&d->distanceTree, (int)ds);
      const uint32_t distance = 16 * ds + 1 + takeBits(in, 4);
      // A distance before the first byte the window holds, or a match that
      // runs past the size the record declares, cannot come from a sound
      // archive: reading on would leave the window or lengthen the file.
      if ((int32_t)distance > pos || (int32_t)length > stop - pos) failDamaged();
      copyMatch(window + pos, distance, length);
      pos += (int32_t)length;
      break;
    }
  }

  if (d->base == 0) captureHead(d, pos);
  d->writePos = d->base + pos;
  d->produced = d->writePos - presetLength;
  d->symbolCount = symbols;
  finishInput(in, consumedBefore);
  if (!skip) finalFlush();
}
