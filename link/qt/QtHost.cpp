#include "link/qt/QtHost.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

TQtHost::TQtHost() { FClock.start(); }

uint32_t TQtHost::TickCount() { return static_cast<uint32_t>(FClock.elapsed()); }

void TQtHost::Sleep(uint32_t ms) {
  // A plain pause: no input, no socket or serial notifications until it ends.
  QThread::msleep(ms);
}

void TQtHost::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void TQtHost::WaitForActivity(uint32_t ms) {
  QEventLoop loop;
  QTimer timer;
  timer.setTimerType(Qt::PreciseTimer);
  timer.setSingleShot(true);
  QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
  timer.start(static_cast<int>(ms));
  QEventLoop* outer = FLoop;
  FLoop = &loop;
  loop.exec();
  FLoop = outer;
}

void TQtHost::NotifyActivity() {
  if (FLoop) FLoop->quit();
}
