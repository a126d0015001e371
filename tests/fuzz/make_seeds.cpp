// Writes the seed corpora of the fuzz targets: archives made by our creator
// (comments, passwords, many files that wrap the head ring, references to
// earlier heads, long matches, slides of the window), taken apart into the
// input form of each target.
//   make_seeds OUTDIR   -> OUTDIR/<target>/<seed>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "archive/driver.h"
#include "archive/header.h"
#include "common/app_state.h"
#include "decode/crc.h"
#include "encode/archive_writer.h"
#include "fuzz_support.h"

namespace {

std::string outDir;

void writeSeed(const std::string& target, const std::string& name, const Bytes& bytes) {
  const std::string dir = outDir + "/" + target;
  mkdir(dir.c_str(), 0777);
  std::ofstream(dir + "/" + name, std::ios::binary).write((const char*)bytes.data(), (std::streamsize)bytes.size());
}

struct Item {
  std::string name;  // code page 932, "\" separators
  bool folder;
  Bytes content;
};

// Text that looks like text: words from a small vocabulary.
Bytes words(size_t size, uint32_t seed) {
  static const char* const vocabulary[] = {"the ", "archive ", "stub ", "extracts ", "every ", "folder ", "and ",
                                           "file ", "with ", "its ", "times ", "\r\n", "block ", "check "};
  Bytes b;
  while (b.size() < size) {
    seed = seed * 1103515245u + 12345u;
    const char* w = vocabulary[(seed >> 16) % 14];
    b.insert(b.end(), w, w + strlen(w));
  }
  b.resize(size);
  return b;
}

Bytes noise(size_t size, uint32_t seed) {
  Bytes b(size);
  for (auto& c : b) c = (uint8_t)((seed = seed * 1103515245u + 12345u) >> 16);
  return b;
}

struct Archive {
  std::string label;
  std::string comment, launch;
  uint8_t flags = 0;
  std::string password;
  std::vector<Item> items;
};

Bytes pack(const Archive& a) {
  ArchiveSettings s;
  s.stub = fuzzStubImage();
  s.comment = a.comment;
  s.launchFile = a.launch;
  s.passwordFlags = a.flags;
  s.password = a.password;
  s.level = 2;
  ArchiveWriter* w = newArchiveWriter();
  char path[] = "/tmp/vellicor-seed-XXXXXX";
  const int fd = mkstemp(path);
  unlink(path);
  if (!beginArchive(w, fd, s)) fuzzFail("beginArchive");
  FileTimes t = {132000000000000000ull, 132100000000000000ull, 132200000000000000ull};
  for (const Item& it : a.items) {
    if (it.folder) {
      addFolderEntry(w, it.name);
      continue;
    }
    const uint32_t size = (uint32_t)it.content.size();
    const uint32_t head = size < kEntryLookahead ? size : kEntryLookahead;
    beginFileEntry(w, it.name, t, size, it.content.data());
    if (size > head) feedFileEntry(w, it.content.data() + head, size - head);
    endFileEntry(w);
    t.lastWrite += 10000000;
  }
  uint64_t total = 0;
  if (!finishArchive(w, &total)) fuzzFail("finishArchive");
  freeArchiveWriter(w);
  Bytes file(total);
  if (pread(fd, file.data(), total, 0) != (ssize_t)total) fuzzFail("reading the archive back");
  close(fd);
  return file;
}

// Walks a well-formed archive with the core and writes the seeds of the
// targets that take records, coded data or names.
void takeApart(const Archive& a, const Bytes& file) {
  const Bytes key(a.password.begin(), a.password.end());
  beginRunInProcess();
  int fd;
  memoryFile(file, &fd);
  bind(&app.archiveFile, "archive");
  app.archiveFile.handle = fd;
  app.archiveFile.state = FileReading;
  if (readStubImageAndSize()) fuzzFail("reading the stub image");
  ByteString comment = {};
  readHeaderString(&comment);
  readHeaderString(&app.launchFile);
  readPasswordFields();
  bsRelease(&comment);
  bsAssign(&app.key, a.password.data(), (uint32_t)a.password.size());
  const off_t streamStart = lseek(fd, 0, SEEK_CUR);
  const Bytes data = unwrapBlocks(Bytes(file.begin() + streamStart, file.end()), a.flags ? key : Bytes());

  Bytes records = {0};
  RunState* run = beginRun();
  EntryHeader h = {};
  int entry = 0;
  while (!app.endOfArchive) {
    const uint32_t start = app.consumedCount;
    readNextEntry(run, ".\\", &h);
    const uint32_t end = app.consumedCount;
    records.insert(records.end(), data.begin() + start, data.begin() + end);
    if (entry < 40) {
      Bytes name = {1};  // made on disk
      name.insert(name.end(), bsText(&h.entryName), bsText(&h.entryName) + h.entryName.length);
      writeSeed("paths", a.label + "-" + std::to_string(entry), name);
    }
    ++entry;
    if (h.isFolder) continue;
    const uint32_t ref = referencedSlot(&run->ring, h.back);
    const Preset preset = presetBytes(&run->ring, ref, h.prefixLength);
    const Bytes presetCopy(preset.bytes, preset.bytes + preset.length);
    decodeFileEntry(run, &h, true);
    advanceHeadRing(&run->ring);
    const int32_t total = h.fileSize - h.prefixLength;
    if (total == 0 || entry > 60) continue;
    // The decoder's input: mode, the size to produce, the preset length,
    // the capture offset, no cancel, the preset bytes, the coded data.
    Bytes d = {(uint8_t)(entry & 1)};
    if (total > 200000) {
      d[0] |= 2;
      for (int i = 3; i >= 0; --i) d.push_back((uint8_t)(total >> (8 * i)));
    } else {
      for (int i = 2; i >= 0; --i) d.push_back((uint8_t)(total >> (8 * i)));
    }
    d.push_back((uint8_t)(preset.length >> 8));
    d.push_back((uint8_t)preset.length);
    d.push_back((uint8_t)(h.prefixLength >> 8));
    d.push_back((uint8_t)h.prefixLength);
    d.push_back(0);
    d.insert(d.end(), presetCopy.begin(), presetCopy.end());
    d.insert(d.end(), data.begin() + end, data.begin() + app.consumedCount);
    writeSeed("decoder", a.label + "-" + std::to_string(entry), d);
  }
  endRun(run);
  bsRelease(&h.entryName);
  bsRelease(&h.fullPath);
  writeSeed("entries", a.label, records);
  endRunInProcess();
}

void seedsOf(const Archive& a) {
  const Bytes file = pack(a);
  const Bytes key(a.password.begin(), a.password.end());
  // test: test, test -v, list, list --json; extract: the overwrite policies.
  for (uint8_t mode : {0, 2, 4, 6}) writeSeed("test", a.label + "-" + std::to_string(mode), archiveCaseInput(mode, key, file));
  writeSeed("extract", a.label, archiveCaseInput(0, key, file));
  writeSeed("extract", a.label + "-all", archiveCaseInput(2, key, file));
  // The stored form as is, block checks included.
  Bytes raw = {1, (uint8_t)key.size()};
  raw.insert(raw.end(), key.begin(), key.end());
  raw.insert(raw.end(), file.begin() + kStubSize + 4, file.end());
  if (raw.size() < 20000) writeSeed("test", a.label + "-raw", raw);
  // header: the typed password, then the file after the stub (size, header
  // and the start of the stream).
  Bytes header = {0, (uint8_t)key.size()};
  header.insert(header.end(), key.begin(), key.end());
  const size_t end = file.size() < kStubSize + 600 ? file.size() : kStubSize + 600;
  header.insert(header.end(), file.begin() + kStubSize, file.begin() + end);
  writeSeed("header", a.label, header);
  takeApart(a, file);
}

Item file(const std::string& name, const Bytes& content) { return Item{name, false, content}; }
Item folder(const std::string& name) { return Item{name, true, {}}; }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_seeds OUTDIR\n");
    return 1;
  }
  outDir = argv[1];
  mkdir(outDir.c_str(), 0777);

  // Folders, empty ones too, Japanese names (some with 0x5C as the second
  // byte: ソ 83 5C, 表 95 5C), a comment over several lines and a launch file.
  Archive basic;
  basic.label = "basic";
  basic.comment = "Release 2\r\n\x83\x5C\x83t\x83g\x81\x5B\x83\x45\x83\x46\x83\x41\r\n";
  basic.launch = "docs\\readme.txt";
  basic.items = {folder("docs"),
                 file("docs\\readme.txt", words(1500, 1)),
                 file("docs\\notes.txt", words(900, 2)),
                 folder("docs\\empty"),
                 folder("\x95\x5C"),
                 file("\x95\x5C\\\x83\x5C.txt", words(300, 3)),
                 file("bin.dat", noise(2000, 4)),
                 file("zero.txt", {})};
  seedsOf(basic);

  // Passwords: masked input box (flags 1) with a 4-byte key across block
  // boundaries, and shown input (flags 2) with a 1-byte key.
  Archive masked;
  masked.label = "masked";
  masked.flags = 1;
  masked.password = "pass";
  masked.items = {file("a.txt", words(6000, 5)), file("b.txt", words(5000, 6))};
  seedsOf(masked);
  Archive shown;
  shown.label = "shown";
  shown.flags = 2;
  shown.password = "x";
  shown.comment = "protected";
  shown.items = {folder("d"), file("d\\c.txt", words(700, 7))};
  seedsOf(shown);

  // Many files: the ring wraps (300 file entries); many are copies or near
  // copies of earlier ones, stored as records or against earlier heads.
  Archive many;
  many.label = "many";
  for (int i = 0; i < 300; ++i) {
    Bytes content = words(40 + (i * 37) % 400, (uint32_t)(i % 23));
    if (i % 5 == 3) content.push_back((uint8_t)i);
    many.items.push_back(file("set\\file" + std::to_string(1000 + i) + ".txt", content));
  }
  seedsOf(many);

  // Long matches and far distances, a file that begins with the stub's own
  // head, and a file long enough for the window to slide.
  Archive matches;
  matches.label = "matches";
  Bytes run(20000, 'a');
  Bytes far = noise(8000, 9);
  far.insert(far.end(), far.begin(), far.begin() + 6000);
  Bytes stubStart(fuzzStubImage(), fuzzStubImage() + 3000);
  const Bytes tail = words(500, 10);
  stubStart.insert(stubStart.end(), tail.begin(), tail.end());
  matches.items = {file("stubhead.bin", stubStart), file("run.txt", run), file("far.bin", far),
                   file("slides.txt", words(90000, 11))};
  seedsOf(matches);

  Archive empty;
  empty.label = "empty";
  empty.items = {file("nothing", {})};
  seedsOf(empty);
  Archive folderOnly;
  folderOnly.label = "folder";
  folderOnly.items = {folder("only")};
  seedsOf(folderOnly);

  // Names for the path rules that archives of ours never hold.
  const char* const names[] = {"",  ".",        "..\\x",  "a\\..\\..\\x", "\\x",  "C:x",   "a:b",     "a/b/../c",
                               "*", "a\\.. \\b", "...\\x", "x\\.",        "\x83", "\x83\x5C", "a\\\\b", "\x83\x5C\\"};
  int n = 0;
  for (const char* name : names) {
    Bytes b = {1};
    b.insert(b.end(), name, name + strlen(name));
    writeSeed("paths", "name-" + std::to_string(n++), b);
  }

  // Code trees: counts of a skewed entry, counts that wrap, and small ones.
  Bytes skewed = {0};
  for (int s = 0; s < 512; ++s) skewed.push_back(s < 256 ? (uint8_t)(s % 3) : 0);
  writeSeed("code_tree", "skewed", skewed);
  Bytes wrapping = {3};
  for (int s = 0; s < 512; ++s) wrapping.push_back((uint8_t)(s & 1));
  writeSeed("code_tree", "wrapping", wrapping);
  writeSeed("code_tree", "noise", noise(3000, 12));

  FILE* stamp = fopen((outDir + "/stamp").c_str(), "w");
  if (stamp) fclose(stamp);
  return 0;
}
