// The names and patterns that list, test and extract take after the
// archive: which entries they select, and which of them selected nothing.
//
// A pattern is matched against each entry's name as stored (code page 932,
// "\" between folders; a folder without its final "\."). "/" and "\" both
// separate folders in what is typed, "*" runs across them (as unzip does),
// "?" and "[...]" take one character other than a separator. An entry is
// selected when a pattern matches its whole name or the name of a folder
// above it, so a folder's name selects everything below it. Letter case
// counts.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

struct SelectPattern {
  std::string typed;  // as given, for messages
  std::string cp932;  // code page 932, "\" separators, no "./" or "/" at either end
  uint32_t matched;   // entries selected by it so far
};

struct Selection {
  std::vector<SelectPattern> patterns;  // none: every entry is selected
};

// Adds what was typed (terminal encoding). False, with why, for a pattern
// that can select nothing (empty, or only separators and ".").
bool addSelectPattern(Selection* s, const char* typed, std::string* why);
// Adds every name; on one that can select nothing, reports it and returns false.
bool selectByNames(Selection* s, const std::vector<const char*>& names);
// True when nothing narrows the selection.
bool selectsEverything(const Selection* s);
// Whether the entry is selected; counts a match for every pattern that
// takes it. `isFolder`: the stored name ends with "\." (left out here).
bool entrySelected(Selection* s, const char* name, uint32_t length, bool isFolder);
// Reports each pattern that selected nothing in `archiveShown` (an error
// line on stderr each) and returns how many there were.
uint32_t reportUnmatched(const Selection* s, const std::string& archiveShown);
// Forgets the counts (before the next archive).
void resetSelectionCounts(Selection* s);

// The whole-name test of one pattern (code page 932, as addSelectPattern
// keeps it) against one stored name, with the folder rule above.
bool patternSelects(const std::string& cp932Pattern, const char* name, uint32_t length);
