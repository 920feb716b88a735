// Virtual time for tests: the clock moves only when the code under test
// sleeps or waits, and scheduled events (device replies, operator actions)
// run when the clock reaches them. A 12-second time-out costs no real time.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <utility>

#include "link/Host.h"
#include "sim/SimDevice.h"

class TVirtualHost : public IHost, public ISimScheduler {
 public:
  // tickBase: the tick count at virtual time 0 (to test the 32-bit wrap).
  explicit TVirtualHost(uint32_t tickBase = 1000) : FTickBase(tickBase) {}

  uint32_t TickCount() override { return static_cast<uint32_t>(FTickBase + FNow); }
  void Sleep(uint32_t ms) override { FNow += ms; }
  void ProcessMessages() override;
  void WaitForActivity(uint32_t ms) override;
  void NotifyActivity() override {}

  uint64_t NowMs() override { return FNow; }
  void After(uint32_t ms, std::function<void()> fn) override;

  // Runs events until the clock reaches ms from now.
  void RunFor(uint64_t ms);

 private:
  // Runs every event due now; true when any ran.
  bool RunDue();

  uint32_t FTickBase;
  uint64_t FNow = 0;
  uint64_t FSeq = 0;
  std::map<std::pair<uint64_t, uint64_t>, std::function<void()>> FEvents;
};
