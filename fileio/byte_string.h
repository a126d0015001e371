// A growing byte string on the platform heap: for texts and paths that have
// no length limit of their own (the comment, the launch file, full paths).
#pragma once
#include <stdint.h>

struct ByteString {
  char* data;       // always NUL-terminated once anything was set
  uint32_t length;  // bytes before the terminator
  uint32_t capacity;
};

void bsClear(ByteString* s);
void bsAppendByte(ByteString* s, char c);
void bsAppend(ByteString* s, const char* bytes, uint32_t count);
void bsAppendText(ByteString* s, const char* text);
void bsAssign(ByteString* s, const char* bytes, uint32_t count);
void bsRelease(ByteString* s);
// The string's text; "" for a string that never held anything.
const char* bsText(const ByteString* s);
uint32_t textLength(const char* text);
void copyBytes(void* to, const void* from, uint32_t count);
bool sameBytes(const void* a, const void* b, uint32_t count);
