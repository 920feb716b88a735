#include "sim/VirtualHost.h"
#include <algorithm>

void TVirtualHost::After(uint32_t ms, std::function<void()> fn) {
  FEvents.emplace(std::make_pair(FNow + ms, FSeq++), std::move(fn));
}

bool TVirtualHost::RunDue() {
  bool ran = false;
  while (!FEvents.empty() && FEvents.begin()->first.first <= FNow) {
    auto fn = std::move(FEvents.begin()->second);
    FEvents.erase(FEvents.begin());
    fn();
    ran = true;
  }
  return ran;
}

void TVirtualHost::ProcessMessages() {
  RunDue();
}

void TVirtualHost::WaitForActivity(uint32_t ms) {
  if (RunDue()) return;
  const uint64_t deadline = FNow + ms;
  if (!FEvents.empty() && FEvents.begin()->first.first <= deadline) {
    FNow = FEvents.begin()->first.first;
    RunDue();
    return;
  }
  FNow = deadline;
}

void TVirtualHost::RunFor(uint64_t ms) {
  const uint64_t end = FNow + ms;
  while (!FEvents.empty() && FEvents.begin()->first.first <= end) {
    FNow = std::max(FNow, FEvents.begin()->first.first);
    RunDue();
  }
  FNow = end;
}
