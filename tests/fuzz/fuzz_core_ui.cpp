// The user-interface side of the seam for the targets that drive the core
// directly: message boxes are remembered (the overwrite question gets the
// answer the input chose), the decoder's pump can set the cancel flag, and
// the process exit unwinds as a FuzzExit.
#include "fuzz_core_ui.h"

#include "common/app_state.h"
#include "fuzz_support.h"
#include "platform/platform.h"

FuzzCoreUi fuzzUi;

int pfMessageBox(MessageId id, const char*, const char*, uint32_t flags, bool) {
  ++fuzzUi.boxes;
  fuzzUi.lastBox = id;
  fuzzUi.outputOpenAtBox = app.outputFile.state == FileReadWrite;
  if (id == MsgOverwrite) return fuzzUi.overwriteAnswer;
  return (flags & 0x0F) == kMbOk ? kIdOk : kIdCancel;
}

void pfShowStatus(StatusId, const char*, const char*) {}

void pfPumpOneMessage() {
  if (++fuzzUi.pumps == fuzzUi.cancelAtPump) app.cancelFlag = 1;
}

void pfExitProcess(uint32_t code) { throw FuzzExit{(int)code}; }
