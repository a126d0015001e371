#include "encode_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "common/app_state.h"
#include "archive/driver.h"
#include "archive/header.h"
#include "fileio/fatal.h"
#include "platform/host/scripted_ui.h"

Bytes packItems(const std::vector<PackItem>& items, ArchiveSettings settings, size_t feedPiece,
                ArchiveStats* stats, const Bytes* stub) {
  TestArchive scratch;
  settings.stub = stub ? stub->data() : testStubImage().data();
  int fd = ::open(scratch.path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  ArchiveWriter* w = newArchiveWriter();
  bool ok = beginArchive(w, fd, settings);
  for (const PackItem& item : items) {
    if (item.folder) {
      addFolderEntry(w, item.name);
      continue;
    }
    const uint32_t size = (uint32_t)item.content.size();
    if (feedPiece == kFeedAsPack && holdsWholeFile(w, size)) {
      makeRoomFor(w, size);
      std::vector<uint8_t> bytes = item.content;
      addHeldFileEntry(w, item.name, item.times, &bytes);
      if (!bytes.empty() || w->heldNow > settings.heldBytes) ok = false;  // taken, and within the budget
      continue;
    }
    const size_t piece = feedPiece == kFeedAsPack ? 1 << 20 : feedPiece;
    const uint32_t head = size < kEntryLookahead ? size : kEntryLookahead;
    beginFileEntry(w, item.name, item.times, size, item.content.data());
    for (uint32_t at = head; at < size; at += (uint32_t)piece) {
      uint32_t n = (uint32_t)std::min<size_t>(piece, size - at);
      feedFileEntry(w, item.content.data() + at, n);
    }
    endFileEntry(w);
  }
  uint64_t total = 0;
  ok = finishArchive(w, &total) && ok;
  if (stats) *stats = w->stats;
  freeArchiveWriter(w);
  ::close(fd);
  Bytes out = readFileBytes(scratch.path);
  if (!ok || out.size() != total) out.clear();
  return out;
}

int readBack(const Bytes& archive, const std::string& password, std::vector<ReadEntry>* entries,
             std::string* comment, std::string* launch) {
  TestArchive file;
  writeFileBytes(file.path, archive);
  scripted::resetRun();
  entries->clear();
  int code = -1;
  RunState* run = 0;
  EntryHeader h = {};
  try {
    bind(&app.archiveFile, file.path.c_str());
    openForReading(&app.archiveFile);
    if (takeIoError()) failRead();
    if (readStubImageAndSize()) failRead();
    if (app.expectedSize != size(&app.archiveFile)) return 100;  // start-up's size check
    ByteString text = {};
    readHeaderString(&text);
    if (comment) comment->assign(bsText(&text), text.length);
    readHeaderString(&app.launchFile);
    if (launch) launch->assign(bsText(&app.launchFile), app.launchFile.length);
    bsRelease(&text);
    readPasswordFields();
    if (app.passwordProtected) {
      if (!passwordAccepted(password.data(), (uint32_t)password.size())) return 101;
      bsAssign(&app.key, password.data(), (uint32_t)password.size());
    }

    run = beginRun();
    while (!app.endOfArchive) {
      readNextEntry(run, ".\\", &h);
      ReadEntry e;
      e.name.assign(bsText(&h.entryName), h.entryName.length);
      e.folder = h.isFolder;
      if (!h.isFolder) {
        e.creation = h.creationTime;
        e.lastAccess = h.lastAccessTime;
        e.lastWrite = h.lastWriteTime;
        // Decode into a file so the whole content can be compared.
        std::string out = file.dir + "/out.bin";
        bind(&app.outputFile, out.c_str());
        createForWriting(&app.outputFile);
        HeadRing* ring = &run->ring;
        writeBlock(&app.outputFile, ring->slots[referencedSlot(ring, h.back)].bytes, h.prefixLength);
        decodeFileEntry(run, &h, false);
        close(&app.outputFile);
        if (takeIoError()) failWrite();
        e.content = readFileBytes(out);
        advanceHeadRing(ring);
      }
      entries->push_back(e);
    }
  } catch (const scripted::Exit& exit) {
    code = (int)exit.code;
  }
  if (run) endRun(run);
  bsRelease(&h.entryName);
  bsRelease(&h.fullPath);
  if (app.archiveFile.state == FileReading) close(&app.archiveFile);
  takeIoError();
  return code;
}
