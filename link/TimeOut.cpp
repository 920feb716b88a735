#include "link/TimeOut.h"

#include "link/Host.h"

namespace {
IHost* gHost = nullptr;
uint32_t gStart = 0;

uint32_t Elapsed() {
  return gHost ? static_cast<uint32_t>(gHost->TickCount() - gStart) : 0;
}
}  // namespace

void SetTimeOutHost(IHost* host) {
  gHost = host;
}

int TimeOutCheck(int mode, uint32_t ms) {
  if (!gHost) return mode == 1 ? 1 : 0;  // no clock: every wait ends at once
  if (mode == 0) {
    gStart = gHost->TickCount();
    return 1;
  }
  if (mode == 1) return Elapsed() >= ms ? 1 : 0;
  return 0;
}

uint32_t TimeOutRemaining(uint32_t ms) {
  const uint32_t e = Elapsed();
  return e >= ms ? 0 : ms - e;
}
