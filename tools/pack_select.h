// What `vellicor pack` leaves out (--exclude) and the paths it takes from a
// list (--files-from).
//
// An exclusion pattern is matched against the path below each input folder
// ("docs/a.txt" for site/docs/a.txt when site is the input) and against
// each path of a list as written, "/" between folders:
//   *, ?, [...]  within one name ("*" never takes a "/")
//   **           as a whole name: any number of folders, none included
//   \            takes the next character as itself
// A pattern without "/" matches a name at any depth (".git", "*.o"); one
// with "/" inside or at its start is anchored where the path begins
// ("docs/*.tmp", "/build"); a "/" at its end matches folders only. A folder
// that is left out is left out with everything below it, unread.
#pragma once
#include <string>
#include <vector>

struct ExcludePattern {
  std::string typed;    // as given, for messages
  std::string pattern;  // "**/" put before a pattern without "/", the "/" at either end taken off
  bool foldersOnly;
};

struct PackSelection {
  std::vector<ExcludePattern> excludes;
  std::vector<std::string> listed;  // the paths of the --files-from lists, in their order
};

// False, with why, for a pattern that can match nothing.
bool addExcludePattern(PackSelection* s, const std::string& typed, std::string* why);

// True when `path` (below an input, or as listed) is excluded. `hostPath`
// is where it lies; it is looked at only when a pattern for folders alone
// matches, to tell whether it is a folder.
bool pathExcluded(const PackSelection* s, const std::string& path, const std::string& hostPath);

// Reads a list of paths from `file` ("-": standard input): one a line
// (a final CR of a line is dropped), or separated by NUL bytes with
// `nulSeparated`. Blank entries (nothing but spaces, tabs, CR or LF) are
// skipped. False with why when the file cannot be read, or when a list of
// lines holds a NUL byte (it needs --null).
bool readPathList(const std::string& file, bool nulSeparated, std::vector<std::string>* paths, std::string* why);

// A listed path as stored: "./" and doubled or final "/" taken off. False
// with why for a path that cannot be stored under its own name (absolute,
// or with a ".." in it); an empty result (".") names nothing to store.
bool listedPathName(const std::string& path, std::string* name, std::string* why);
