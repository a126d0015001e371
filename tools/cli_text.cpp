#include "tools/cli_text.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform/platform.h"
#include "tools/system.h"

static bool japanese;

void cliInitLocale() {
  const char* lang = 0;
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = getenv(var);
    if (v && *v) {
      lang = v;
      break;
    }
  }
  // Without any of the variables (as on most Windows machines) the system's
  // own language for users decides.
  japanese = lang ? !strncmp(lang, "ja", 2) : sysUserLanguageIsJapanese();
  sysInitTerminalText(japanese);
}

bool cliJapanese() { return japanese; }

const char* tr(const char* english, const char* japanese_) { return japanese ? japanese_ : english; }
std::string tr(const std::string& english, const std::string& japanese_) { return japanese ? japanese_ : english; }

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

// Converts one character and appends it; false when it has no form in `to`.
static bool convertOne(SysTextCode to, const char* bytes, size_t count, std::string* out) {
  std::string piece;
  if (!sysConvertText(TextCp932, to, bytes, count, &piece)) return false;
  out->append(piece);
  return true;
}

std::string showCp932(const char* bytes, size_t count, bool asPath, bool multiLine) {
  std::string out;
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
    if (!convertOne(TextTerminal, c, n, &out)) escapeBytes(c, n, &out);
  });
  if (pendingCr) escapeBytes("\r", 1, &out);
  return out;
}

bool cp932ToUtf8(const char* bytes, size_t count, bool asPath, std::string* out) {
  out->clear();
  bool ok = true;
  eachCharacter(bytes, count, [&](const char* c, size_t n) {
    if (!ok) return;
    if (n == 1 && asPath && c[0] == '\\') *out += '/';
    else if (n == 1 && (unsigned char)c[0] < 0x80) *out += c[0];
    else ok = convertOne(TextUtf8, c, n, out);
  });
  return ok;
}

std::string showText(const std::string& utf8) {
  if (sysTerminalIsUtf8()) return utf8;
  std::string out;
  return sysConvertText(TextUtf8, TextTerminal, utf8.data(), utf8.size(), &out, true) ? out : utf8;
}

std::string typedToCp932(const std::string& typed) {
  std::string out;
  return sysConvertText(TextTerminal, TextCp932, typed.data(), typed.size(), &out) ? out : typed;
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
  SysLocalTime t;
  if (!sysLocalTime(filetime, &t)) return "?";
  long offset = t.offsetSeconds;
  const char sign = offset < 0 ? '-' : '+';
  if (offset < 0) offset = -offset;
  char text[64];
  snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", t.year, t.month, t.day, t.hour, t.minute,
           t.second, sign, offset / 3600, offset / 60 % 60);
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
