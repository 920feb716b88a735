#include "sim/qt/QtSimScheduler.h"

#include <algorithm>

TQtSimScheduler::TQtSimScheduler() {
  FClock.start();
  FTimer.setSingleShot(true);
  FTimer.setTimerType(Qt::PreciseTimer);
  QObject::connect(&FTimer, &QTimer::timeout, &FTimer, [this] { RunDue(); });
}

void TQtSimScheduler::After(uint32_t ms, std::function<void()> fn) {
  FEvents.emplace(std::make_pair(NowMs() + ms, FSeq++), std::move(fn));
  Arm();
}

void TQtSimScheduler::RunDue() {
  // Work may schedule more work (due now or later); it joins the queue in order.
  while (!FEvents.empty() && FEvents.begin()->first.first <= NowMs()) {
    auto fn = std::move(FEvents.begin()->second);
    FEvents.erase(FEvents.begin());
    fn();
  }
  Arm();
}

void TQtSimScheduler::Arm() {
  if (FEvents.empty()) {
    FTimer.stop();
    return;
  }
  const uint64_t due = FEvents.begin()->first.first;
  const uint64_t now = NowMs();
  // The clock reads whole milliseconds, so a timer of due - now never fires early.
  FTimer.start(static_cast<int>(std::min<uint64_t>(due > now ? due - now : 0, INT32_MAX)));
}
