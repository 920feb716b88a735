// Device time on the Qt event loop, for the simulator over real links.
// Scheduled work runs in due order (work due at the same millisecond in the
// order it was scheduled) from one precise timer, and is dropped when the
// scheduler goes away.
#pragma once
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <map>
#include <utility>

#include "sim/SimDevice.h"

class TQtSimScheduler : public ISimScheduler {
 public:
  TQtSimScheduler();
  uint64_t NowMs() override { return static_cast<uint64_t>(FClock.elapsed()); }
  void After(uint32_t ms, std::function<void()> fn) override;
  int Pending() const { return static_cast<int>(FEvents.size()); }

 private:
  void RunDue();
  void Arm();

  QElapsedTimer FClock;
  QTimer FTimer;
  uint64_t FSeq = 0;
  std::map<std::pair<uint64_t, uint64_t>, std::function<void()>> FEvents;
};
