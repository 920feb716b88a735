// The simulated boot monitor plugged into the simulated reader: the reader
// hands it every byte after an accepted program-mode command; the restart
// word hands the reader back its command protocol with the ROM version the
// written flash carries (a flash without the version mark leaves the
// reader's version as it was).
#pragma once
#include "sim/bootmon/SimBootMonitor.h"
#include "sim/reader/SimBootTarget.h"

class TSimBootMonitorTarget : public ISimBootTarget {
 public:
  explicit TSimBootMonitorTarget(ISimScheduler& scheduler,
                                 uint32_t flashSize = TSimBootMonitor::kDefaultFlashSize);

  void Enter(ISimBootPort& port) override;
  void Receive(const uint8_t* data, size_t count) override { FMonitor.Receive(data, count); }
  void Leave() override { FPort = nullptr; }

  // The reader's restart pause and its silent-after-restart fault govern the
  // restart here; the monitor hands over at once. HangupAtBlock drops the
  // reader's link.
  TSimBootMonitor FMonitor;

 private:
  ISimBootPort* FPort = nullptr;
};
