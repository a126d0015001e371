// The user-interface side of the seam for the unit tests: message boxes are
// answered from a script and recorded, status lines are recorded, and the
// process exit becomes an exception that the test catches.
#pragma once
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace scripted {

struct Box {
  MessageId id;
  std::string text;     // code page 932, as the stub would show it
  std::string subject;  // the path or name the text names, if any
  uint32_t flags;
  bool owned;
};

struct Status {
  StatusId id;
  std::string text;
};

struct Exit {
  uint32_t code;
};

extern std::vector<Box> boxes;
extern std::deque<int> answers;  // taken in order; an empty queue answers OK (or Cancel to a question)
extern std::vector<Status> statuses;
extern int pumps;
extern int cancelAtPump;  // sets the cancel flag at this pump (counted from 1); 0 never
// Called with every status line as it is shown (after it is recorded): what
// happens to the disk while a run goes on.
extern std::function<void(const Status&)> onStatus;

void reset();

// Empties the script and the records, and returns the process-wide state to
// what a fresh process starts with (keys and names released, files unbound,
// flags and counters cleared, no pending I/O error), so that one host process
// can read archive after archive.
void resetRun();

}  // namespace scripted
