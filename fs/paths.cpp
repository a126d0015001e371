#include "fs/paths.h"
#include "platform/platform.h"

void withTrailingBackslash(const char* path, ByteString* out) {
  bsClear(out);
  const char* last = 0;
  for (const char* p = path; *p; p = pfCharNext(p)) last = p;
  uint32_t n = textLength(path);
  if (last && pfCharNext(last) == last + 1) {
    // A lead byte at the very end (half of a character) would take the
    // appended backslash as its second byte, and the folder's name would run
    // on into every name put behind it: it is left out.
    const char probe[3] = {*last, '\\', 0};
    if (pfCharNext(probe) == probe + 2) n = (uint32_t)(last - path);
  }
  if (n == 0) {
    bsAppendText(out, ".\\");
    return;
  }
  bsAppend(out, path, n);
  const char* lastKept = path;
  for (const char* p = path; p < path + n; p = pfCharNext(p)) lastKept = p;
  if (*lastKept != '\\') bsAppendByte(out, '\\');
}

FolderState folderState(const char* folderPath) {
  uint32_t n = textLength(folderPath);
  char c = folderPath[0];
  if (n == 3 && folderPath[1] == ':' && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return FolderExists;
  if (n == 0) return FolderMissing;
  ByteString probe = {};
  bsAssign(&probe, folderPath, n - 1);
  uint32_t attributes = pfProbe(bsText(&probe));
  bsRelease(&probe);
  if (attributes == kProbeNothing) return FolderMissing;
  return (attributes & kAttrDirectory) ? FolderExists : FolderIsFile;
}

void folderPartOf(const char* path, ByteString* out) {
  const char* lastSeparator = 0;
  for (const char* p = path; *p; p = pfCharNext(p))
    if (*p == '\\') lastSeparator = p;
  bsClear(out);
  if (lastSeparator) bsAssign(out, path, (uint32_t)(lastSeparator - path + 1));
}

// A component made only of dots and spaces, other than a single dot, is
// refused: Windows drops a component's trailing dots and spaces, so ".. "
// or "..." could come to mean "..". No name made on Windows has one.
static bool onlyDotsAndSpaces(const char* from, const char* to) {
  if (to - from == 1 && *from == '.') return false;
  for (const char* p = from; p < to; ++p)
    if (*p != '.' && *p != ' ') return false;
  return to > from;
}

bool entryNameIsSafe(const char* name) {
  if (name[0] == '\\' || name[0] == '/') return false;
  const char* component = name;  // where the current component begins
  for (const char* p = name;; p = pfCharNext(p)) {
    const char c = *p;
    if (c == ':' || c == '*' || c == '?') return false;
    if (c == '\\' || c == '/' || c == 0) {
      if (onlyDotsAndSpaces(component, p)) return false;
      if (c == 0) return true;
      component = p + 1;
    }
  }
}
