#include "fs/paths.h"
#include "platform/platform.h"

void withTrailingBackslash(const char* path, ByteString* out) {
  bsClear(out);
  if (!path[0]) {
    bsAppendText(out, ".\\");
    return;
  }
  const char* last = path;
  for (const char* p = path; *p; p = pfCharNext(p)) last = p;
  bsAppendText(out, path);
  if (*last != '\\') bsAppendByte(out, '\\');
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

bool entryNameIsSafe(const char* name) {
  if (name[0] == '\\' || name[0] == '/') return false;
  const char* component = name;  // where the current component begins
  for (const char* p = name;; p = pfCharNext(p)) {
    const char c = *p;
    if (c == ':' || c == '*' || c == '?') return false;
    if (c == '\\' || c == '/' || c == 0) {
      if (p - component == 2 && component[0] == '.' && component[1] == '.') return false;
      if (c == 0) return true;
      component = p + 1;
    }
  }
}
