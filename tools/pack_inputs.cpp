#include "tools/pack_inputs.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <set>

#include "tools/pack_system.h"
#include "tools/system.h"

bool utf8ToCp932(const std::string& utf8, std::string* out) {
  return sysConvertText(TextUtf8, TextCp932, utf8.data(), utf8.size(), out);
}

static size_t cp932CharLength(const std::string& s, size_t i) {
  const uint8_t c = (uint8_t)s[i];
  const bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
  return lead && i + 1 < s.size() ? 2 : 1;
}

// One name (no folders) in code page 932. Its form must hold no "\": that
// is the folder separator of the stored names, and it would turn one name
// into a folder and a file. A host name may hold a backslash, and the
// conversion writes the yen sign as one (code page 932 keeps ¥ at 0x5C).
static bool nameToCp932(const std::string& utf8, std::string* cp932, std::string* problem) {
  if (!utf8ToCp932(utf8, cp932)) {
    *problem = "has no code page 932 form";
    return false;
  }
  for (size_t i = 0; i < cp932->size(); i += cp932CharLength(*cp932, i)) {
    if ((*cp932)[i] != '\\') continue;
    *problem = utf8.find('\\') != std::string::npos
                   ? "cannot be a file name on Windows: it contains the character \\"
                   : "cannot be a file name on Windows: code page 932 writes a character of it (such as \xC2\xA5) "
                     "as \\, the folder separator";
    return false;
  }
  return true;
}

std::string cp932ForDisplay(const std::string& cp932) {
  std::string out;
  for (size_t i = 0; i < cp932.size();) {
    const size_t n = cp932CharLength(cp932, i);
    std::string one;
    if ((uint8_t)cp932[i] >= 0x20 && sysConvertText(TextCp932, TextUtf8, cp932.data() + i, n, &one)) {
      out += one;
    } else {
      static const char* hex = "0123456789abcdef";
      for (size_t k = 0; k < n; ++k) {
        out += "\\x";
        out += hex[(uint8_t)cp932[i + k] >> 4];
        out += hex[(uint8_t)cp932[i + k] & 15];
      }
    }
    i += n;
  }
  return out;
}

std::string windowsNameProblem(const std::string& component) {
  if (component.empty()) return "it is empty";
  for (size_t i = 0; i < component.size();) {
    const size_t n = cp932CharLength(component, i);
    if (n == 1) {
      const uint8_t c = (uint8_t)component[i];
      if (c < 0x20) return "it contains a control character";
      if (strchr("<>:\"/\\|?*", c)) return std::string("it contains the character ") + (char)c;
    }
    i += n;
  }
  // Trail bytes start at 0x40, so a final '.' or ' ' is always a character.
  const char last = component.back();
  if (last == '.' || last == ' ') return "it ends with a dot or a space";
  std::string stem = component.substr(0, component.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (auto& c : stem) c = (char)toupper((unsigned char)c);
  static const char* devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* d : devices)
    if (stem == d) return "it is a device name";
  if (stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) && stem[3] >= '0' &&
      stem[3] <= '9')
    return "it is a device name";
  return "";
}

uint64_t fileTimeOf(int64_t seconds, uint32_t nanoseconds) {
  const int64_t since1601 = seconds + 11644473600ll;
  if (since1601 < 0) return 0;
  return (uint64_t)since1601 * 10000000ull + nanoseconds / 100;
}

bool commentToCp932(const std::string& utf8, std::string* out, std::string* error) {
  std::string text = utf8;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  if (text.find('\0') != std::string::npos) {
    *error = "the comment contains a NUL byte";
    return false;
  }
  std::string cp932;
  if (!utf8ToCp932(text, &cp932)) {
    // Name the first line that does not convert.
    size_t line = 1, start = 0;
    for (;;) {
      size_t end = text.find('\n', start);
      std::string piece, ignored;
      piece = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
      if (!utf8ToCp932(piece, &ignored)) break;
      if (end == std::string::npos) break;
      start = end + 1;
      ++line;
    }
    *error = "line " + std::to_string(line) + " of the comment is not UTF-8 text with a code page 932 form";
    return false;
  }
  out->clear();
  for (size_t i = 0; i < cp932.size(); ++i) {
    if (cp932[i] == '\n' && (i == 0 || cp932[i - 1] != '\r')) out->push_back('\r');
    out->push_back(cp932[i]);
  }
  return true;
}

// ---- the walk ----

namespace {

struct Walk {
  CollectResult* r;
  uint64_t skipDev, skipIno;
  std::vector<std::pair<uint64_t, uint64_t>> enclosing;  // folders on the current path
  const PackSelection* selection;  // exclusions, or null
  size_t belowFrom;                // where the path below the current root begins
  bool recurse;                    // a folder brings its contents (not a listed one)
  uint64_t excluded;               // entries left out by exclusions so far
};

// ASCII letters in upper case, double-byte characters unchanged.
std::string foldCase(const std::string& cp932) {
  std::string out = cp932;
  for (size_t i = 0; i < out.size();) {
    const size_t n = cp932CharLength(out, i);
    if (n == 1) out[i] = (char)toupper((unsigned char)out[i]);
    i += n;
  }
  return out;
}

bool fail(Walk* w, const std::string& message) {
  if (w->r->error.empty()) w->r->error = message;
  return false;
}

std::string errorText() { return sysErrorText(sysLastError()); }

bool addPath(Walk* w, const std::string& path, const std::string& name, const std::string& shown);

bool addFolderContents(Walk* w, const std::string& path, const std::string& name, const std::string& shown) {
  std::vector<std::string> names;
  uint32_t listError = 0;
  if (!packListFolder(path, &names, &listError))
    return fail(w, "cannot read the folder " + shown + ": " + sysErrorText(listError));
  struct Child {
    std::string host, cp932;
  };
  std::vector<Child> children;
  for (const std::string& name : names) {
    const std::string childPath = path + "/" + name;
    if (w->selection && pathExcluded(w->selection, childPath.substr(w->belowFrom), childPath)) {
      ++w->excluded;
      continue;
    }
    Child c;
    c.host = name;
    std::string problem;
    if (!nameToCp932(c.host, &c.cp932, &problem)) return fail(w, "the name of " + shown + "/" + c.host + " " + problem);
    children.push_back(c);
  }
  std::sort(children.begin(), children.end(), [](const Child& a, const Child& b) { return a.cp932 < b.cp932; });
  // Names that differ only in letter case are one name on Windows.
  std::vector<std::pair<std::string, size_t>> folded;
  for (size_t i = 0; i < children.size(); ++i) folded.push_back({foldCase(children[i].cp932), i});
  std::sort(folded.begin(), folded.end());
  for (size_t i = 1; i < folded.size(); ++i) {
    if (folded[i].first != folded[i - 1].first) continue;
    w->r->warnings.push_back(shown + "/" + children[folded[i - 1].second].host + " and " +
                             children[folded[i].second].host +
                             " are the same name on Windows; extracting asks before one replaces the other");
  }
  for (const Child& c : children)
    if (!addPath(w, path + "/" + c.host, name + "\\" + c.cp932, shown + "/" + c.host)) return false;
  return true;
}

bool addPath(Walk* w, const std::string& path, const std::string& name, const std::string& shown) {
  SysFileInfo st;
  if (!sysFileInfo(path, &st)) return fail(w, "cannot read " + shown + ": " + errorText());
  if (st.volume == w->skipDev && st.index == w->skipIno) {
    // Given by name, the output would be replaced by an archive of nothing.
    if (w->enclosing.empty()) return fail(w, shown + " is the output file; it cannot be packed into itself");
    w->r->warnings.push_back("left out " + shown + ": it is the output file");
    return true;
  }
  PackInput in;
  in.hostPath = path;
  in.name = name;
  in.size = 0;
  in.times = {};
  if (st.folder) {
    for (auto& e : w->enclosing)
      if (e.first == st.volume && e.second == st.index)
        return fail(w, shown + " leads back into an enclosing folder (a symbolic link loop)");
    in.folder = true;
    w->r->items.push_back(in);
    w->enclosing.push_back({st.volume, st.index});
    const bool ok = !w->recurse || addFolderContents(w, path, name, shown);
    w->enclosing.pop_back();
    return ok;
  }
  if (!st.regular) return fail(w, shown + " is neither a regular file nor a folder");
  if (st.size > kLargestStoredFile)
    return fail(w, shown + " has " + std::to_string(st.size) +
                       " bytes; a stored file must be smaller than 2,147,483,648 bytes");
  if (!sysCanRead(path)) return fail(w, "cannot read " + shown + ": " + errorText());
  in.folder = false;
  in.size = st.size;
  in.times.creation = st.creation;
  in.times.lastAccess = st.lastAccess;
  in.times.lastWrite = st.lastWrite;
  w->r->items.push_back(in);
  return true;
}

}  // namespace

// Checks every component of the names below a root (their conversion was
// checked while walking).
static bool checkNames(CollectResult* r, size_t from) {
  for (size_t i = from; i < r->items.size(); ++i) {
    const std::string& name = r->items[i].name;
    size_t start = 0;
    for (size_t k = 0; k <= name.size();) {
      const bool atEnd = k == name.size();
      if (atEnd || name[k] == '\\') {
        const std::string component = name.substr(start, k - start);
        const std::string problem = windowsNameProblem(component);
        if (!problem.empty()) {
          r->error = r->items[i].hostPath + ": the name " + cp932ForDisplay(component) +
                     " cannot be a file name on Windows: " + problem;
          return false;
        }
        if (atEnd) break;
        start = ++k;
        continue;
      }
      k += cp932CharLength(name, k);
    }
  }
  return true;
}

// The paths of the lists, each stored under its path as written; one that
// an exclusion matches (or a folder above it) is left out.
static bool addListed(Walk* w, CollectResult* r) {
  w->recurse = false;
  for (const std::string& path : w->selection->listed) {
    std::string relative, why;
    if (!listedPathName(path, &relative, &why)) return fail(w, why);
    if (relative.empty()) continue;  // "." (find . lists it first): the folder that holds them all
    bool excluded = false;
    for (size_t at = relative.find('/'); !excluded && at != std::string::npos; at = relative.find('/', at + 1))
      excluded = pathExcluded(w->selection, relative.substr(0, at), relative.substr(0, at));
    if (excluded || pathExcluded(w->selection, relative, relative)) {
      ++w->excluded;
      continue;
    }
    std::string cp932;
    for (size_t start = 0; start <= relative.size();) {
      size_t end = relative.find('/', start);
      if (end == std::string::npos) end = relative.size();
      std::string part, problem;
      if (!nameToCp932(relative.substr(start, end - start), &part, &problem))
        return fail(w, "the name of " + path + " " + problem);
      cp932 += (start ? "\\" : "") + part;
      start = end + 1;
    }
    const size_t from = r->items.size();
    if (!addPath(w, relative, cp932, path) || !checkNames(r, from)) return false;
  }
  // A listed path may also come with an input folder or twice in a list:
  // a folder is stored once, a file twice is refused.
  std::set<std::string> names;
  std::vector<PackInput> once;
  for (PackInput& in : r->items) {
    if (names.insert(in.name).second) once.push_back(std::move(in));
    else if (!in.folder) {
      std::string shown = cp932ForDisplay(in.name);
      std::replace(shown.begin(), shown.end(), '\\', '/');
      return fail(w, "the file " + shown + " would be stored twice (named by an input and a list, or twice in a list)");
    }
  }
  r->items.swap(once);
  return true;
}

void collectInputs(const std::vector<std::string>& roots, uint64_t skipDev, uint64_t skipIno, CollectResult* r,
                   const PackSelection* selection) {
  Walk w;
  w.r = r;
  w.skipDev = skipDev;
  w.skipIno = skipIno;
  w.selection = selection && !selection->excludes.empty() ? selection : 0;
  w.belowFrom = 0;
  w.recurse = true;
  w.excluded = 0;
  std::vector<std::pair<std::string, std::string>> topNames;  // folded name, the input that has it
  for (const std::string& root : roots) {
    const std::string base = sysStoredName(root);
    if (base.empty() || base == "/") {
      r->error = "cannot store " + root + " under a name of its own; give the folder's contents instead";
      return;
    }
    std::string cp932, problem;
    if (!nameToCp932(base, &cp932, &problem)) {
      r->error = "the name of " + root + " " + problem;
      return;
    }
    for (const auto& seen : topNames) {
      if (seen.first == foldCase(cp932)) {
        r->error = "two inputs would be stored under the same name " + base + ": " + seen.second + " and " + root;
        return;
      }
    }
    topNames.push_back({foldCase(cp932), root});
    const size_t from = r->items.size();
    std::string path = root;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    w.belowFrom = path.size() + 1;
    const uint64_t excludedBefore = w.excluded;
    if (!addPath(&w, path, cp932, root) || !checkNames(r, from)) {
      if (r->error.empty()) r->error = "cannot read " + root;
      return;
    }
    if (w.excluded > excludedBefore && r->items.size() == from + 1 && r->items[from].folder)
      r->warnings.push_back("everything below " + root + " was excluded; it is stored as an empty folder");
  }
  if (selection && !selection->listed.empty()) {
    w.selection = selection;
    if (!addListed(&w, r) && r->error.empty()) r->error = "cannot read a listed path";
  }
}
