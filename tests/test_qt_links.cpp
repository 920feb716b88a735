// The real Qt backends under the real controller and the real-time host:
// QSerialPort on a pseudo-terminal, QTcpSocket and QTcpServer on loopback.
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "link/FlashWrRXCont.h"
#include "link/PortNames.h"
#include "link/qt/QtClientSocket.h"
#include "link/qt/QtHost.h"
#include "link/qt/QtLinkFactory.h"
#include "link/qt/QtSerialPort.h"
#include "link/qt/QtServerSocket.h"
#include "sim/qt/PtySpeed.h"
#include "support/RealLinks.h"
#include "support/ScriptedLink.h"
#include "support/TestUi.h"

namespace {

const char kNoPortText[] =
    "がオープン出来ません!!\n\n  ポートを及びパラメータ設定を再確認してください。";

struct TQtLinkTest : ::testing::Test {
  static void SetUpTestSuite() { EnsureQtApp(); }

  void SetUp() override {
    Para.BaudRate = 115200;
    C = MakeQuietController(Host, Links, Ui, Para);
    C->FDetailLog = 1;  // the socket events and counts are detail lines
  }

  int CountLines(const std::string& line) const {
    return static_cast<int>(std::count(Ui.FLog.begin(), Ui.FLog.end(), line));
  }
  int CountLinesStartingWith(const std::string& prefix) const {
    return static_cast<int>(std::count_if(Ui.FLog.begin(), Ui.FLog.end(), [&](const auto& l) {
      return l.compare(0, prefix.size(), prefix) == 0;
    }));
  }
  // The pending counts the socket read events logged.
  std::vector<std::string> CountLinesLogged() const {
    std::vector<std::string> out;
    for (const auto& l : Ui.FLog)
      if (!l.empty() &&
          std::all_of(l.begin(), l.end(), [](char c) { return c >= '0' && c <= '9'; }))
        out.push_back(l);
    return out;
  }
  // Opens the controller's serial link on the pseudo-terminal.
  int OpenPty(const TTestPty& pty) {
    const int number = ComPortNumber(pty.SlavePath());
    if (number == 0) return 0;
    C->FLinkKind = 0;
    return C->OpenComPort(number) ? number : -1;
  }
  TByteVec Take(int count, uint32_t timeoutMs) {
    TByteVec buf(static_cast<size_t>(std::max(count, 1)) + 64);
    if (!C->WaitResponse(buf.data(), static_cast<int>(buf.size()), count, timeoutMs)) return {};
    buf.resize(static_cast<size_t>(count));
    return buf;
  }

  TQtHost Host;
  TQtLinkFactory Links;
  TTestUi Ui;
  tagCOMPara Para;
  std::unique_ptr<TFlashWrRXCont> C;
};

// ---- serial -------------------------------------------------------------

TEST_F(TQtLinkTest, SerialCarriesAllByteValuesAndAppliesLineSettingsAtOnce) {
  TTestPty pty;
  ASSERT_TRUE(pty.Ok());
  const int number = OpenPty(pty);
  if (number == 0) GTEST_SKIP() << pty.SlavePath() << " has no port number";
  ASSERT_GT(number, 0) << Ui.FMessages.back();

  const TByteVec all = AllByteValues();
  EXPECT_EQ(C->SendData(all.data(), 256, true), 256);
  // Read without running the event loop: the bytes left inside SendData.
  EXPECT_EQ(pty.Read(256, 2000), all);

  pty.Write(all);
  EXPECT_EQ(Take(256, 2000), all);

  termios t{};
  ASSERT_EQ(tcgetattr(pty.Master(), &t), 0);
  EXPECT_FALSE(t.c_cflag & CSTOPB);
  EXPECT_EQ(PtyLineSpeed(pty.Master()), 115200);

  C->CommX1->SetBaudRate(19200);
  EXPECT_EQ(PtyLineSpeed(pty.Master()), 19200);
  C->CommX1->SetBaudRate(250000);  // a custom rate
  EXPECT_EQ(PtyLineSpeed(pty.Master()), 250000);
  // A pseudo-terminal has no parity: reported as a line error, the port stays usable.
  C->CommX1->SetParity(2);
  EXPECT_EQ(CountLinesStartingWith(pty.SlavePath().substr(5) + ": unsupported setting"), 1);
  EXPECT_TRUE(C->CommX1->IsOpen());
  EXPECT_EQ(C->SendData(all.data(), 3, true), 3);
  EXPECT_EQ(pty.Read(3, 1000), TByteVec(all.begin(), all.begin() + 3));

  const tagCOMPara& para = C->GetComPara();
  EXPECT_EQ(para.Port, number);
  EXPECT_EQ(para.BaudRate, 250000);
  EXPECT_EQ(para.Parity, 2u);
  EXPECT_TRUE(Ui.FMessages.empty());
}

TEST_F(TQtLinkTest, SerialWaitsWakeWhenBytesArriveAndDoNotSpin) {
  TTestPty pty;
  ASSERT_TRUE(pty.Ok());
  if (OpenPty(pty) <= 0) GTEST_SKIP() << "no port number for " << pty.SlavePath();

  uint8_t buf[64];
  QElapsedTimer t;
  QTimer::singleShot(150, [&] { pty.Write({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}); });
  t.start();
  EXPECT_TRUE(C->WaitResponse(buf, sizeof buf, 10, 5000));
  EXPECT_GE(t.elapsed(), 140);
  EXPECT_LT(t.elapsed(), 1000);
  EXPECT_EQ(buf[9], 10);

  QTimer::singleShot(100, [&] { pty.Write({0x02, 0x00, 0x30, 1, 2, 3, 4, 5}); });
  t.restart();
  EXPECT_TRUE(C->WaitAck(8));
  EXPECT_LT(t.elapsed(), 900);
  EXPECT_EQ(C->GetRxCount(), 5);

  // Nothing comes: the wait lasts its time-out, sleeping, not spinning.
  C->ClearRxBuffer();
  const double cpu = CpuSeconds();
  t.restart();
  EXPECT_FALSE(C->WaitResponse(buf, sizeof buf, 1, 400));
  EXPECT_GE(t.elapsed(), 400);
  EXPECT_LT(t.elapsed(), 900);
  EXPECT_LT(CpuSeconds() - cpu, 0.1);
  EXPECT_TRUE(Ui.HasLine("レスポンス待ち　タイムオーバー"));
}

TEST_F(TQtLinkTest, SerialPeerGoneClosesThePortOnceWithoutFlood) {
  TTestPty pty;
  ASSERT_TRUE(pty.Ok());
  if (OpenPty(pty) <= 0) GTEST_SKIP() << "no port number for " << pty.SlavePath();
  const std::string name = pty.SlavePath().substr(5);  // "pts/N"

  pty.CloseMaster();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !C->CommX1->IsOpen(); }, 2000));
  const double cpu = CpuSeconds();
  QTest::qWait(300);
  EXPECT_LT(CpuSeconds() - cpu, 0.1);
  EXPECT_EQ(CountLinesStartingWith(name + ": "), 1);  // the error, written once

  const uint8_t b = 0x55;
  EXPECT_EQ(C->SendData(&b, 1, true), 0);
}

TEST_F(TQtLinkTest, SerialPortThatDoesNotExistShowsTheMessageAndStaysClosed) {
  EXPECT_FALSE(C->OpenComPort(ComPortNumber("ttyUSB255")));
  ASSERT_EQ(Ui.FMessages.size(), 1u);
  EXPECT_EQ(Ui.FMessages[0], std::string("ttyUSB255") + kNoPortText);
  EXPECT_FALSE(C->CommX1->IsOpen());
  const uint8_t b = 0x55;
  EXPECT_EQ(C->SendData(&b, 1, true), 0);

  // An absolute device path opens as it is.
  TTestPty pty;
  ASSERT_TRUE(pty.Ok());
  TQtSerialPort port;
  port.SetPortName(pty.SlavePath());
  port.SetBaudRate(115200);
  EXPECT_TRUE(port.Open());
  EXPECT_EQ(port.Write(&b, 1), 1);
  EXPECT_EQ(pty.Read(1, 1000), TByteVec{0x55});
}

// ---- TCP, the PC as client ----------------------------------------------

TEST_F(TQtLinkTest, ClientConnectsExchangesInChunksOf256AndKeepsAllWhenTheBoardLeaves) {
  QTcpServer board;
  ASSERT_TRUE(board.listen(QHostAddress::LocalHost, 0));
  C->FLinkKind = 1;
  ASSERT_TRUE(C->OpenTcpLink(0, 0, board.serverPort(), "127.0.0.1"));
  EXPECT_EQ(C->FSockConnected, 1);
  EXPECT_EQ(CountLines("ClientSocket1Connect00"), 1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return board.hasPendingConnections(); }, 2000));
  QTcpSocket* peer = board.nextPendingConnection();

  const TByteVec all = AllByteValues();
  EXPECT_EQ(C->SendData(all.data(), 256, true), 1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return peer->bytesAvailable() >= 256; }, 2000));
  const QByteArray got = peer->readAll();
  EXPECT_EQ(TByteVec(got.begin(), got.end()), all);

  TByteVec big(600);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7 + 1);
  Ui.FLog.clear();
  peer->write(reinterpret_cast<const char*>(big.data()), 600);
  peer->flush();
  EXPECT_EQ(Take(600, 2000), big);
  EXPECT_EQ(CountLinesLogged(), (std::vector<std::string>{"600", "344", "88"}));

  // What the board sends right before it closes is not lost.
  C->ClearRxBuffer();
  const TByteVec last(1000, 0xA5);
  peer->write(reinterpret_cast<const char*>(last.data()), 1000);
  peer->disconnectFromHost();
  EXPECT_TRUE(QTest::qWaitFor([&] { return C->FSockConnected == 0; }, 2000));
  EXPECT_EQ(C->GetRxCount(), 1000);
  QTest::qWait(50);
  EXPECT_EQ(CountLines("ClientSocket1Disconnect00"), 1);
  EXPECT_EQ(C->SendData(all.data(), 1, true), 0);
}

TEST_F(TQtLinkTest, ClientRefusedRetriesAtAPaceUntilTheWaitEnds) {
  const int port = FreeTcpPort();
  ASSERT_GT(port, 0);
  C->FLinkKind = 1;
  const double cpu = CpuSeconds();
  QElapsedTimer t;
  t.start();
  EXPECT_FALSE(C->OpenTcpLink(0, 0, port, "127.0.0.1"));
  EXPECT_GE(t.elapsed(), 12000);
  EXPECT_LT(t.elapsed(), 13000);
  // One attempt per 500 ms, not thousands of refused ones.
  const int errors = CountLines("ClientSocket1Error");
  EXPECT_GE(errors, 20);
  EXPECT_LE(errors, 26);
  EXPECT_LT(CpuSeconds() - cpu, 1.0);
  EXPECT_EQ(C->FSockConnected, 0);
}

TEST(QtClientSocket, BadAddressIsAnErrorEventAndRetriesArePaced) {
  EnsureQtApp();
  TQtClientSocket s;
  s.SetAddress("127.0.0.256");
  s.SetPort(9004);
  std::vector<qint64> at;
  std::string text;
  QElapsedTimer t;
  s.OnError = [&](const std::string& e) {
    at.push_back(t.elapsed());
    text = e;
    if (at.size() < 3) s.Activate();  // as the controller's error handler does
  };
  t.start();
  s.Activate();
  ASSERT_TRUE(QTest::qWaitFor([&] { return at.size() == 3; }, 3000));
  EXPECT_LT(at[0], 100);
  EXPECT_GE(at[1] - at[0], 480);
  EXPECT_GE(at[2] - at[1], 480);
  EXPECT_NE(text.find("127.0.0.256"), std::string::npos);
  EXPECT_FALSE(s.Connection().Send(reinterpret_cast<const uint8_t*>("x"), 1));
}

TEST(QtClientSocket, DeactivateRaisesOneDisconnectAndAnUnansweredConnectTimesOut) {
  EnsureQtApp();
  QTcpServer board;
  ASSERT_TRUE(board.listen(QHostAddress::LocalHost, 0));
  TQtClientSocket s;
  int connects = 0;
  int disconnects = 0;
  s.OnConnect = [&] { ++connects; };
  s.OnDisconnect = [&] { ++disconnects; };
  s.SetAddress("127.0.0.1");
  s.SetPort(board.serverPort());
  s.Activate();
  ASSERT_TRUE(QTest::qWaitFor([&] { return connects == 1; }, 2000));
  s.Deactivate();
  QTest::qWait(100);
  EXPECT_EQ(disconnects, 1);
  EXPECT_FALSE(s.Active());

  // A listener with a full backlog never answers the handshake.
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(listen(fd, 0), 0);
  ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len), 0);
  const int filler = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(connect(filler, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);

  std::string error;
  s.OnError = [&](const std::string& e) { error = e; };
  s.SetPort(ntohs(a.sin_port));
  s.SetConnectTimeoutMs(300);
  QElapsedTimer t;
  t.start();
  s.Activate();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !error.empty(); }, 3000));
  EXPECT_GE(t.elapsed(), 300);
  EXPECT_LT(t.elapsed(), 1500);
  EXPECT_NE(error.find("timed out"), std::string::npos);
  EXPECT_EQ(connects, 1);
  close(filler);
  close(fd);
}

// ---- TCP, the PC as server ----------------------------------------------

TEST_F(TQtLinkTest, ServerAcceptsTheBoardExchangesInChunksAndSeesItLeave) {
  const int port = FreeTcpPort();
  ASSERT_GT(port, 0);
  QTcpSocket board;
  QTimer::singleShot(50, [&] { board.connectToHost(QHostAddress::LocalHost, port); });
  C->FLinkKind = 1;
  ASSERT_TRUE(C->OpenTcpLink(port, 1, 0, ""));
  EXPECT_TRUE(Ui.HasLine("ServerSocket1Listen"));
  EXPECT_TRUE(Ui.HasLine("ServerSocket1ClientConnect"));
  EXPECT_TRUE(Ui.HasLine("ActiveConnections: 1"));
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return board.state() == QAbstractSocket::ConnectedState; }, 2000));

  const TByteVec all = AllByteValues();
  EXPECT_EQ(C->SendData(all.data(), 256, true), 1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return board.bytesAvailable() >= 256; }, 2000));
  const QByteArray got = board.readAll();
  EXPECT_EQ(TByteVec(got.begin(), got.end()), all);

  const TByteVec big(600, 0x3C);
  Ui.FLog.clear();
  board.write(reinterpret_cast<const char*>(big.data()), 600);
  board.flush();
  EXPECT_EQ(Take(600, 2000), big);
  EXPECT_EQ(CountLinesLogged(), (std::vector<std::string>{"600", "344", "88"}));
  EXPECT_EQ(CountLines("ServerSocket1ClientRead"), 3);

  board.disconnectFromHost();
  EXPECT_TRUE(QTest::qWaitFor([&] { return C->FSockConnected == 0; }, 2000));
  EXPECT_EQ(C->ServerSocket1->ActiveConnections(), 0);
  EXPECT_EQ(CountLines("ServerSocket1ClientDisconnect"), 1);
  EXPECT_EQ(C->SendData(all.data(), 1, true), 0);
}

TEST(QtServerSocket, KeepsAcceptanceOrderClosesAllAndReportsAPortInUse) {
  EnsureQtApp();
  TQtServerSocket s;
  int listens = 0;
  std::vector<ISocketConnection*> accepted;
  std::vector<ISocketConnection*> gone;
  std::vector<ISocketConnection*> readFrom;
  std::vector<std::string> listenErrors;
  s.OnListen = [&] { ++listens; };
  s.OnListenError = [&](const std::string& e) { listenErrors.push_back(e); };
  s.OnClientConnect = [&](ISocketConnection& c) { accepted.push_back(&c); };
  s.OnClientDisconnect = [&](ISocketConnection& c) { gone.push_back(&c); };
  s.OnClientRead = [&](ISocketConnection& c) {
    uint8_t buf[16];
    c.Receive(buf, sizeof buf);
    readFrom.push_back(&c);
  };
  s.SetPort(0);
  s.Activate();
  ASSERT_TRUE(s.Active());
  EXPECT_EQ(listens, 1);
  const int port = s.ListeningPort();

  QTcpSocket a;
  QTcpSocket b;
  a.connectToHost(QHostAddress::LocalHost, port);
  ASSERT_TRUE(QTest::qWaitFor([&] { return s.ActiveConnections() == 1; }, 2000));
  b.connectToHost(QHostAddress::LocalHost, port);
  ASSERT_TRUE(QTest::qWaitFor([&] { return s.ActiveConnections() == 2; }, 2000));
  EXPECT_EQ(s.Connection(0), accepted[0]);
  EXPECT_EQ(s.Connection(1), accepted[1]);
  EXPECT_EQ(s.Connection(2), nullptr);
  b.write("hi");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !readFrom.empty(); }, 2000));
  EXPECT_EQ(readFrom[0], accepted[1]);

  s.Deactivate();
  EXPECT_EQ(gone.size(), 2u);
  EXPECT_FALSE(s.Active());
  EXPECT_EQ(s.ActiveConnections(), 0);
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return a.state() == QAbstractSocket::UnconnectedState; }, 2000));

  // Activating an active server restarts it.
  s.SetPort(port);
  s.Activate();
  s.Activate();
  EXPECT_TRUE(s.Active());
  EXPECT_EQ(listens, 3);

  QTcpServer holder;
  ASSERT_TRUE(holder.listen(QHostAddress::Any, 0));
  s.SetPort(holder.serverPort());
  s.Activate();
  EXPECT_FALSE(s.Active());
  ASSERT_EQ(listenErrors.size(), 1u);
  EXPECT_NE(listenErrors[0].find(std::to_string(holder.serverPort())), std::string::npos);
}

}  // namespace
