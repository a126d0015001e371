// The faster code-tree build against the build step for step, over any
// counts (zero, negative, sums that wrap) and over the orders earlier
// builds leave behind: both must give the same nodes, ranks and root.
#include <string.h>

#include "decode/code_tree.h"
#include "fuzz_support.h"

static void sameTrees(const CodeTree& fast, const CodeTree& reference) {
  FUZZ_CHECK(fast.order[0] == reference.order[0]);
  FUZZ_CHECK(memcmp(fast.rank, reference.rank, sizeof fast.rank) == 0);
  for (int n = 0; n < kNodes; ++n) {
    FUZZ_CHECK(fast.nodes[n].weight == reference.nodes[n].weight);
    FUZZ_CHECK(fast.nodes[n].child0 == reference.nodes[n].child0);
    FUZZ_CHECK(fast.nodes[n].child1 == reference.nodes[n].child1);
    if (n < kSymbols) FUZZ_CHECK(fast.nodes[n].symbol == reference.nodes[n].symbol);
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  static CodeTree fast, reference;
  resetCodeTree(&fast);
  resetCodeTree(&reference);
  // Several builds in a row, as an entry makes them: each round adds to the
  // counts (as decoding does) or sets them outright.
  for (int round = 0; round < 2 && in.size; ++round) {
    const uint8_t how = in.byte();
    for (int s = 0; s < kSymbols && in.size; ++s) {
      int32_t value;
      switch (how & 3) {
        case 0: value = (int32_t)((uint32_t)fast.counts[s] + in.byte() % 4); break;  // a few more of each
        case 1: value = 1 + in.byte(); break;
        case 2: value = (int32_t)(in.byte() << 24 | in.byte() << 16 | in.byte() << 8 | in.byte()); break;
        default: value = (in.byte() & 1) ? 0x40000000 : 1; break;  // sums that wrap
      }
      fast.counts[s] = reference.counts[s] = value;
    }
    buildCodeTree(&fast);
    buildCodeTreeReference(&reference);
    sameTrees(fast, reference);
  }
  return 0;
}
