// The controller's ring, clock, waits and link primitives in virtual time.
#include <gtest/gtest.h>

#include "link/Checksums.h"
#include "link/FlashWrRXCont.h"
#include "link/PortNames.h"
#include "link/TimeOut.h"
#include "sim/InProcessLink.h"
#include "sim/ScriptedDevice.h"
#include "sim/VirtualHost.h"
#include "support/TestUi.h"

namespace {

struct TControllerTest : ::testing::Test {
  TVirtualHost Host;
  TSimLinkFactory Links{Host};
  TTestUi Ui;
  TScriptedDevice Device;
  tagCOMPara Para;
  std::unique_ptr<TFlashWrRXCont> C;

  void SetUp() override {
    Para.BaudRate = 115200;
    Links.AddSerialDevice("ttyUSB0", &Device);
    Links.AddTcpEndpoint("10.1.2.3", 9004, &Device);
    Links.AddBoardConnectingTo(10777, &Device);
    C = std::make_unique<TFlashWrRXCont>(Host, Links, Ui, Para);
  }
  void Feed(const TBytes& b) { C->AppendRx(b.data(), static_cast<int>(b.size())); }
  TBytes Drain() {
    TBytes out;
    while (C->GetRxCount() > 0) out.push_back(C->GetRxByte());
    return out;
  }
};

TEST_F(TControllerTest, RingCountsAndWrapsAtTheEnd) {
  C->FRxWritePos = 100;
  C->FRxReadPos = 16300;
  EXPECT_EQ(C->GetRxCount(), 184);

  C->FRxReadPos = 16383;
  C->FRxWritePos = 16383;
  Feed({0xAA, 0xBB, 0xCC});
  EXPECT_EQ(C->FRxWritePos, 2);
  EXPECT_EQ(C->GetRxCount(), 3);
  EXPECT_EQ(C->GetRxByte(), 0xAA);
  EXPECT_EQ(C->FRxReadPos, 0);
  EXPECT_EQ(Drain(), (TBytes{0xBB, 0xCC}));

  C->ClearRxBuffer();
  EXPECT_EQ(C->FRxReadPos, 0);
  EXPECT_EQ(C->FRxWritePos, 0);
  C->ClearRxBuffer();  // on an empty ring
  EXPECT_EQ(C->GetRxCount(), 0);
}

TEST_F(TControllerTest, FullRingDropsNewBytesAndKeepsUnreadOnes) {
  TBytes big(TFlashWrRXCont::kRxBufSize + 10);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
  Feed(big);
  EXPECT_EQ(C->GetRxCount(), TFlashWrRXCont::kRxBufSize - 1);
  EXPECT_EQ(C->FRxOverflow, 11);
  EXPECT_TRUE(Ui.HasLine("RX overflow: received bytes dropped"));
  const TBytes got = Drain();
  EXPECT_TRUE(std::equal(got.begin(), got.end(), big.begin()));
  C->ClearRxBuffer();
  EXPECT_EQ(C->FRxOverflow, 0);
}

TEST(TimeOutClock, MeasuresAcrossTheTickWrap) {
  TVirtualHost host(0xFFFFFFFFu - 255);  // wraps 256 ms from now
  SetTimeOutHost(&host);
  TimeOutCheck(0, 1000);
  host.Sleep(240);
  EXPECT_EQ(TimeOutCheck(1, 1000), 0);
  host.Sleep(256 + 743 - 240);  // 743 ms after the wrap
  EXPECT_EQ(TimeOutCheck(1, 1000), 0);
  host.Sleep(1);  // 744 ms after the wrap, 1000 after the start
  EXPECT_EQ(TimeOutCheck(1, 1000), 1);
  EXPECT_EQ(TimeOutCheck(7, 1000), 0);
  SetTimeOutHost(nullptr);
}

TEST_F(TControllerTest, WaitAckJudgesTheThirdByteAndLeavesTheRest) {
  Feed({0x02, 0x00, 0x30, 1, 2, 3, 4, 5});
  EXPECT_TRUE(C->WaitAck(8));
  EXPECT_EQ(Drain(), (TBytes{1, 2, 3, 4, 5}));

  Feed({0x02, 0x00, 0x31, 1, 2, 3, 4, 5});
  EXPECT_FALSE(C->WaitAck(8));
}

TEST_F(TControllerTest, WaitAckTimesOutAfterOneSecond) {
  const uint32_t start = Host.TickCount();
  Feed({0x02, 0x00});
  EXPECT_FALSE(C->WaitAck(3));
  EXPECT_EQ(Host.TickCount() - start, 1000u);
}

TEST_F(TControllerTest, WaitResponseMovesWhatArrivedEvenOnTimeOut) {
  C->FDetailLog = 1;
  ASSERT_TRUE(C->OpenComPort(ComPortNumber("ttyUSB0")));
  Device.Reply({1, 2, 3, 4}, 50);
  uint8_t buf[16] = {};
  const uint32_t start = Host.TickCount();
  EXPECT_FALSE(C->WaitResponse(buf, sizeof buf, 10, 600));
  EXPECT_EQ(Host.TickCount() - start, 600u);
  EXPECT_EQ(buf[0], 1);
  EXPECT_EQ(buf[3], 4);
  EXPECT_EQ(C->GetRxCount(), 0);
  EXPECT_TRUE(Ui.HasLine("レスポンス待ち　タイムオーバー"));
}

TEST_F(TControllerTest, WaitResponseWakesOnArrivalAndKeepsBufferBounds) {
  ASSERT_TRUE(C->OpenComPort(ComPortNumber("ttyUSB0")));
  Device.Reply({9, 8, 7, 6, 5, 4}, 30);
  uint8_t buf[4] = {};
  const uint32_t start = Host.TickCount();
  EXPECT_TRUE(C->WaitResponse(buf, sizeof buf, 5, 3000));
  EXPECT_LT(Host.TickCount() - start, 100u);
  EXPECT_EQ(buf[3], 6);
  EXPECT_EQ(C->GetRxCount(), 0);  // all six left the ring, four were copied
}

TEST_F(TControllerTest, SendOnClosedLinksReturnsZeroAndLogsNothing) {
  C->FDetailLog = 1;
  const uint8_t b[3] = {0x02, 0x00, 0x4F};
  C->FLinkKind = 0;
  EXPECT_EQ(C->SendData(b, 3, true), 0);
  C->FLinkKind = 1;
  EXPECT_EQ(C->SendData(b, 3, true), 0);
  EXPECT_TRUE(Ui.FLog.empty());
}

TEST_F(TControllerTest, SerialSendTracesAndDeviceAnswers) {
  C->FDetailLog = 1;
  C->FTxTrace = 1;
  ASSERT_TRUE(C->OpenComPort(ComPortNumber("ttyUSB0")));
  Device.OnReceive = [](TScriptedDevice& d, const TBytes&) { d.Reply({0x02, 0x00, 0x30}); };
  const uint8_t b[3] = {0x02, 0x00, 0x4F};
  EXPECT_EQ(C->SendData(b, 3, true), 3);
  EXPECT_TRUE(Ui.HasLine("TX: 02 00 4F "));
  EXPECT_TRUE(C->WaitAck(3));
  EXPECT_TRUE(Ui.HasLine("RX: 02 00 30 "));
}

TEST_F(TControllerTest, OpeningAMissingPortShowsTheMessage) {
  EXPECT_FALSE(C->OpenComPort(ComPortNumber("ttyUSB5")));
  ASSERT_EQ(Ui.FMessages.size(), 1u);
  EXPECT_EQ(Ui.FMessages[0],
            "ttyUSB5がオープン出来ません!!\n\n  ポートを及びパラメータ設定を再確認してください。");
  EXPECT_FALSE(C->CommX1->IsOpen());
}

TEST_F(TControllerTest, ConstructionDefaultsAndComPara) {
  EXPECT_EQ(C->FComPara.Port, 1);
  EXPECT_EQ(C->CommX1->PortName(), ComPortName(1));
  EXPECT_EQ(C->FTxTrace, 1);
  EXPECT_EQ(C->FRxTrace, 1);
  EXPECT_EQ(C->FDetailLog, 0);
  ASSERT_TRUE(C->OpenComPort(ComPortNumber("ttyUSB0")));
  C->CommX1->SetBaudRate(19200);
  const tagCOMPara& p = C->GetComPara();
  EXPECT_EQ(p.Port, 257);
  EXPECT_EQ(p.BaudRate, 19200);
}

TEST_F(TControllerTest, AddLogClearsAtThousandLinesAndHonoursDetailSwitch) {
  for (int i = 0; i < 999; ++i) C->AddLog("x", true);
  C->AddLog("y", true);
  EXPECT_EQ(Ui.LogLineCount(), 1000);
  C->AddLog("z", true);
  ASSERT_EQ(Ui.LogLineCount(), 1);
  EXPECT_EQ(Ui.FLog[0], "z");
  C->AddLog("hidden", false);
  EXPECT_EQ(Ui.LogLineCount(), 1);
}

TEST_F(TControllerTest, TcpClientConnectsSendsAndReadsInChunksOf256) {
  C->FLinkKind = 1;
  C->FDetailLog = 1;
  ASSERT_TRUE(C->OpenTcpLink(10777, 0, 9004, "10.1.2.3"));
  EXPECT_EQ(C->FSockConnected, 1);
  EXPECT_TRUE(Ui.HasLine("ClientSocket1Connect00"));

  const uint8_t b[2] = {0x41, 0x42};
  EXPECT_EQ(C->SendData(b, 2, true), 1);
  EXPECT_EQ(Device.FReceived, (TBytes{0x41, 0x42}));

  Ui.FLog.clear();
  Device.Reply(TBytes(600, 0x55));
  uint8_t buf[600];
  EXPECT_TRUE(C->WaitResponse(buf, sizeof buf, 600, 1000));
  std::vector<std::string> pending;
  for (const auto& l : Ui.FLog)
    if (!l.empty() && isdigit(static_cast<unsigned char>(l[0]))) pending.push_back(l);
  EXPECT_EQ(pending, (std::vector<std::string>{"600", "344", "88"}));

  C->CloseLink();
  Host.RunFor(10);
  EXPECT_EQ(C->FSockConnected, 0);
  EXPECT_EQ(C->SendData(b, 2, true), 0);
}

TEST_F(TControllerTest, TcpClientGivesUpAfterTwelveSecondsWithPacedRetries) {
  C->FLinkKind = 1;
  C->FDetailLog = 1;
  const uint32_t start = Host.TickCount();
  EXPECT_FALSE(C->OpenTcpLink(10777, 0, 9004, "10.9.9.9"));
  EXPECT_GE(Host.TickCount() - start, 12000u);
  int errors = 0;
  for (const auto& l : Ui.FLog) errors += l == "ClientSocket1Error";
  EXPECT_GE(errors, 20);
  EXPECT_LE(errors, 26);  // one attempt every 500 ms, not a spin
}

TEST_F(TControllerTest, TcpServerAcceptsTheBoardAndSendsToIt) {
  C->FLinkKind = 1;
  C->FDetailLog = 1;
  ASSERT_TRUE(C->OpenTcpLink(10777, 1, 9004, ""));
  EXPECT_TRUE(Ui.HasLine("ServerSocket1Listen"));
  EXPECT_TRUE(Ui.HasLine("ServerSocket1ClientConnect"));
  EXPECT_TRUE(Ui.HasLine("ActiveConnections: 1"));
  const uint8_t b[1] = {0x07};
  EXPECT_EQ(C->SendData(b, 1, true), 1);
  EXPECT_EQ(Device.FReceived, (TBytes{0x07}));
  Device.Reply({0x02, 0x00, 0x30});
  EXPECT_TRUE(C->WaitAck(3));
  EXPECT_TRUE(Ui.HasLine("ServerSocket1ClientRead"));

  Device.Drop();
  Host.RunFor(5);
  EXPECT_EQ(C->FSockConnected, 0);
  EXPECT_TRUE(Ui.HasLine("ServerSocket1ClientDisconnect"));
}

TEST(PortNames, MapNamesAndNumbersBothWays) {
  EXPECT_EQ(ComPortNumber("COM7"), 7);
  EXPECT_EQ(ComPortNumber("COM123"), 123);
  EXPECT_EQ(ComPortNumber("COMx"), 0);
  EXPECT_EQ(ComPortNumber("ttyS0"), 1);
  EXPECT_EQ(ComPortNumber("/dev/ttyUSB2"), 259);
  EXPECT_EQ(ComPortNumber("ttyACM0"), 513);
  EXPECT_EQ(ComPortNumber("/dev/pts/3"), 772);
  EXPECT_EQ(ComPortNumber("/dev/serial/by-id/x"), 0);
  EXPECT_EQ(ComPortNumber("ttyUSB999"), 0);
  for (int n : {1, 256, 257, 300, 513, 772, 1024}) EXPECT_EQ(ComPortNumber(ComPortName(n)), n) << n;
  EXPECT_EQ(ComPortName(258), "ttyUSB1");
  EXPECT_EQ(ComPortName(3), "ttyS2");
}

}  // namespace

namespace {
TEST(Checksums, PublishedCheckValues) {
  const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(Crc16Xmodem(check, 9), 0x31C3);
  EXPECT_EQ(Crc16X25(check, 9), 0x906E);
  const uint8_t frame[] = {0x02, 0x00, 0x4F, 0x02, 0x90, 0x00, 0x03};
  EXPECT_EQ(RangeSum(frame, 0, 7), 0xE6);
  const uint8_t bm[] = {0x01, 0xFF, 0x10};
  EXPECT_EQ(static_cast<uint8_t>(bm[0] + bm[1] + bm[2] + TwosComplementSum(bm, 3)), 0);
}
}  // namespace

namespace {
TEST_F(TControllerTest, BytesSentJustBeforeAHangUpAreStillRead) {
  C->FLinkKind = 1;
  ASSERT_TRUE(C->OpenTcpLink(10777, 0, 9004, "10.1.2.3"));
  Device.Reply({0x02, 0x00, 0x30, 0x00, 0x03});
  Host.After(50, [this] { Device.Drop(); });
  Host.Sleep(500);  // a plain pause: nothing is delivered until it ends
  EXPECT_TRUE(C->WaitAck(3));
  EXPECT_EQ(C->FSockConnected, 0);
}
}  // namespace
