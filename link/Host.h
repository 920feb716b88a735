// Time, pauses and event delivery as seen by the protocol code.
#pragma once
#include <cstdint>

class IHost {
 public:
  virtual ~IHost() = default;
  // Milliseconds since some start, 32-bit, wrapping.
  virtual uint32_t TickCount() = 0;
  // Plain pause: no link events are delivered until it ends.
  virtual void Sleep(uint32_t ms) = 0;
  // Let pending events (link bytes, clicks, timers) run once, without blocking.
  virtual void ProcessMessages() = 0;
  // Block delivering events until link activity is signalled or ms have passed.
  virtual void WaitForActivity(uint32_t ms) = 0;
  // Called by the receive handlers so that a wait returns at once.
  virtual void NotifyActivity() = 0;
};
