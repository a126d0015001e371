#include "platform/win32/wide_text.h"

#include "fileio/fatal.h"
#include "platform/platform.h"

static const UINT kCodePage932 = 932;

// The stub's own file name when its folder has characters that code page
// 932 cannot hold: the system's form and our stand-in for it.
static const WCHAR* ownWide;
static ByteString ownNarrow;

// Each slot grows to the longest text it has held and is kept.
static WCHAR* slots[kWideSlots];
static uint32_t slotUnits[kWideSlots];

static WCHAR* slotFor(WideSlot slot, uint32_t units) {
  if (units > slotUnits[slot]) {
    WCHAR* grown = (WCHAR*)pfRealloc(slots[slot], units * sizeof(WCHAR));
    if (!grown) failOutOfMemory();
    slots[slot] = grown;
    slotUnits[slot] = units;
  }
  return slots[slot];
}

int wideUnits;

const WCHAR* wideFrom932(const char* text, WideSlot slot) {
  if (ownWide && sameBytes(text, bsText(&ownNarrow), ownNarrow.length + 1)) return ownWide;
  // No character takes more UTF-16 units than bytes. Flags 0: bytes that
  // are no character convert as the ANSI calls of a code page 932 system
  // convert them.
  const uint32_t room = textLength(text) + 1;
  WCHAR* wide = slotFor(slot, room);
  wideUnits = MultiByteToWideChar(kCodePage932, 0, text, -1, wide, (int)room) - 1;
  if (wideUnits < 0) wideUnits = 0;
  wide[wideUnits] = 0;
  return wide;
}

bool narrowTo932(const WCHAR* text, int count, ByteString* out, bool exact) {
  // No character takes more than two bytes: room for all of them, written
  // in place, then cut to what was written (nothing, for no text).
  bsAssign(out, (const char*)text, (uint32_t)count * 2);
  BOOL usedDefault = FALSE;
  const int got = WideCharToMultiByte(kCodePage932, exact ? WC_NO_BEST_FIT_CHARS : 0, text, count, out->data,
                                      count * 2, NULL, &usedDefault);
  out->length = (uint32_t)got;
  out->data[got] = 0;
  return !usedDefault && (got > 0) == (count > 0);
}

void keepOwnName(const WCHAR* wide, const ByteString* narrow) {
  ownWide = wide;
  bsAssign(&ownNarrow, bsText(narrow), narrow->length);
}

bool windowText932(HWND window, ByteString* out, bool exact) {
  const int units = GetWindowTextLengthW(window) + 1;
  WCHAR* text = slotFor(WideFirst, (uint32_t)units);
  return narrowTo932(text, GetWindowTextW(window, text, units), out, exact);
}
