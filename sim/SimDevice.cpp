#include "sim/SimDevice.h"

#include <algorithm>

void TSimDevice::Attach(ISimScheduler* scheduler, ISimWire* wire) {
  FScheduler = scheduler;
  FWire = wire;
  FLineFreeAt = 0;
}

void TSimDevice::Send(const TBytes& bytes, uint32_t extraMs) {
  if (!FScheduler || bytes.empty()) return;
  const uint64_t now = FScheduler->NowMs();
  const uint64_t start = std::max(now + FReplyDelayMs + extraMs, FLineFreeAt);
  uint64_t lineTime = 0;
  if (FThrottle && FBaudRate > 0)
    lineTime = (bytes.size() * 10ull * 1000 + FBaudRate - 1) / FBaudRate;
  FLineFreeAt = start + lineTime;
  // The whole reply arrives when its last byte has left the line.
  const uint64_t at = start + lineTime;
  FScheduler->After(static_cast<uint32_t>(at - now), [this, bytes] {
    if (FWire) FWire->Emit(bytes.data(), bytes.size());
  });
}
