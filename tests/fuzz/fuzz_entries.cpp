// Entry records and the head ring: records follow each other directly (a
// file's coded data is left out; its head is filled in here instead), so
// the fuzzer spends its time on names, shared names, folder marks, sizes,
// back references and prefix lengths. Every reference must stay inside the
// filled part of the ring, and the preset bytes inside the referenced head.
#include <string.h>

#include "archive/driver.h"
#include "common/app_state.h"
#include "fuzz_support.h"
#include "platform/host/fault_layer.h"

static const char* const kTargets[] = {".\\", "C:\\out\\", "\\\\server\\share\\x\\", "\x95\x5C\\"};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const uint8_t mode = in.byte();
  const char* target = kTargets[mode & 3];
  const Bytes key = (mode & 4) ? Bytes{'k', 'e', 'y'} : Bytes();
  const Bytes stream = wrapBlocks(in.rest(), key);

  beginRunInProcess();
  bind(&app.archiveFile, "archive");
  app.archiveFile.handle = faultMemoryFile(stream.data(), (uint32_t)stream.size());
  app.archiveFile.state = FileReading;
  app.passwordProtected = !key.empty();
  bsAssign(&app.key, (const char*)key.data(), (uint32_t)key.size());
  app.keyPos = 0;
  app.consumedCount = 0;
  EntryHeader h = {};
  try {
    RunState* run = beginRun();
    HeadRing* ring = &run->ring;
    uint32_t files = 0;
    while (!app.endOfArchive) {
      const uint32_t filledBefore = ring->fileEntries;
      readNextEntry(run, target, &h);
      const uint32_t t = textLength(target);
      FUZZ_CHECK(h.fullPath.length == t + h.entryName.length);
      FUZZ_CHECK(textLength(bsText(&h.entryName)) == h.entryName.length);
      FUZZ_CHECK(memcmp(bsText(&h.fullPath), target, t) == 0);
      const char* p = bsText(&h.fullPath);
      const uint32_t n = h.fullPath.length;
      FUZZ_CHECK(h.isFolder == (n >= 2 && p[n - 2] == '\\' && p[n - 1] == '.'));
      if (h.isFolder) {
        FUZZ_CHECK(ring->fileEntries == filledBefore);
        continue;
      }
      ++files;
      FUZZ_CHECK(ring->fileEntries == files);
      const uint32_t ref = referencedSlot(ring, h.back);
      const HeadSlot* slot = &ring->slots[ref];
      // The reference reaches a slot that holds a head: the stub's, or one of
      // the files before this one.
      FUZZ_CHECK((h.back ? h.back : 1u) <= files);
      FUZZ_CHECK(h.fileSize >= 0 && h.prefixLength <= h.fileSize && h.prefixLength <= slot->length);
      const Preset preset = presetBytes(ring, ref, h.prefixLength);
      FUZZ_CHECK(preset.length >= 0 && preset.length <= 8192);
      FUZZ_CHECK(preset.bytes >= slot->bytes && preset.bytes + preset.length <= slot->bytes + slot->length);
      copyPrefix(ring, ref, h.prefixLength);
      HeadSlot* current = &ring->slots[ring->current];
      FUZZ_CHECK(current->length == (h.fileSize < 16384 ? h.fileSize : 16384));
      // What decoding would capture: the rest of the head.
      for (int32_t i = h.prefixLength; i < current->length; ++i) current->bytes[i] = (uint8_t)(i * 31 + files);
      advanceHeadRing(ring);
    }
    endRun(run);
  } catch (const FuzzExit&) {
  }
  bsRelease(&h.entryName);
  bsRelease(&h.fullPath);
  endRunInProcess();
  return 0;
}
