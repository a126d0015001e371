// What `vellicor pack` stores: the folders and files below the given roots,
// their names in code page 932 and their times, in archive order.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "encode/pack_run.h"  // PackInput
#include "tools/pack_select.h"

// UTF-8 -> code page 932 (iconv); false when some character has no form there.
bool utf8ToCp932(const std::string& utf8, std::string* out);
// Text for a terminal from code page 932 (invalid bytes as \xHH).
std::string cp932ForDisplay(const std::string& cp932);
// Why a name component (code page 932) cannot be a Windows file name
// ("it ...") or "" when it can: characters Windows refuses, a trailing dot or space (Windows
// drops them, and "name\." would read as a folder entry), device names.
std::string windowsNameProblem(const std::string& component);
// FILETIME (100 ns since 1601-01-01 UTC) of a POSIX time.
uint64_t fileTimeOf(int64_t seconds, uint32_t nanoseconds);
// Comment text for the stub's edit box: UTF-8 (a leading byte-order mark
// dropped) to code page 932, every lone LF as CR LF. False with a reason.
bool commentToCp932(const std::string& utf8, std::string* out, std::string* error);

struct CollectResult {
  std::vector<PackInput> items;
  std::vector<std::string> warnings;
  std::string error;  // not empty: refused
};

// Walks the roots in the order given: a folder stores its own name as the
// top folder entry and everything below it, a file its base name. Within a
// folder, entries are sorted by their code page 932 bytes, and each folder
// comes before its contents. Symbolic links are followed (a link back to an
// enclosing folder is refused). `skipDev`/`skipIno` name a file that is left
// out with a warning (the output, when it lies inside an input folder); given
// as an input itself, it is refused.
// With a `selection`, what its exclusions match below each root is left out
// (see pack_select.h), and after the roots come its listed paths, each
// stored under its path as written and a listed folder without its contents.
void collectInputs(const std::vector<std::string>& roots, uint64_t skipDev, uint64_t skipIno, CollectResult* r,
                   const PackSelection* selection = 0);
