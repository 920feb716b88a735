// The finest system timer period, asked for once at start-up so that pauses
// and time-outs of a few milliseconds are kept. Windows only; elsewhere the
// system timers are already fine.
#pragma once
#include <cstdint>
#include <functional>

// The system's answer when it cannot provide a period.
inline constexpr uint32_t kTimerPeriodNotPossible = 97;
inline constexpr uint32_t kFinestTimerPeriodMs = 1;
inline constexpr uint32_t kCoarsestTimerPeriodMs = 1000;

// Asks request(period) for 1 ms, then 2, 3, ... ms while the answer is
// kTimerPeriodNotPossible, up to kCoarsestTimerPeriodMs. Returns the period
// accepted (answer 0), or 0 when none was. The period is never released.
uint32_t RequestFinestTimerPeriod(const std::function<uint32_t(uint32_t)>& request);

// RequestFinestTimerPeriod with the system's request; 0 off Windows.
uint32_t BeginFinestTimerPeriod();
