#include "platform/host/scripted_ui.h"
#include "common/app_reset.h"
#include "common/app_state.h"

namespace scripted {
std::vector<Box> boxes;
std::deque<int> answers;
std::vector<Status> statuses;
int pumps;
int cancelAtPump;
std::function<void(const Status&)> onStatus;

void reset() {
  boxes.clear();
  answers.clear();
  statuses.clear();
  pumps = 0;
  cancelAtPump = 0;
  onStatus = nullptr;
}

void resetRun() {
  resetAppForNextRun();
  reset();
}
}  // namespace scripted

int pfMessageBox(MessageId id, const char* text, const char* subject, uint32_t flags, bool owned) {
  scripted::boxes.push_back({id, text, subject ? subject : "", flags, owned});
  if (!scripted::answers.empty()) {
    int answer = scripted::answers.front();
    scripted::answers.pop_front();
    return answer;
  }
  return (flags & 0x0F) == kMbOk ? kIdOk : kIdCancel;
}

void pfShowStatus(StatusId id, const char* text, const char*) {
  scripted::statuses.push_back({id, text});
  if (scripted::onStatus) scripted::onStatus(scripted::statuses.back());
}

void pfPumpOneMessage() {
  if (++scripted::pumps == scripted::cancelAtPump) app.cancelFlag = 1;
}

void pfExitProcess(uint32_t code) { throw scripted::Exit{code}; }
