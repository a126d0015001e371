#include "fileio/byte_string.h"
#include "fileio/fatal.h"
#include "platform/platform.h"

static void reserve(ByteString* s, uint32_t need) {
  if (need + 1 <= s->capacity) return;
  uint32_t cap = s->capacity ? s->capacity : 64;
  while (cap < need + 1) {
    if (cap > 0x40000000u) failOutOfMemory();
    cap *= 2;
  }
  char* p = (char*)(s->data ? pfRealloc(s->data, cap) : pfAlloc(cap));
  if (!p) failOutOfMemory();
  s->data = p;
  s->capacity = cap;
}

void bsClear(ByteString* s) {
  s->length = 0;
  if (s->data) s->data[0] = 0;
}

void bsAppendByte(ByteString* s, char c) {
  reserve(s, s->length + 1);
  s->data[s->length++] = c;
  s->data[s->length] = 0;
}

void bsAppend(ByteString* s, const char* bytes, uint32_t count) {
  if (count > 0xFFFFFFF0u - s->length) failOutOfMemory();
  reserve(s, s->length + count);
  copyBytes(s->data + s->length, bytes, count);
  s->length += count;
  s->data[s->length] = 0;
}

void bsAppendText(ByteString* s, const char* text) { bsAppend(s, text, textLength(text)); }

void bsAssign(ByteString* s, const char* bytes, uint32_t count) {
  bsClear(s);
  bsAppend(s, bytes, count);
}

void bsRelease(ByteString* s) {
  if (s->data) pfFree(s->data);
  s->data = 0;
  s->length = s->capacity = 0;
}

const char* bsText(const ByteString* s) { return s->data ? s->data : ""; }

uint32_t textLength(const char* text) {
  uint32_t n = 0;
  while (text[n]) ++n;
  return n;
}

void copyBytes(void* to, const void* from, uint32_t count) {
  char* d = (char*)to;
  const char* f = (const char*)from;
  if (d < f) {
    for (uint32_t i = 0; i < count; ++i) d[i] = f[i];
  } else {
    while (count--) d[count] = f[count];
  }
}

bool sameBytes(const void* a, const void* b, uint32_t count) {
  const unsigned char* x = (const unsigned char*)a;
  const unsigned char* y = (const unsigned char*)b;
  for (uint32_t i = 0; i < count; ++i)
    if (x[i] != y[i]) return false;
  return true;
}
