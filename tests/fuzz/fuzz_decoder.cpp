// The decoder on arbitrary bits with arbitrary presets: any size to
// produce, any preset length and content, any capture offset, skip or
// write, and a cancel at any rebuild point. The window, the preset and the
// capture area are separate heap blocks of their exact sizes, so a read or
// write outside any of them is caught.
#include <stdlib.h>

#include "common/app_state.h"
#include "decode/decoder.h"
#include "fuzz_core_ui.h"
#include "fuzz_support.h"
#include "platform/host/fault_layer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const uint8_t mode = in.byte();
  const bool skip = mode & 1;
  // Sizes around the window's slides are the interesting ones; now and
  // then any 32-bit value.
  int32_t total = (mode & 2) ? (int32_t)in.upTo(0xFFFFFFFFu) : (int32_t)in.upTo(200000);
  const int32_t presetLength = (int32_t)in.upTo(kMaxPreset);
  const int32_t captureOffset = (int32_t)in.upTo(16384);
  const uint32_t cancelAt = in.byte();
  uint8_t* preset = (uint8_t*)malloc(presetLength ? presetLength : 1);
  const Bytes given = in.take((size_t)presetLength);
  for (int32_t i = 0; i < presetLength; ++i) preset[i] = i < (int32_t)given.size() ? given[i] : (uint8_t)i;
  const Bytes stream = wrapBlocks(in.rest(), Bytes());

  beginRunInProcess();
  fuzzUi = FuzzCoreUi{};
  fuzzUi.cancelAtPump = cancelAt;
  // The fatal exits delete the output by name: a name in the scratch folder.
  const std::string outputName = scratchFolder() + "/output";
  bind(&app.archiveFile, "archive");
  app.archiveFile.handle = faultMemoryFile(stream.data(), (uint32_t)stream.size());
  app.archiveFile.state = FileReading;
  bind(&app.outputFile, outputName.c_str());
  app.outputFile.handle = faultMemorySink();
  app.outputFile.state = FileReadWrite;
  uint8_t* capture = (uint8_t*)malloc(16384);
  DecoderState* d = (DecoderState*)malloc(sizeof(DecoderState));
  decoder = d;
  bool finished = false;
  try {
    decodeEntry(total, preset, presetLength, capture, captureOffset, skip, skip ? 0 : &app.outputFile);
    finished = true;
  } catch (const FuzzExit&) {
  }
  if (finished) {
    // Never more than the record asks for; all of it unless cancelled; and
    // what was written is what was produced.
    FUZZ_CHECK(d->produced <= (total > 0 ? total : 0));
    if (!app.cancelFlag) FUZZ_CHECK(d->produced == (total > 0 ? total : 0));
    FUZZ_CHECK(faultSinkBytes() == (uint64_t)(skip ? 0 : d->produced));
  }
  free(d);
  free(capture);
  free(preset);
  endRunInProcess();
  return 0;
}
