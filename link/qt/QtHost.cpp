#include "link/qt/QtHost.h"

#include <algorithm>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

TQtHost::TQtHost() {
  FClock.start();
}

uint32_t TQtHost::TickCount() {
  return static_cast<uint32_t>(FClock.elapsed());
}

void TQtHost::Sleep(uint32_t ms) {
  // A plain pause: the windows keep being painted, but no input and no socket
  // or serial notification is delivered until it ends (they wait their turn).
  if (!QCoreApplication::instance()) {
    QThread::msleep(ms);  // no event loop to keep anything painted
    return;
  }
  QDeadlineTimer deadline(static_cast<qint64>(ms), Qt::PreciseTimer);
  while (!deadline.hasExpired()) {
    QEventLoop loop;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 0)));
    loop.exec(QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers);
  }
}

void TQtHost::ProcessMessages() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

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
