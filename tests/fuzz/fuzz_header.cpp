// The archive header as start-up reads it (recorded size, comment, file to
// open afterwards, password settings) from the fixed stub image followed by
// the input, the password check, and the command-line tool's forms of the
// texts (for a terminal and for JSON), which must never pass on a control
// character.
#include <string.h>
#include <unistd.h>

#include <algorithm>

#include "archive/header.h"
#include "common/app_state.h"
#include "decode/crc.h"
#include "fuzz_support.h"
#include "platform/host/fault_layer.h"
#include "tools/cli_text.h"

static void checkShown(const std::string& shown, bool multiLine) {
  for (unsigned char c : shown) {
    if (c >= 0x20 && c != 0x7F) continue;
    FUZZ_CHECK(multiLine && (c == '\n' || c == '\r' || c == '\t'));
  }
}

static void checkText(const ByteString* s) {
  // A header string ends at its first 0 byte.
  FUZZ_CHECK(textLength(bsText(s)) == s->length);
  checkShown(showCp932(bsText(s), s->length, false, true), true);
  checkShown(showCp932(bsText(s), s->length, true), false);
  std::string utf8;
  if (cp932ToUtf8(bsText(s), s->length, false, &utf8)) {
    const std::string json = jsonString(utf8);
    for (unsigned char c : json) FUZZ_CHECK(c >= 0x20);
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const uint8_t mode = in.byte();
  const Bytes typed = in.take(in.byte() % 12);
  Bytes file(fuzzStubImage(), fuzzStubImage() + kStubSize);
  const Bytes payload = in.rest();
  file.insert(file.end(), payload.begin(), payload.end());
  // Mostly the recorded size matches, as it must for the header to be read.
  if ((mode & 1) == 0 && file.size() >= kStubSize + 4)
    for (int i = 0; i < 4; ++i) file[kStubSize + i] = (uint8_t)(file.size() >> (8 * i));

  beginRunInProcess();
  bind(&app.archiveFile, "archive");
  app.archiveFile.handle = faultMemoryFile(file.data(), (uint32_t)file.size());
  app.archiveFile.state = FileReading;
  ByteString comment = {};
  try {
    if (readStubImageAndSize() == 0 && app.expectedSize == (int32_t)file.size()) {
      readHeaderString(&comment);
      readHeaderString(&app.launchFile);
      const uint8_t flags = readPasswordFields();
      checkText(&comment);
      checkText(&app.launchFile);
      FUZZ_CHECK(app.passwordProtected == (flags != 0));
      // The block stream starts right behind the header.
      const off_t expected = kStubSize + 4 + comment.length + 1 + app.launchFile.length + 1 + 1 + (flags ? 2 : 0);
      uint32_t position = 0;
      FUZZ_CHECK(pfFilePosition(app.archiveFile.handle, &position));
      FUZZ_CHECK(position == std::min<off_t>(expected, (off_t)file.size()));
      if (flags) {
        const bool accepted = passwordAccepted((const char*)typed.data(), (uint32_t)typed.size());
        FUZZ_CHECK(accepted == (!typed.empty() && crc16(typed.data(), (uint32_t)typed.size()) == app.passwordCheck));
      }
    }
  } catch (const FuzzExit&) {
  }
  bsRelease(&comment);
  endRunInProcess();
  return 0;
}
