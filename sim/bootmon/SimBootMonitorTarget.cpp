#include "sim/bootmon/SimBootMonitorTarget.h"

TSimBootMonitorTarget::TSimBootMonitorTarget(ISimScheduler& scheduler, uint32_t flashSize)
    : FMonitor(scheduler, flashSize) {
  FMonitor.FRestartDelayMs = 0;
  FMonitor.OnEmit = [this](const TBytes& bytes, uint32_t extraMs) {
    if (FPort) FPort->Emit(bytes, extraMs);
  };
  FMonitor.OnRestart = [this] {
    ISimBootPort* port = FPort;
    if (!port) return;
    if (const auto version = FMonitor.RomVersion()) port->SetRomVersion(*version);
    port->Restart();  // the reader calls Leave
  };
  FMonitor.OnHangup = [this] {
    if (FPort) FPort->Hangup();
  };
}

void TSimBootMonitorTarget::Enter(ISimBootPort& port) {
  FPort = &port;
  FMonitor.Enter();
}
