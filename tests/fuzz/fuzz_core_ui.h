// State of the user-interface side that fuzz_core_ui.cpp gives the core.
#pragma once
#include <stdint.h>

#include "platform/platform.h"

struct FuzzCoreUi {
  int boxes;
  MessageId lastBox;
  bool outputOpenAtBox;  // an output file was open when the last box came
  int overwriteAnswer;   // kIdYes, kIdNo or kIdCancel
  uint32_t pumps;
  uint32_t cancelAtPump;  // 0: never
};

extern FuzzCoreUi fuzzUi;
