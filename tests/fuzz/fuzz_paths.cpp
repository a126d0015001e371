// The path rules: the folder path of the folder box, the folder part of a
// file path, and the rule that keeps entry names inside the target folder.
// A name the rule lets through must stay below the target both as POSIX
// reads the host form of the path and as Windows reads the path (where a
// component loses its trailing dots and spaces); such names are then made
// for real below the scratch folder, folders first as extraction does.
#include <string.h>
#include <unistd.h>

#include "fs/folders.h"
#include "fs/paths.h"
#include "fuzz_core_ui.h"
#include "fuzz_support.h"
#include "platform/host/fault_layer.h"
#include "platform/host/host_files.h"
#include "platform/platform.h"

// A component that leads out of its folder: ".." for POSIX; for Windows,
// which drops a component's trailing dots and spaces, any component of two
// or more characters made only of those.
static bool leadsOut(const std::string& c, bool windows) {
  if (!windows) return c == "..";
  size_t end = c.size();
  while (end && (c[end - 1] == '.' || c[end - 1] == ' ')) --end;
  return end == 0 && c.size() >= 2;
}

// Splits at separators ("/", and for Windows a "\" where a character
// begins) and returns false when a component leads out.
static bool staysInside(const std::string& path, bool windows) {
  std::string component;
  for (const char* p = path.c_str();; ) {
    const char* next = *p == 0 ? p : windows ? pfCharNext(p) : p + 1;
    if (*p == 0 || *p == '/' || (windows && next - p == 1 && *p == '\\')) {
      if (leadsOut(component, windows)) return false;
      component.clear();
      if (*p == 0) return true;
    } else {
      component.append(p, next - p);
    }
    p = next;
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const uint8_t mode = in.byte();
  Bytes raw = in.rest();
  std::string name(raw.begin(), raw.end());
  name = name.substr(0, name.find('\0'));
  beginRunInProcess();

  ByteString out = {};
  withTrailingBackslash(name.c_str(), &out);
  const char* last = bsText(&out);
  for (const char* p = bsText(&out); *p; p = pfCharNext(p)) last = p;
  FUZZ_CHECK(*last == '\\');
  // The name itself (or without half a character at its end), then a
  // backslash unless it ends with one; ".\" for nothing.
  const std::string r(bsText(&out), out.length);
  bool asExpected = false;
  for (size_t keep : {name.size(), name.empty() ? (size_t)0 : name.size() - 1}) {
    const std::string base = name.substr(0, keep);
    asExpected = asExpected || (keep == 0 ? r == ".\\" : r == base || r == base + "\\");
  }
  FUZZ_CHECK(asExpected);

  folderPartOf(name.c_str(), &out);
  FUZZ_CHECK(strncmp(bsText(&out), name.c_str(), out.length) == 0);
  if (out.length) {
    // It ends at a separator that begins a character, and none follows.
    const char* cut = name.c_str() + out.length - 1;
    bool atCharacter = false, laterSeparator = false;
    for (const char* p = name.c_str(); *p; p = pfCharNext(p)) {
      if (p == cut) atCharacter = true;
      else if (p > cut && *p == '\\') laterSeparator = true;
    }
    FUZZ_CHECK(atCharacter && *cut == '\\' && !laterSeparator);
  }

  if (entryNameIsSafe(name.c_str())) {
    const std::string full = ".\\" + name;
    FUZZ_CHECK(staysInside(full, true));
    std::string host;
    if (hostPath(full.c_str(), &host)) {
      FUZZ_CHECK(host[0] != '/' && staysInside(host, false));
      if (mode & 1) {
        // Made for real, below the scratch folder: the folders of the path,
        // then the file.
        if (chdir(scratchFolder().c_str()) != 0) fuzzFail("chdir");
        fuzzUi = FuzzCoreUi{};
        folderPartOf(full.c_str(), &out);
        ByteString failed = {};
        if (createFolderPath(bsText(&out), &failed)) {
          const FileHandle h = pfOpenFile(full.c_str(), true);
          if (h != kNoFile) pfCloseFile(h);
          FUZZ_CHECK(folderState(bsText(&out)) == FolderExists);
        }
        bsRelease(&failed);
        emptyFolder(scratchFolder());
      }
    }
  }
  bsRelease(&out);
  endRunInProcess();
  return 0;
}
