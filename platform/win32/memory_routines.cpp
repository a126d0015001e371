// The memory and string routines that the compiler calls on its own (for
// structure copies, zeroing, and loops it recognises as one of them). The stub links no C runtime, so
// they are here, written with string instructions: the compiler cannot turn
// them back into calls of themselves, and they are small.
#include <stddef.h>

extern "C" {

void* memcpy(void* to, const void* from, size_t count) {
  void* d = to;
  asm volatile("rep movsb" : "+D"(d), "+S"(from), "+c"(count) : : "memory");
  return to;
}

void* memmove(void* to, const void* from, size_t count) {
  void* d = to;
  if ((const char*)to <= (const char*)from || (const char*)to >= (const char*)from + count) {
    asm volatile("rep movsb" : "+D"(d), "+S"(from), "+c"(count) : : "memory");
  } else {
    // Overlapping with the target behind the source: copy from the end.
    d = (char*)to + count - 1;
    from = (const char*)from + count - 1;
    asm volatile("std\n\trep movsb\n\tcld" : "+D"(d), "+S"(from), "+c"(count) : : "memory");
  }
  return to;
}

void* memset(void* to, int value, size_t count) {
  void* d = to;
  asm volatile("rep stosb" : "+D"(d), "+c"(count) : "a"(value) : "memory");
  return to;
}

int memcmp(const void* a, const void* b, size_t count) {
  const unsigned char* x = (const unsigned char*)a;
  const unsigned char* y = (const unsigned char*)b;
  for (; count; --count, ++x, ++y)
    if (*x != *y) return *x < *y ? -1 : 1;
  return 0;
}

size_t strlen(const char* text) {
  size_t n = 0;
  while (text[n]) ++n;
  return n;
}

}  // extern "C"
