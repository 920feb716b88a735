#include "support/RealLinks.h"

#include <QHostAddress>
#include <QTcpServer>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <numeric>

QCoreApplication& EnsureQtApp() {
  if (QCoreApplication* app = QCoreApplication::instance()) return *app;
  static int argc = 1;
  static char name[] = "qvxtest";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  return app;
}

int FreeTcpPort() {
  QTcpServer probe;
  if (!probe.listen(QHostAddress::LocalHost, 0)) return 0;
  return probe.serverPort();
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

TByteVec AllByteValues() {
  TByteVec all(256);
  std::iota(all.begin(), all.end(), 0);
  return all;
}

TTestPty::TTestPty() {
  int master = -1;
  int slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return;
  char name[128] = {};
  if (ptsname_r(master, name, sizeof name) != 0) {
    close(slave);
    close(master);
    return;
  }
  termios t{};
  tcgetattr(slave, &t);
  cfmakeraw(&t);
  tcsetattr(slave, TCSANOW, &t);
  close(slave);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  FMaster = master;
  FSlavePath = name;
}

TTestPty::~TTestPty() {
  CloseMaster();
}

void TTestPty::Write(const TByteVec& bytes) {
  size_t done = 0;
  while (done < bytes.size() && FMaster >= 0) {
    const ssize_t n = write(FMaster, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else {
      pollfd p{FMaster, POLLOUT, 0};
      if (poll(&p, 1, 100) < 0) return;
    }
  }
}

TByteVec TTestPty::Read(size_t count, int timeoutMs) {
  TByteVec out;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (out.size() < count && FMaster >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{FMaster, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    uint8_t buf[4096];
    const ssize_t n = read(FMaster, buf, sizeof buf);
    if (n > 0) out.insert(out.end(), buf, buf + n);
    if (n < 0 && errno == EIO) break;  // nobody has the slave open
  }
  return out;
}

void TTestPty::CloseMaster() {
  if (FMaster >= 0) close(FMaster);
  FMaster = -1;
}
