#include "tools/pack_select.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "tools/name_match.h"
#include "tools/system.h"

static const MatchRules kHostRules = {EncodingUtf8, '/', false, true};

// The names between "/", empty ones and "." left out.
static std::vector<std::string> pathParts(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '/') continue;
    const std::string part = path.substr(start, i - start);
    if (!part.empty() && part != ".") parts.push_back(part);
    start = i + 1;
  }
  return parts;
}

static std::string joined(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& p : parts) out += (out.empty() ? "" : "/") + p;
  return out;
}

bool addExcludePattern(PackSelection* s, const std::string& typed, std::string* why) {
  ExcludePattern p;
  p.typed = typed;
  p.foldersOnly = !typed.empty() && typed.back() == '/';
  const bool anchored = !typed.empty() && typed[0] == '/';
  const std::vector<std::string> parts = pathParts(typed);
  if (parts.empty()) {
    *why = "the pattern '" + typed + "' of --exclude names nothing";
    return false;
  }
  p.pattern = joined(parts);
  if (!anchored && parts.size() == 1) p.pattern = "**/" + p.pattern;
  s->excludes.push_back(p);
  return true;
}

bool pathExcluded(const PackSelection* s, const std::string& path, const std::string& hostPath) {
  for (const ExcludePattern& p : s->excludes) {
    if (!wildcardMatch(p.pattern.data(), p.pattern.size(), path.data(), path.size(), kHostRules)) continue;
    if (!p.foldersOnly) return true;
    SysFileInfo info;
    if (sysFileInfo(hostPath, &info) && info.folder) return true;
  }
  return false;
}

static bool blank(const std::string& entry) { return entry.find_first_not_of(" \t\r\n") == std::string::npos; }

bool readPathList(const std::string& file, bool nulSeparated, std::vector<std::string>* paths, std::string* why) {
  const bool standardInput = file == "-";
  const std::string shown = standardInput ? std::string("standard input") : file;
  std::string text;
  if (standardInput) {
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, stdin)) > 0) text.append(buffer, n);
    if (ferror(stdin)) {
      *why = "cannot read the list " + shown + ": " + strerror(errno);
      return false;
    }
  } else if (!sysReadWholeFile(file, &text)) {
    *why = "cannot read the list " + shown + ": " + sysErrorText(sysLastError());
    return false;
  }
  if (!nulSeparated && text.find('\0') != std::string::npos) {
    *why = "the list " + shown + " holds NUL bytes; for a list separated by them (find -print0) add --null";
    return false;
  }
  const char separator = nulSeparated ? '\0' : '\n';
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    std::string entry = text.substr(start, end - start);
    if (!nulSeparated && !entry.empty() && entry.back() == '\r') entry.pop_back();
    if (!blank(entry)) paths->push_back(entry);
    start = end + 1;
  }
  return true;
}

bool listedPathName(const std::string& path, std::string* name, std::string* why) {
  if (path[0] == '/') {
    *why = "the listed path " + path + " is absolute; a list names paths below the current folder, stored as written";
    return false;
  }
  const std::vector<std::string> parts = pathParts(path);
  for (const std::string& part : parts) {
    if (part != "..") continue;
    *why = "the listed path " + path + " goes up with \"..\"; a list names paths below the current folder, stored as written";
    return false;
  }
  *name = joined(parts);
  return true;
}
