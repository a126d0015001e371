#include "tools/cli_select.h"

#include "tools/cli_text.h"
#include "tools/cli_ui.h"
#include "tools/name_match.h"

static const MatchRules kEntryRules = {EncodingCp932, '\\', true, false};

// Splits code page 932 text at its separator characters ("\" and "/" that
// are characters of their own, never the second byte of a double-byte one).
static std::vector<std::string> components(const std::string& cp932) {
  std::vector<std::string> parts(1);
  const char* end = cp932.data() + cp932.size();
  for (const char* p = cp932.data(); p < end;) {
    const size_t n = characterLength(p, end, EncodingCp932);
    if (n == 1 && (*p == '\\' || *p == '/')) parts.emplace_back();
    else parts.back().append(p, n);
    p += n;
  }
  return parts;
}

bool addSelectPattern(Selection* s, const char* typed, std::string* why) {
  std::string joined;
  for (const std::string& part : components(typedToCp932(typed))) {
    if (part.empty() || part == ".") continue;  // "docs//a", "./docs", "docs/"
    if (!joined.empty()) joined += '\\';
    joined += part;
  }
  if (joined.empty()) {
    *why = tr("the name \"", "名前「") + std::string(typed) +
           tr("\" names no entry (give an entry's name or a pattern)",
              "」はエントリを指していません（エントリの名前かパターンを指定してください）");
    return false;
  }
  s->patterns.push_back(SelectPattern{typed, joined, 0});
  return true;
}

bool selectByNames(Selection* s, const std::vector<const char*>& names) {
  for (const char* name : names) {
    std::string why;
    if (addSelectPattern(s, name, &why)) continue;
    cliError(why + tr(".", "。"));
    return false;
  }
  return true;
}

bool selectsEverything(const Selection* s) { return s->patterns.empty(); }

bool patternSelects(const std::string& pattern, const char* name, uint32_t length) {
  const char* end = name + length;
  // The whole name, then the name of each folder above it.
  if (wildcardMatch(pattern.data(), pattern.size(), name, length, kEntryRules)) return true;
  for (const char* p = name; p < end;) {
    const size_t n = characterLength(p, end, EncodingCp932);
    if (n == 1 && *p == '\\' && wildcardMatch(pattern.data(), pattern.size(), name, (size_t)(p - name), kEntryRules))
      return true;
    p += n;
  }
  return false;
}

bool entrySelected(Selection* s, const char* name, uint32_t length, bool isFolder) {
  if (s->patterns.empty()) return true;
  if (isFolder) length = length >= 2 ? length - 2 : 0;  // "docs\." is the folder "docs"
  if (length == 0) return false;                       // the target folder itself
  bool selected = false;
  for (SelectPattern& p : s->patterns) {
    if (!patternSelects(p.cp932, name, length)) continue;
    ++p.matched;
    selected = true;
  }
  return selected;
}

uint32_t reportUnmatched(const Selection* s, const std::string& archiveShown) {
  uint32_t count = 0;
  for (const SelectPattern& p : s->patterns) {
    if (p.matched) continue;
    ++count;
    cliError(cliJapanese() ? "「" + archiveShown + "」には「" + p.typed + "」に当たるエントリがありません。"
                           : "no entry of \"" + archiveShown + "\" matches \"" + p.typed + "\".");
  }
  return count;
}

void resetSelectionCounts(Selection* s) {
  for (SelectPattern& p : s->patterns) p.matched = 0;
}
