#include "tools/name_match.h"

namespace {

bool isLeadCp932(uint8_t c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// Reads one character and returns its number: a code page 932 double-byte
// character as lead * 256 + trail, a UTF-8 sequence as its code point, and
// a byte that starts no valid UTF-8 sequence as 0xDC00 + byte (no real
// character has that number, so it only ever equals itself).
uint32_t readCharacter(const char** p, const char* end, NameEncoding encoding) {
  const char* s = *p;
  const size_t n = characterLength(s, end, encoding);
  *p = s + n;
  const uint8_t c = (uint8_t)s[0];
  if (n == 1) return (encoding == EncodingUtf8 && c >= 0x80) ? 0xDC00u + c : c;
  if (encoding == EncodingCp932) return (uint32_t)c << 8 | (uint8_t)s[1];
  uint32_t code = c & (0x7Fu >> n);
  for (size_t i = 1; i < n; ++i) code = code << 6 | ((uint8_t)s[i] & 0x3F);
  return code;
}

// One pattern character, with the escape when the rules have one.
uint32_t readPatternCharacter(const char** p, const char* end, const MatchRules& r) {
  if (r.backslashEscapes && **p == '\\' && *p + 1 < end) ++*p;
  return readCharacter(p, end, r.encoding);
}

// A bracket expression at `p` (which points at "["): true and *p past
// the "]" with whether `c` is in it; false when the "[" has no "]".
bool matchBracket(const char** p, const char* end, uint32_t c, const MatchRules& r, bool* inside) {
  const char* q = *p + 1;
  bool negate = false;
  if (q < end && (*q == '!' || *q == '^')) {
    negate = true;
    ++q;
  }
  bool found = false, first = true;
  for (;;) {
    if (q >= end) return false;
    if (*q == ']' && !first) break;
    first = false;
    const uint32_t low = readPatternCharacter(&q, end, r);
    uint32_t high = low;
    if (q + 1 < end && *q == '-' && q[1] != ']') {
      ++q;
      high = readPatternCharacter(&q, end, r);
    }
    if (low <= c && c <= high) found = true;
  }
  *p = q + 1;
  *inside = found != negate;
  return true;
}

// Matches one pattern element that takes exactly one character (a plain
// character, "?" or a bracket expression) against the character at *n.
bool matchOne(const char** p, const char* pend, const char** n, const char* nend, const MatchRules& r) {
  const char* q = *p;
  const char* m = *n;
  const bool nameAtSeparator = characterLength(m, nend, r.encoding) == 1 && *m == r.separator;
  const uint32_t c = readCharacter(&m, nend, r.encoding);
  bool ok;
  if (*q == '?') {
    ++q;
    ok = !nameAtSeparator;
  } else if (*q == '[' && matchBracket(&q, pend, c, r, &ok)) {
    ok = ok && !nameAtSeparator;
  } else {
    ok = readPatternCharacter(&q, pend, r) == c;
  }
  if (!ok) return false;
  *p = q;
  *n = m;
  return true;
}

// The classic matcher with one point to return to: every element other
// than a star takes exactly one character, so when a later element fails,
// letting the last star take one more character is the only choice left
// to try. Linear in the name for each position of the last star.
bool matchCharacters(const char* pattern, const char* pend, const char* name, const char* nend, const MatchRules& r) {
  const char *p = pattern, *n = name;
  const char *starP = 0, *starN = 0;
  for (;;) {
    if (p < pend && *p == '*') {
      while (p < pend && *p == '*') ++p;
      starP = p;
      starN = n;
      continue;
    }
    if (n == nend) return p == pend;
    if (p < pend && matchOne(&p, pend, &n, nend, r)) continue;
    if (!starP) return false;
    // The star takes one more character, unless that is a separator it
    // may not take.
    if (!r.starCrossesSeparator && characterLength(starN, nend, r.encoding) == 1 && *starN == r.separator)
      return false;
    starN += characterLength(starN, nend, r.encoding);
    p = starP;
    n = starN;
  }
}

// The end of the component that starts at `p` (the next separator or `end`).
const char* componentEnd(const char* p, const char* end, const MatchRules& r, bool pattern) {
  while (p < end) {
    if (*p == r.separator) return p;
    if (pattern && r.backslashEscapes && *p == '\\' && p + 1 < end) ++p;
    p += characterLength(p, end, r.encoding);
  }
  return end;
}

bool isDoubleStar(const char* p, const char* e) { return e - p == 2 && p[0] == '*' && p[1] == '*'; }

// Component by component: "**" is the star of the same matcher as above,
// and every other pattern component takes exactly one name component.
bool matchComponents(const char* pattern, const char* pend, const char* name, const char* nend, const MatchRules& r) {
  const char *p = pattern, *n = name;
  const char *starP = 0, *starN = 0;
  auto next = [&](const char* from, const char* end, bool isPattern) {
    const char* e = componentEnd(from, end, r, isPattern);
    return e < end ? e + 1 : e;
  };
  for (;;) {
    if (p < pend) {
      const char* pe = componentEnd(p, pend, r, true);
      if (isDoubleStar(p, pe)) {
        p = next(p, pend, true);
        starP = p;
        starN = n;
        continue;
      }
    }
    if (n == nend) return p == pend;
    if (p < pend) {
      const char* pe = componentEnd(p, pend, r, true);
      const char* ne = componentEnd(n, nend, r, false);
      if (matchCharacters(p, pe, n, ne, r)) {
        p = next(p, pend, true);
        n = next(n, nend, false);
        continue;
      }
    }
    if (!starP) return false;
    starN = next(starN, nend, false);
    p = starP;
    n = starN;
  }
}

}  // namespace

size_t characterLength(const char* p, const char* end, NameEncoding encoding) {
  const uint8_t c = (uint8_t)p[0];
  if (encoding == EncodingCp932) return isLeadCp932(c) && p + 1 < end ? 2 : 1;
  size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 1;
  if (c >= 0xF5) n = 1;
  if (p + n > end) return 1;
  for (size_t i = 1; i < n; ++i)
    if (((uint8_t)p[i] & 0xC0) != 0x80) return 1;
  return n;
}

bool wildcardMatch(const char* pattern, size_t patternLength, const char* name, size_t nameLength,
                   const MatchRules& rules) {
  const char* pend = pattern + patternLength;
  const char* nend = name + nameLength;
  if (rules.starCrossesSeparator) return matchCharacters(pattern, pend, name, nend, rules);
  return matchComponents(pattern, pend, name, nend, rules);
}
