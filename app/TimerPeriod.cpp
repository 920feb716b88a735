#include "app/TimerPeriod.h"

#ifdef _WIN32
#include <windows.h>
#include <timeapi.h>
#ifdef _MSC_VER
#pragma comment(lib, "winmm.lib")
#endif
#endif

uint32_t RequestFinestTimerPeriod(const std::function<uint32_t(uint32_t)>& request) {
  for (uint32_t period = kFinestTimerPeriodMs; period <= kCoarsestTimerPeriodMs; ++period) {
    const uint32_t result = request(period);
    if (result == 0) return period;
    if (result != kTimerPeriodNotPossible) return 0;
  }
  return 0;
}

uint32_t BeginFinestTimerPeriod() {
#ifdef _WIN32
  return RequestFinestTimerPeriod(
      [](uint32_t ms) { return static_cast<uint32_t>(timeBeginPeriod(ms)); });
#else
  return 0;
#endif
}
