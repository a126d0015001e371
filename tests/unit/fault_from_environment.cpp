// Part of vellicor_faulty, the vellicor program over the fault layer: arms
// the layer from VELLICOR_FAULTS (as faultArmFromText reads it) when the
// program starts, and writes the calls made per kind into the file named by
// VELLICOR_FAULT_COUNTS ("open 3\n...") when it ends.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "platform/host/fault_layer.h"
#include "tools/embedded_stub.h"

// This program only reads archives; pack would refuse a stub of no bytes.
const uint8_t* embeddedStub(uint32_t* size) {
  static const uint8_t none[1] = {0};
  *size = 0;
  return none;
}

static const char* countsPath;

static void writeCounts() {
  FILE* f = fopen(countsPath, "w");
  if (!f) return;
  for (int k = 0; k < FaultKindCount; ++k) fprintf(f, "%s %u\n", faultKindName((FaultKind)k), faultCalls((FaultKind)k));
  fclose(f);
}

static const bool armed = [] {
  faultReset();
  const char* plan = getenv("VELLICOR_FAULTS");
  if (plan && !faultArmFromText(plan)) {
    fprintf(stderr, "vellicor_faulty: cannot read VELLICOR_FAULTS=%s\n", plan);
    _exit(99);
  }
  countsPath = getenv("VELLICOR_FAULT_COUNTS");
  if (countsPath) atexit(writeCounts);
  return true;
}();
