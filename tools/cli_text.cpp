#include "tools/cli_text.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "platform/platform.h"

static std::string terminalCode = "UTF-8";
static bool japanese;

void cliInitLocale() {
  setlocale(LC_ALL, "");
  const char* code = nl_langinfo(CODESET);
  // The "C" locale names plain ASCII; terminals today take UTF-8 there, and
  // escaping every Japanese name would help nobody.
  if (!code || !*code || !strcmp(code, "ANSI_X3.4-1968") || !strcmp(code, "ASCII") || !strcmp(code, "US-ASCII"))
    terminalCode = "UTF-8";
  else
    terminalCode = code;
  const char* lang = 0;
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = getenv(var);
    if (v && *v) {
      lang = v;
      break;
    }
  }
  japanese = lang && !strncmp(lang, "ja", 2);
}

bool cliJapanese() { return japanese; }

const char* tr(const char* english, const char* japanese_) { return japanese ? japanese_ : english; }
std::string tr(const std::string& english, const std::string& japanese_) { return japanese ? japanese_ : english; }

static bool terminalIsUtf8() { return !strcasecmp(terminalCode.c_str(), "UTF-8") || !strcasecmp(terminalCode.c_str(), "UTF8"); }

// Converts one character; false (and the converter reset) when it has no
// form in the target encoding.
static bool convertOne(iconv_t cd, const char* bytes, size_t count, std::string* out) {
  char in[4];
  memcpy(in, bytes, count);
  char buffer[16];
  char* ip = in;
  size_t inLeft = count;
  char* op = buffer;
  size_t outLeft = sizeof buffer;
  if (iconv(cd, &ip, &inLeft, &op, &outLeft) == (size_t)-1 || inLeft != 0) {
    iconv(cd, 0, 0, 0, 0);
    return false;
  }
  out->append(buffer, sizeof buffer - outLeft);
  return true;
}

static void escapeBytes(const char* bytes, size_t count, std::string* out) {
  for (size_t i = 0; i < count; ++i) {
    char e[8];
    snprintf(e, sizeof e, "\\x%02X", (unsigned char)bytes[i]);
    out->append(e);
  }
}

// Walks code page 932 text by characters (the lead bytes of double-byte
// characters as the stub's character stepping knows them).
template <typename Step>
static void eachCharacter(const char* bytes, size_t count, Step step) {
  std::string text(bytes, count);  // NUL-terminated for the stepping
  const char* p = text.c_str();
  const char* end = p + count;
  while (p < end) {
    const char* next = pfCharNext(p);
    if (next == p || next > end) next = p + 1;  // an embedded 0 byte
    step(p, (size_t)(next - p));
    p = next;
  }
}

std::string showCp932(const char* bytes, size_t count, bool asPath, bool multiLine) {
  std::string out;
  iconv_t cd = iconv_open(terminalCode.c_str(), "CP932");
  bool pendingCr = false;
  eachCharacter(bytes, count, [&](const char* c, size_t n) {
    const unsigned char b = (unsigned char)c[0];
    if (pendingCr) {
      pendingCr = false;
      if (n == 1 && b == '\n') {
        out += '\n';
        return;
      }
      escapeBytes("\r", 1, &out);
    }
    if (n == 1 && asPath && b == '\\') {
      out += '/';
      return;
    }
    if (n == 1 && (b < 0x20 || b == 0x7F)) {
      if (multiLine && b == '\r') pendingCr = true;
      else if (multiLine && (b == '\n' || b == '\t')) out += (char)b;
      else escapeBytes(c, 1, &out);
      return;
    }
    if (cd == (iconv_t)-1 || !convertOne(cd, c, n, &out)) escapeBytes(c, n, &out);
  });
  if (pendingCr) escapeBytes("\r", 1, &out);
  if (cd != (iconv_t)-1) iconv_close(cd);
  return out;
}

bool cp932ToUtf8(const char* bytes, size_t count, bool asPath, std::string* out) {
  out->clear();
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == (iconv_t)-1) return false;
  bool ok = true;
  eachCharacter(bytes, count, [&](const char* c, size_t n) {
    if (!ok) return;
    if (n == 1 && asPath && c[0] == '\\') *out += '/';
    else if (n == 1 && (unsigned char)c[0] < 0x80) *out += c[0];
    else ok = convertOne(cd, c, n, out);
  });
  iconv_close(cd);
  return ok;
}

// Converts a whole text; false when any part has no form in the target.
static bool convertAll(const char* to, const char* from, const std::string& in, std::string* out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == (iconv_t)-1) return false;
  std::string buffer(in.size() * 4 + 16, '\0');
  char* ip = (char*)in.data();
  size_t inLeft = in.size();
  char* op = buffer.data();
  size_t outLeft = buffer.size();
  size_t r = iconv(cd, &ip, &inLeft, &op, &outLeft);
  iconv_close(cd);
  if (r == (size_t)-1 || inLeft != 0) return false;
  buffer.resize(buffer.size() - outLeft);
  *out = buffer;
  return true;
}

std::string showText(const std::string& utf8) {
  if (terminalIsUtf8()) return utf8;
  std::string out;
  std::string target = terminalCode + "//TRANSLIT";
  return convertAll(target.c_str(), "UTF-8", utf8, &out) ? out : utf8;
}

std::string typedToCp932(const std::string& typed) {
  std::string out;
  return convertAll("CP932", terminalCode.c_str(), typed, &out) ? out : typed;
}

std::string jsonString(const std::string& utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char e[8];
          snprintf(e, sizeof e, "\\u%04x", c);
          out += e;
        } else {
          out += (char)c;
        }
    }
  }
  return out + "\"";
}

std::string hexBytes(const char* bytes, size_t count) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    out += digits[(unsigned char)bytes[i] >> 4];
    out += digits[(unsigned char)bytes[i] & 15];
  }
  return out;
}

std::string isoLocalTime(uint64_t filetime) {
  // FILETIME counts 100 ns from 1601-01-01; POSIX times count from 1970.
  const int64_t seconds = (int64_t)(filetime / 10000000u) - 11644473600LL;
  const time_t t = (time_t)seconds;
  struct tm tm;
  if (!localtime_r(&t, &tm)) return "?";
  long offset = tm.tm_gmtoff;
  const char sign = offset < 0 ? '-' : '+';
  if (offset < 0) offset = -offset;
  char text[64];
  snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", tm.tm_year + 1900, tm.tm_mon + 1,
           tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, sign, offset / 3600, offset / 60 % 60);
  return text;
}

std::string groupedNumber(uint64_t n) {
  std::string digits = std::to_string(n);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string humanBytes(double n) {
  static const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  int u = 0;
  while (n >= 1024 && u < 4) {
    n /= 1024;
    ++u;
  }
  char text[32];
  if (u == 0) snprintf(text, sizeof text, "%.0f %s", n, units[u]);
  else snprintf(text, sizeof text, "%.1f %s", n, units[u]);
  return text;
}

size_t displayWidth(const std::string& utf8) {
  size_t width = 0;
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char c = (unsigned char)utf8[i];
    uint32_t cp = c;
    size_t n = 1;
    if (c >= 0xF0) n = 4, cp = c & 7;
    else if (c >= 0xE0) n = 3, cp = c & 15;
    else if (c >= 0xC0) n = 2, cp = c & 31;
    for (size_t k = 1; k < n && i + k < utf8.size(); ++k) cp = (cp << 6) | ((unsigned char)utf8[i + k] & 63);
    i += n;
    const bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                      (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                      (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                      (cp >= 0xFFE0 && cp <= 0xFFE6) || cp >= 0x20000;
    width += wide ? 2 : 1;
  }
  return width;
}

std::string padRight(const std::string& utf8, size_t width) {
  size_t w = displayWidth(utf8);
  return w >= width ? utf8 : utf8 + std::string(width - w, ' ');
}
