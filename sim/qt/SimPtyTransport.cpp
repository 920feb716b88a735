#include "sim/qt/SimPtyTransport.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sim/qt/PtySpeed.h"

namespace {
std::string SysError(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}
}  // namespace

TSimPtyTransport::TSimPtyTransport(TSimDevice& device, ISimScheduler& scheduler)
    : FDevice(device), FScheduler(scheduler) {
  FPollTimer.setInterval(kClosedPollMs);
  FSpeedTimer.setInterval(kSpeedPollMs);
  QObject::connect(&FPollTimer, &QTimer::timeout, &FPollTimer, [this] { PollClosed(); });
  QObject::connect(&FSpeedTimer, &QTimer::timeout, &FSpeedTimer, [this] { CheckSpeed(); });
}

TSimPtyTransport::~TSimPtyTransport() {
  if (FLinkUp) LinkClose();
  FPollTimer.stop();
  FSpeedTimer.stop();
  FReadNotifier.reset();
  FWriteNotifier.reset();
  FWatchNotifier.reset();
  if (FInotify >= 0) close(FInotify);
  if (FHeldSlave >= 0) close(FHeldSlave);
  if (FMaster >= 0) close(FMaster);  // the slave hangs up for whoever still has it
}

bool TSimPtyTransport::Open(bool watchOpens) {
  if (FMaster >= 0) return true;
  int master = -1;
  int slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
    FError = SysError("openpty");
    return false;
  }
  char name[128] = {};
  if (ptsname_r(master, name, sizeof name) != 0) {
    FError = SysError("ptsname");
    close(slave);
    close(master);
    return false;
  }
  // Raw 8-bit line: no echo, no line editing, no CR/LF translation.
  termios t{};
  tcgetattr(slave, &t);
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  cfsetispeed(&t, B115200);
  cfsetospeed(&t, B115200);
  tcsetattr(slave, TCSANOW, &t);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(slave, F_SETFD, FD_CLOEXEC);
  FMaster = master;
  FSlavePath = name;

  if (watchOpens) {
    // Watch only after our own open of the slave, so that it is not counted.
    const int in = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (in >= 0 && inotify_add_watch(in, name, IN_OPEN | IN_CLOSE) >= 0) {
      FInotify = in;
      FHeldSlave = slave;
      slave = -1;
    } else if (in >= 0) {
      close(in);
    }
  }
  if (slave >= 0) close(slave);

  FReadNotifier = std::make_unique<QSocketNotifier>(FMaster, QSocketNotifier::Read);
  QObject::connect(FReadNotifier.get(), &QSocketNotifier::activated, FReadNotifier.get(),
                   [this] { ReadMaster(); });
  FWriteNotifier = std::make_unique<QSocketNotifier>(FMaster, QSocketNotifier::Write);
  FWriteNotifier->setEnabled(false);
  QObject::connect(FWriteNotifier.get(), &QSocketNotifier::activated, FWriteNotifier.get(),
                   [this] { FlushOut(); });
  if (FInotify >= 0) {
    FWatchNotifier = std::make_unique<QSocketNotifier>(FInotify, QSocketNotifier::Read);
    QObject::connect(FWatchNotifier.get(), &QSocketNotifier::activated, FWatchNotifier.get(),
                     [this] { ReadWatch(); });
  } else {
    FReadNotifier->setEnabled(false);
    FPollTimer.start();
  }
  return true;
}

void TSimPtyTransport::ReadWatch() {
  if (FInWatch) return;
  struct TGuard {
    bool& Flag;
    explicit TGuard(bool& f) : Flag(f) { Flag = true; }
    ~TGuard() { Flag = false; }
  } guard(FInWatch);
  alignas(inotify_event) char buf[4096];
  bool hitZero = false;
  bool any = false;
  for (;;) {
    const ssize_t n = read(FInotify, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t at = 0; at < n;) {
      const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
      if (e->mask & IN_OPEN) {
        ++FOpenCount;
        any = true;
      }
      if (e->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
        if (FOpenCount > 0) --FOpenCount;
        if (FOpenCount == 0) hitZero = true;
        any = true;
      }
    }
  }
  if (!any) return;
  if (hitZero && FOpenCount > 0) {
    // Closed and opened again before we looked: bytes now waiting belong to
    // the new session.
    SlaveClosed(false);
    SlaveOpened();
  } else if (hitZero) {
    SlaveClosed(true);
  } else if (FOpenCount > 0 && !FSlaveOpen) {
    SlaveOpened();
  }
}

void TSimPtyTransport::ReadMaster() {
  // The tool's open is queued before its first bytes; see it first, or the
  // bytes would find no link to go to.
  if (FInotify >= 0 && !FInWatch) ReadWatch();
  uint8_t buf[4096];
  for (;;) {
    const ssize_t n = read(FMaster, buf, sizeof buf);
    if (n > 0) {
      if (FLinkUp) {
        CheckSpeed();
        FDevice.Receive(buf, static_cast<size_t>(n));
      }
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // EIO: nobody has the slave open any more (only without a slave of our own).
    if (n < 0 && errno == EIO && FSlaveOpen) SlaveClosed(false);
    return;
  }
}

void TSimPtyTransport::PollClosed() {
  pollfd p{FMaster, POLLIN, 0};
  if (poll(&p, 1, 0) < 0) return;
  if (!(p.revents & POLLHUP)) SlaveOpened();
}

void TSimPtyTransport::SlaveOpened() {
  if (FSlaveOpen) return;
  FSlaveOpen = true;
  if (FInotify < 0) {
    FPollTimer.stop();
    FReadNotifier->setEnabled(true);
  }
  if (!FLinkUp) LinkOpen();
  ReadMaster();
}

void TSimPtyTransport::SlaveClosed(bool deliverPending) {
  if (!FSlaveOpen) return;
  FSlaveOpen = false;
  // What the tool wrote before closing still reaches the device.
  if (deliverPending) ReadMaster();
  if (FLinkUp) LinkClose();
  if (FHeldSlave >= 0) {
    // A real port starts empty when opened again: drop what the tool left
    // unread, and an exclusive lock that a crashed tool could not release.
    tcflush(FHeldSlave, TCIFLUSH);
    ioctl(FHeldSlave, TIOCNXCL);
  } else {
    FReadNotifier->setEnabled(false);
    FPollTimer.start();
  }
}

void TSimPtyTransport::LinkOpen() {
  FLinkUp = true;
  FOut.clear();
  FDevice.Attach(&FScheduler, this);
  Event("link opened");
  FSpeed = 0;
  CheckSpeed();
  FDevice.LinkOpened();
  FSpeedTimer.start();
}

void TSimPtyTransport::LinkClose() {
  FLinkUp = false;
  FSpeedTimer.stop();
  FOut.clear();
  if (FWriteNotifier) FWriteNotifier->setEnabled(false);
  FDevice.Detach();
  FDevice.LinkClosed();
  Event("link closed");
}

void TSimPtyTransport::CheckSpeed() {
  const int speed = PtyLineSpeed(FMaster);
  if (speed <= 0 || speed == FSpeed) return;
  FSpeed = speed;
  FDevice.BaudRateChanged(speed);
  Event("line speed " + std::to_string(speed));
}

void TSimPtyTransport::Emit(const uint8_t* data, size_t count) {
  if (!FLinkUp || count == 0) return;
  FOut.insert(FOut.end(), data, data + count);
  FlushOut();
}

void TSimPtyTransport::FlushOut() {
  while (!FOut.empty()) {
    const ssize_t n = write(FMaster, FOut.data(), FOut.size());
    if (n > 0) {
      FOut.erase(FOut.begin(), FOut.begin() + n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      FWriteNotifier->setEnabled(true);  // the tool is not reading yet
      return;
    } else {
      FOut.clear();
    }
  }
  FWriteNotifier->setEnabled(false);
}

void TSimPtyTransport::Hangup() {
  if (!FLinkUp) return;
  LinkClose();
  Event("device hung up until the port is reopened");
}

void TSimPtyTransport::Event(const std::string& text) {
  if (OnEvent) OnEvent(text);
}
