#include "fs/folders.h"
#include "common/app_state.h"
#include "common/texts.h"
#include "platform/platform.h"

// Probes one prefix and makes it when nothing is there. False when it could
// not be made or a file stands in its place. When making it fails, a second
// probe decides: a folder that is there now (made meanwhile by someone else,
// or missed by a probe that failed) is as good as one made here.
static bool makeFolder(const char* prefix) {
  uint32_t attributes = pfProbe(prefix);
  if (attributes == kProbeNothing) {
    if (pfCreateDirectory(prefix)) return true;
    attributes = pfProbe(prefix);
    if (attributes == kProbeNothing) return false;
  }
  return (attributes & kAttrDirectory) != 0;
}

bool createFolderPath(const char* path, ByteString* failed) {
  bsClear(failed);
  ByteString prefix = {};
  bool ok = true;
  const char* previous = 0;
  for (const char* p = path;; p = pfCharNext(p)) {
    // A path whose last name has no backslash behind it (its last byte 0x5C
    // being only the second byte of a character) makes that name too, and
    // the walk ends at the end of the path.
    const bool atEnd = *p == 0;
    if (atEnd && (!previous || *previous == '\\')) break;
    if (atEnd || *p == '\\') {
      if (previous && *previous != ':') {
        bsAssign(&prefix, path, (uint32_t)(p - path));
        if (!makeFolder(bsText(&prefix))) {
          bsAssign(failed, bsText(&prefix), prefix.length);
          ok = false;
          break;
        }
      }
      if (atEnd) break;
    }
    previous = p;
  }
  bsRelease(&prefix);
  return ok;
}

void failFolder(const char* folder) {
  ByteString text = {};
  bsAppendText(&text, kTextFolderFailed);
  bsAppendText(&text, folder);
  pfMessageBox(MsgFolderFailed, bsText(&text), folder, kMbOk | kMbIconError, true);
  close(&app.archiveFile);
  pfExitProcess(0);
}
