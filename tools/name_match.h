// Wildcard patterns over names and paths: "*", "?", "[...]" and "**".
// Plain procedures over counted byte strings that call nothing of the
// system, so every build of the tool shares them.
//
//   ?        one character, never a separator
//   [abc]    one of the characters listed; [a-z] a range, [!a-z] or [^a-z]
//            any character outside it; "]" first in the list is itself.
//            Never a separator. A "[" without its "]" is a plain "[".
//   *        any run of characters; it takes separators too only when the
//            rules say so (starCrossesSeparator)
//   **       as a whole component between separators: any number of
//            components, none included; elsewhere the same as "*"
//
// Characters are whole characters of the encoding (a double-byte character
// of code page 932 is one character, and its second byte is never taken
// for a separator). Letter case counts.
#pragma once
#include <stddef.h>
#include <stdint.h>

enum NameEncoding : uint8_t { EncodingCp932, EncodingUtf8 };

struct MatchRules {
  NameEncoding encoding;
  char separator;             // '\\' for stored names, '/' for host paths
  bool starCrossesSeparator;  // "*" takes separators as well
  bool backslashEscapes;      // "\" takes the next character as itself
};

// True when the whole `name` matches the whole `pattern`. The name has no
// empty components; the pattern's separators are the rules' separator.
bool wildcardMatch(const char* pattern, size_t patternLength, const char* name, size_t nameLength,
                   const MatchRules& rules);

// Length of the character that starts at `p` (1 to 4 bytes, never past `end`).
size_t characterLength(const char* p, const char* end, NameEncoding encoding);
