#include "fs/folders.h"
#include "common/app_state.h"
#include "common/texts.h"
#include "platform/platform.h"

enum FolderResult : uint8_t { FolderFailed, FolderFound, FolderMadeNow };

// Probes one prefix and makes it when nothing is there. Fails when it could
// not be made or a file stands in its place. When making it fails, a second
// probe decides: a folder that is there now (made meanwhile by someone else,
// or missed by a probe that failed) is as good as one made here.
static FolderResult makeFolder(const char* prefix) {
  uint32_t attributes = pfProbe(prefix);
  if (attributes == kProbeNothing) {
    if (pfCreateDirectory(prefix)) return FolderMadeNow;
    attributes = pfProbe(prefix);
    if (attributes == kProbeNothing) return FolderFailed;
    return (attributes & kAttrDirectory) ? FolderMadeNow : FolderFailed;
  }
  return (attributes & kAttrDirectory) ? FolderFound : FolderFailed;
}

struct Walk {
  uint32_t trusted;  // prefixes that end before this byte are there without a look
  uint32_t standAt;  // reaching the prefix that ends at this byte with nothing made stops the walk there
  bool tookMemory;   // a prefix was taken as there
  bool made;         // a prefix was missing and is there now
};

static const uint32_t kNoStop = 0xFFFFFFFFu;
static const uint32_t kWalkDone = 0xFFFFFFFFu;

// The walk over the prefixes of `path` in order of length. Returns the
// length of the prefix at which it stopped, or kWalkDone.
static uint32_t walkFolders(const char* path, Walk* w) {
  ByteString prefix = {};
  uint32_t stopped = kWalkDone;
  const char* previous = 0;
  for (const char* p = path;; p = pfCharNext(p)) {
    // A path whose last name has no backslash behind it (its last byte 0x5C
    // being only the second byte of a character) makes that name too, and
    // the walk ends at the end of the path.
    const bool atEnd = *p == 0;
    if (atEnd && (!previous || *previous == '\\')) break;
    if (atEnd || *p == '\\') {
      if (previous && *previous != ':') {
        const uint32_t end = (uint32_t)(p - path);
        if (end < w->trusted) {
          w->tookMemory = true;
        } else if (end == w->standAt && !w->made) {
          stopped = end;
          break;
        } else {
          bsAssign(&prefix, path, end);
          const FolderResult r = makeFolder(bsText(&prefix));
          if (r == FolderFailed) {
            stopped = end;
            break;
          }
          if (r == FolderMadeNow) w->made = true;
        }
      }
      if (atEnd) break;
    }
    previous = p;
  }
  bsRelease(&prefix);
  return stopped;
}

// How many leading bytes `path` shares with the remembered folder path.
// Every backslash that begins a character before that point is also one in
// the remembered path (the bytes before it, and so the character steps up
// to it, are the same), where the walk passed it.
static uint32_t sharedLength(const char* path) {
  const char* known = bsText(&app.walkedFolder);
  uint32_t n = 0;
  while (path[n] && path[n] == known[n]) ++n;
  return n;
}

bool createFolderPath(const char* path, ByteString* failed) {
  bsClear(failed);
  Walk w = {sharedLength(path), kNoStop, false, false};
  uint32_t stopped = walkFolders(path, &w);
  app.walkTrusted = w.tookMemory;
  if (stopped != kWalkDone && w.tookMemory) {
    // Something below remembered folders could not be made: one of them may
    // have gone. The walk without memory decides; where it finds every
    // folder before the failed one there, it stops at that one unprobed.
    Walk again = {0, stopped, false, false};
    stopped = walkFolders(path, &again);
    app.walkTrusted = false;
  }
  if (stopped != kWalkDone) {
    bsAssign(failed, path, stopped);
    bsClear(&app.walkedFolder);
    return false;
  }
  const uint32_t length = textLength(path);
  if (w.trusted != length || app.walkedFolder.length != length) bsAssign(&app.walkedFolder, path, length);
  return true;
}

bool remakeFolderPath(const char* path, ByteString* failed) {
  bsClear(failed);
  if (!app.walkTrusted) return false;
  app.walkTrusted = false;
  Walk w = {0, kNoStop, false, false};
  const uint32_t stopped = walkFolders(path, &w);
  if (stopped == kWalkDone) return w.made;
  bsAssign(failed, path, stopped);
  bsClear(&app.walkedFolder);
  return false;
}

void forgetFolders() {
  bsClear(&app.walkedFolder);
  app.walkTrusted = false;
}

void failFolder(const char* folder) {
  ByteString text = {};
  bsAppendText(&text, kTextFolderFailed);
  bsAppendText(&text, folder);
  pfMessageBox(MsgFolderFailed, bsText(&text), folder, kMbOk | kMbIconError, true);
  close(&app.archiveFile);
  pfExitProcess(0);
}
