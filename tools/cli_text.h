// Text for the terminal: the locale's language and encoding, code page 932
// names and comments shown in that encoding, JSON strings and times.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>

// Reads the locale once (setlocale from the environment). A locale whose
// character set is plain ASCII (the "C" locale) is treated as UTF-8.
void cliInitLocale();
// True under a Japanese locale (LC_ALL, LC_MESSAGES or LANG beginning "ja").
bool cliJapanese();
// Picks the English or the Japanese wording (both UTF-8).
const char* tr(const char* english, const char* japanese);
std::string tr(const std::string& english, const std::string& japanese);

// Code page 932 bytes in the terminal's encoding. With `asPath`, the "\"
// separators become "/". A character that has no form in the terminal's
// encoding, a byte that is no valid code page 932 character, and a control
// character are shown as \xHH for each of their bytes, so nothing is ever
// changed silently. With `multiLine`, line ends (CR LF, LF) and tabs stay.
std::string showCp932(const char* bytes, size_t count, bool asPath, bool multiLine = false);
// Exact conversion to UTF-8 ("\" separators to "/" with `asPath`); false
// when some byte is no valid code page 932 character.
bool cp932ToUtf8(const char* bytes, size_t count, bool asPath, std::string* out);
// One of our own UTF-8 texts in the terminal's encoding.
std::string showText(const std::string& utf8);
// What the user typed (terminal encoding) as code page 932 bytes; the bytes
// unchanged when they have no code page 932 form.
std::string typedToCp932(const std::string& typed);

// A JSON string literal (quotes included) of UTF-8 text.
std::string jsonString(const std::string& utf8);
// Lower-case hexadecimal digits of a byte run.
std::string hexBytes(const char* bytes, size_t count);
// FILETIME (100 ns since 1601-01-01 UTC) as local time in ISO 8601 form with
// the zone offset, e.g. 2024-01-05T13:04:05+09:00.
std::string isoLocalTime(uint64_t filetime);
// 1234567 -> "1,234,567".
std::string groupedNumber(uint64_t n);
// 1536 -> "1.5 KiB" (bytes below 1,024 as "123 B").
std::string humanBytes(double n);
// Columns a UTF-8 text takes in a terminal (East Asian wide characters 2).
size_t displayWidth(const std::string& utf8);
// Pads with spaces on the right to `width` columns.
std::string padRight(const std::string& utf8, size_t width);
