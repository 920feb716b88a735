// The simulator over real links: its transports in-process with a scripted
// device, and the built qvxsim in each mode, driven through the controller.
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <asm/termbits.h>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <memory>

#include "link/FlashWrRXCont.h"
#include "link/PortNames.h"
#include "link/qt/QtHost.h"
#include "link/qt/QtLinkFactory.h"
#include "sim/ScriptedDevice.h"
#include "sim/qt/QtSimScheduler.h"
#include "sim/qt/SimPtyTransport.h"
#include "sim/qt/SimTcpTransports.h"
#include "support/RealLinks.h"
#include "support/TestUi.h"

namespace {

// ---- the tool's side of a pseudo-terminal, as a bare descriptor ----------

int OpenSlave(const std::string& path) {
  return open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
}

void SetSlaveSpeed(int fd, int bps) {
  termios2 t{};
  ioctl(fd, TCGETS2, &t);
  t.c_cflag &= ~CBAUD;
  t.c_cflag |= BOTHER;
  t.c_ispeed = t.c_ospeed = static_cast<speed_t>(bps);
  ioctl(fd, TCSETS2, &t);
}

// Reads what the device sent while the event loop runs.
TByteVec ReadSlave(int fd, size_t count, int timeoutMs) {
  TByteVec out;
  (void)QTest::qWaitFor(
      [&] {
        uint8_t buf[4096];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) out.insert(out.end(), buf, buf + n);
        return out.size() >= count;
      },
      timeoutMs);
  return out;
}

struct TEcho : TScriptedDevice {
  TEcho() {
    OnReceive = [](TScriptedDevice& d, const TBytes& b) { d.Reply(b); };
  }
};

struct TTransportTest : ::testing::Test {
  static void SetUpTestSuite() { EnsureQtApp(); }
  TQtSimScheduler Scheduler;
  TEcho Device;
};

TEST(QtSimScheduler, RunsWorkInDueOrderThenInScheduledOrder) {
  EnsureQtApp();
  TQtSimScheduler s;
  std::string order;
  s.After(400, [&] { order += 'a'; });
  s.After(200, [&] { order += 'b'; });
  s.After(200, [&] { order += 'c'; });
  s.After(0, [&] {
    order += 'd';
    s.After(0, [&] { order += 'e'; });
  });
  EXPECT_EQ(order, "");  // never from inside After
  ASSERT_TRUE(QTest::qWaitFor([&] { return order.size() == 5; }, 2000));
  EXPECT_EQ(order, "debca");
}

TEST_F(TTransportTest, PtyFollowsOpensClosesQuickReopensAndLineSpeed) {
  TSimPtyTransport t(Device, Scheduler);
  ASSERT_TRUE(t.Open()) << t.ErrorText();
  ASSERT_TRUE(t.WatchingOpens());

  int fd = OpenSlave(t.SlavePath());
  ASSERT_GE(fd, 0);
  const TByteVec all = AllByteValues();
  ASSERT_EQ(write(fd, all.data(), all.size()), 256);  // before the open was even seen
  EXPECT_EQ(ReadSlave(fd, 256, 2000), all);
  EXPECT_EQ(Device.FOpenCount, 1);

  SetSlaveSpeed(fd, 19200);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Device.FBaudRate == 19200; }, 1000));
  SetSlaveSpeed(fd, 250000);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Device.FBaudRate == 250000; }, 1000));

  // Closed and reopened at once, as the tool does to power-cycle the reader.
  close(fd);
  fd = OpenSlave(t.SlavePath());
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return Device.FCloseCount == 1 && Device.FOpenCount == 2; }, 1000));

  // A reply the tool left unread is gone when the port is opened again.
  ASSERT_EQ(write(fd, "abc", 3), 3);
  QTest::qWait(100);
  close(fd);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Device.FCloseCount == 2; }, 1000));
  fd = OpenSlave(t.SlavePath());
  EXPECT_TRUE(ReadSlave(fd, 1, 200).empty());
  close(fd);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Device.FCloseCount == 3; }, 1000));

  // Nobody has the port open: the transport idles.
  const double cpu = CpuSeconds();
  QTest::qWait(300);
  EXPECT_LT(CpuSeconds() - cpu, 0.05);
}

TEST_F(TTransportTest, PtyDeviceThatHangsUpIsSilentUntilThePortIsReopened) {
  TSimPtyTransport t(Device, Scheduler);
  ASSERT_TRUE(t.Open()) << t.ErrorText();
  int fd = OpenSlave(t.SlavePath());
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Device.FOpenCount == 1; }, 1000));
  Device.Drop();
  EXPECT_EQ(Device.FCloseCount, 1);
  ASSERT_EQ(write(fd, "ping", 4), 4);
  EXPECT_TRUE(ReadSlave(fd, 1, 300).empty());
  EXPECT_TRUE(Device.FReceived.empty());

  close(fd);
  fd = OpenSlave(t.SlavePath());
  ASSERT_TRUE(QTest::qWaitFor([&] { return Device.FOpenCount == 2; }, 1000));
  ASSERT_EQ(write(fd, "pong", 4), 4);
  EXPECT_EQ(ReadSlave(fd, 4, 1000), (TByteVec{'p', 'o', 'n', 'g'}));
  close(fd);
}

TEST_F(TTransportTest, PtyWithoutWatchingSeesTheHangupAndIdlesWhileClosed) {
  TSimPtyTransport t(Device, Scheduler);
  ASSERT_TRUE(t.Open(false)) << t.ErrorText();
  EXPECT_FALSE(t.WatchingOpens());

  int fd = OpenSlave(t.SlavePath());
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Device.FOpenCount == 1; }, 1000));
  ASSERT_EQ(write(fd, "ping", 4), 4);
  EXPECT_EQ(ReadSlave(fd, 4, 1000), (TByteVec{'p', 'i', 'n', 'g'}));

  close(fd);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Device.FCloseCount == 1; }, 1000));
  const double cpu = CpuSeconds();
  QTest::qWait(300);
  EXPECT_LT(CpuSeconds() - cpu, 0.05);

  fd = OpenSlave(t.SlavePath());
  EXPECT_TRUE(QTest::qWaitFor([&] { return Device.FOpenCount == 2; }, 1000));
  close(fd);
}

TEST_F(TTransportTest, TcpServerCarriesTheNewestConnectionAndHangsUp) {
  TSimTcpServerTransport t(Device, Scheduler);
  ASSERT_TRUE(t.Listen(0)) << t.ErrorText();
  QTcpSocket a;
  a.connectToHost(QHostAddress::LocalHost, t.Port());
  ASSERT_TRUE(QTest::qWaitFor([&] { return Device.FOpenCount == 1; }, 2000));
  QTcpSocket b;
  b.connectToHost(QHostAddress::LocalHost, t.Port());
  ASSERT_TRUE(QTest::qWaitFor([&] { return Device.FOpenCount == 2; }, 2000));
  EXPECT_EQ(Device.FCloseCount, 1);
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return a.state() == QAbstractSocket::UnconnectedState; }, 2000));

  b.write("ping");
  ASSERT_TRUE(QTest::qWaitFor([&] { return b.bytesAvailable() >= 4; }, 2000));
  EXPECT_EQ(b.readAll(), QByteArray("ping"));

  Device.Drop();
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return b.state() == QAbstractSocket::UnconnectedState; }, 2000));
  EXPECT_EQ(Device.FCloseCount, 2);
}

TEST_F(TTransportTest, TcpClientRetriesUntilThePcListensAndReconnectsAfterAHangup) {
  const int port = FreeTcpPort();
  ASSERT_GT(port, 0);
  TSimTcpClientTransport t(Device, Scheduler);
  t.Start("127.0.0.1", port);
  QTest::qWait(700);  // refused meanwhile

  QTcpServer pc;
  ASSERT_TRUE(pc.listen(QHostAddress::LocalHost, port));
  ASSERT_TRUE(QTest::qWaitFor([&] { return pc.hasPendingConnections(); }, 2000));
  QTcpSocket* c = pc.nextPendingConnection();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Device.FOpenCount == 1; }, 1000));
  c->write("ping");
  ASSERT_TRUE(QTest::qWaitFor([&] { return c->bytesAvailable() >= 4; }, 2000));
  EXPECT_EQ(c->readAll(), QByteArray("ping"));

  QElapsedTimer t0;
  t0.start();
  Device.Drop();
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return c->state() == QAbstractSocket::UnconnectedState; }, 2000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return pc.hasPendingConnections(); }, 3000));
  EXPECT_GE(t0.elapsed(), TSimTcpClientTransport::kHangupPauseMs - 50);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Device.FOpenCount == 2; }, 1000));
}

// ---- the qvxsim executable -----------------------------------------------

class TSimProcess {
 public:
  ~TSimProcess() {
    if (FProcess.state() != QProcess::NotRunning) {
      FProcess.kill();
      FProcess.waitForFinished(2000);
    }
  }
  // Starts qvxsim and returns its one stdout line ("" when none came).
  QString Start(const QStringList& args) {
    FProcess.start(QVXSIM_PATH, args);
    if (!FProcess.waitForStarted(5000)) return {};
    if (!QTest::qWaitFor([&] { return FProcess.canReadLine(); }, 5000)) return {};
    return QString::fromLocal8Bit(FProcess.readLine()).trimmed();
  }
  // Link events qvxsim wrote so far.
  QString Events() {
    FStderr += QString::fromLocal8Bit(FProcess.readAllStandardError());
    return FStderr;
  }
  bool WaitForEvent(const QString& text, int count = 1, int timeoutMs = 2000) {
    return QTest::qWaitFor([&] { return Events().count(text) >= count; }, timeoutMs);
  }
  // SIGTERM (or another signal): true when it ended by itself, cleanly.
  bool Stop(int signal = SIGTERM) {
    ::kill(static_cast<pid_t>(FProcess.processId()), signal);
    return FProcess.waitForFinished(3000) && FProcess.exitStatus() == QProcess::NormalExit &&
           FProcess.exitCode() == 0;
  }

 private:
  QProcess FProcess;
  QString FStderr;
};

struct TQvxsimTest : ::testing::Test {
  static void SetUpTestSuite() { EnsureQtApp(); }
  void SetUp() override {
    Para.BaudRate = 115200;
    C = std::make_unique<TFlashWrRXCont>(Host, Links, Ui, Para);
  }
  // The served reader answers its ROM version request.
  void ExpectReader(const char* version = "2120KRV07") {
    ASSERT_EQ(C->ReadRomVersion(false), 1);
    EXPECT_STREQ(C->FRomVersion, version);
  }

  TQtHost Host;
  TQtLinkFactory Links;
  TTestUi Ui;
  tagCOMPara Para;
  std::unique_ptr<TFlashWrRXCont> C;
  TSimProcess Sim;
};

TEST_F(TQvxsimTest, SerialModeServesTheReaderFollowsTheLineSpeedAndSeesAReopen) {
  const QString line = Sim.Start({"--serial"});
  ASSERT_TRUE(line.startsWith("serial: /dev/pts/")) << line.toStdString();
  const std::string path = line.mid(8).toStdString();
  const int number = ComPortNumber(path);
  if (number == 0) GTEST_SKIP() << path << " has no port number";

  C->FLinkKind = 0;
  ASSERT_TRUE(C->OpenComPort(number));
  ExpectReader();

  C->CommX1->SetBaudRate(19200);
  ExpectReader();
  EXPECT_TRUE(Sim.WaitForEvent("line speed 19200"));

  ASSERT_TRUE(C->OpenComPort(number));  // closes first: the power cycle
  EXPECT_TRUE(Sim.WaitForEvent("link closed"));
  EXPECT_TRUE(Sim.WaitForEvent("link opened", 2));
  ExpectReader();

  EXPECT_TRUE(Sim.Stop());
  EXPECT_FALSE(QFile::exists(QString::fromStdString(path)));
  EXPECT_TRUE(QTest::qWaitFor([&] { return !C->CommX1->IsOpen(); }, 2000));
}

TEST_F(TQvxsimTest, TcpServerModeServesThePcAsClient) {
  const QString line = Sim.Start({"--tcp-server", "0"});
  ASSERT_TRUE(line.startsWith("listening: ")) << line.toStdString();
  const int port = line.mid(11).toInt();
  ASSERT_GT(port, 0);

  C->FLinkKind = 1;
  ASSERT_TRUE(C->OpenTcpLink(0, 0, port, "127.0.0.1"));
  ExpectReader();
  ASSERT_EQ(C->ReadIfbRomVersion(false), 1);  // the interface board is in the path
  EXPECT_STREQ(C->FRomVersion, "1022IFB01");

  EXPECT_TRUE(Sim.Stop(SIGINT));
  EXPECT_TRUE(QTest::qWaitFor([&] { return C->FSockConnected == 0; }, 2000));
}

TEST_F(TQvxsimTest, TcpConnectModeReachesThePcListeningLater) {
  const int port = FreeTcpPort();
  ASSERT_GT(port, 0);
  const QString where = "127.0.0.1:" + QString::number(port);
  EXPECT_EQ(Sim.Start({"--tcp-connect", where}), "connecting: " + where);
  QTest::qWait(600);  // refused at first

  C->FLinkKind = 1;
  ASSERT_TRUE(C->OpenTcpLink(port, 1, 0, ""));
  ExpectReader();

  EXPECT_TRUE(Sim.Stop());
  EXPECT_TRUE(QTest::qWaitFor([&] { return C->FSockConnected == 0; }, 2000));
}

TEST(Qvxsim, BadOptionsGiveUsageAndExitCode2) {
  EnsureQtApp();
  const QList<QStringList> bad = {{},
                                  {"--bogus"},
                                  {"--serial", "--tcp-server", "10777"},
                                  {"--tcp-server", "70000"},
                                  {"--tcp-server"},
                                  {"--tcp-connect", "10.0.0.1"},
                                  {"--serial", "extra"},
                                  {"--serial=1"},
                                  {"--serial", "--no-such-fault"},
                                  {"--serial", "--bm-refuse-block=x"}};
  for (const QStringList& args : bad) {
    QProcess p;
    p.start(QVXSIM_PATH, args);
    ASSERT_TRUE(p.waitForFinished(5000)) << args.join(' ').toStdString();
    EXPECT_EQ(p.exitCode(), 2) << args.join(' ').toStdString();
    EXPECT_TRUE(p.readAllStandardError().contains("usage:")) << args.join(' ').toStdString();
  }
  QProcess help;
  help.start(QVXSIM_PATH, {"--help"});
  ASSERT_TRUE(help.waitForFinished(5000));
  EXPECT_EQ(help.exitCode(), 0);
  const QByteArray text = help.readAllStandardOutput();
  EXPECT_TRUE(text.contains("--tcp-connect HOST:PORT"));
  EXPECT_TRUE(text.contains("wrong-model"));
}

TEST_F(TQvxsimTest, FaultSwitchesReachTheServedReader) {
  const QString line = Sim.Start({"--tcp-server", "0", "--rom-version=2130KRV07", "--old-board"});
  ASSERT_TRUE(line.startsWith("listening: ")) << line.toStdString();
  C->FLinkKind = 1;
  ASSERT_TRUE(C->OpenTcpLink(0, 0, line.mid(11).toInt(), "127.0.0.1"));
  ExpectReader("2130KRV07");
  EXPECT_EQ(C->CheckIfbVersion(1022), 0);
  EXPECT_TRUE(Sim.Stop());
}

}  // namespace
