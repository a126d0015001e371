// Names for the wide-character Win32 calls, shared by the host programs'
// Windows side of the platform seam and the command-line program's Windows
// side: text conversions through the system's own code pages (code page 932
// named explicitly, whatever the ANSI code page of the machine is) and
// paths that no length limit applies to.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>

// Code page 932 bytes -> UTF-16. False for bytes that are no code page 932
// character (the single bytes 0x80, 0xA0 and 0xFD-0xFF among them, which
// have no character in the code page, although the system's table gives
// them private ones).
bool winFromCp932(const char* bytes, size_t count, std::wstring* out);
// UTF-16 -> code page 932; false when some character has no exact form.
bool winToCp932(const wchar_t* text, size_t count, std::string* out);
// UTF-8 <-> UTF-16; false for invalid sequences (and lone surrogates).
bool winFromUtf8(const char* bytes, size_t count, std::wstring* out);
bool winToUtf8(const wchar_t* text, size_t count, std::string* out);

// The folder that relative names are taken from: the process's current
// folder until winSetBaseFolder names another (an absolute path, which may
// be longer than the current folder of a process can be).
void winSetBaseFolder(const std::wstring& absolute);

// A name for the wide file calls: "/" taken as "\", made absolute (against
// the base folder), "." and ".." components resolved and repeated
// separators dropped, and given the "\\?\" prefix, so that paths of any
// length work and no component is changed behind the caller's back. A name
// that already has the prefix, or the device prefix "\\.\", is used as it
// is. False (with the last-error value set) when the name cannot be made
// absolute.
bool winSystemPath(const std::wstring& name, std::wstring* out);

// Whether a relative name (code page 932 converted, "\" separators) has a
// component that Windows gives a meaning of its own or cannot show: a
// device name (CON, NUL, COM1, ...), a trailing dot or space, or one of
// the characters < > : " | ? * or a control character. Such names would
// make files that ordinary programs cannot open or remove.
bool winNameIsOdd(const std::wstring& relative);
