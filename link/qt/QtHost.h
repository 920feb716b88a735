// The real-time host: the Qt event loop delivers link events; waits block in
// a local event loop woken by link activity or a precise timer.
#pragma once
#include <QElapsedTimer>

#include "link/Host.h"

class QEventLoop;

class TQtHost : public IHost {
 public:
  TQtHost();
  uint32_t TickCount() override;
  void Sleep(uint32_t ms) override;
  void ProcessMessages() override;
  void WaitForActivity(uint32_t ms) override;
  void NotifyActivity() override;

 private:
  QElapsedTimer FClock;
  QEventLoop* FLoop = nullptr;
};
