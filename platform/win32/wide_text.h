// The one way text crosses between the stub and the system: every name and
// text is a code page 932 byte string on our side and UTF-16 on the
// system's, converted with code page 932 named explicitly, so the system's
// own ANSI code page never reads our bytes. Win32 only.
#pragma once
#include <windows.h>

#include "fileio/byte_string.h"

// Conversions in hand at once: a call that takes two texts (a message box's
// text and caption) gives each its own slot.
enum WideSlot { WideFirst, WideSecond, kWideSlots };

// The UTF-16 form of a 0-terminated code page 932 text, valid until the
// slot's next use. The stub's own file name, when code page 932 could not
// hold it, comes back as the system gave it.
const WCHAR* wideFrom932(const char* text, WideSlot slot = WideFirst);
// The UTF-16 units of the last conversion by wideFrom932.
extern int wideUnits;

// The code page 932 form of `count` UTF-16 units into `out`. False when some
// character has no form there: `out` then holds the default character "?"
// in its place (which no file name contains). `exact` refuses the system's
// nearest look-alikes ("e" for "ë"), which would name a different file.
bool narrowTo932(const WCHAR* text, int count, ByteString* out, bool exact);

// Records the stub's own file name: its UTF-16 form `wide` (kept by the
// caller) stands behind the code page 932 form `narrow`.
void keepOwnName(const WCHAR* wide, const ByteString* narrow);

// A window's text in code page 932; false as narrowTo932.
bool windowText932(HWND window, ByteString* out, bool exact);
