// Every reader and interface-board command over the real Qt backends: the
// serial port on a pseudo-terminal and TCP on loopback (the PC as client and
// as server), against the simulated unit served by the simulator's own
// real-time transports.
#include <gtest/gtest.h>

#include <QTest>
#include <memory>

#include "link/FlashWrRXCont.h"
#include "link/PortNames.h"
#include "link/qt/QtHost.h"
#include "link/qt/QtLinkFactory.h"
#include "sim/SimUnit.h"
#include "sim/qt/QtSimScheduler.h"
#include "sim/qt/SimPtyTransport.h"
#include "sim/qt/SimTcpTransports.h"
#include "support/RealLinks.h"
#include "support/TestUi.h"

namespace {

enum class TWay { Serial, TcpClient, TcpServer };

struct TReaderLinkTest : ::testing::TestWithParam<TWay> {
  static void SetUpTestSuite() { EnsureQtApp(); }

  void SetUp() override {
    const TSimLink link = GetParam() == TWay::Serial ? TSimLink::Serial : TSimLink::Tcp;
    std::string error;
    Unit = TSimUnit::Create(Scheduler, link, {}, &error);
    ASSERT_TRUE(Unit) << error;
    tagCOMPara para;
    para.BaudRate = 115200;
    C = std::make_unique<TFlashWrRXCont>(Host, Links, Ui, para);
    C->FTxTrace = 0;
    C->FRxTrace = 0;
    switch (GetParam()) {
      case TWay::Serial: {
        Pty = std::make_unique<TSimPtyTransport>(Unit->Reader(), Scheduler);
        ASSERT_TRUE(Pty->Open()) << Pty->ErrorText();
        const int number = ComPortNumber(Pty->SlavePath());
        if (number == 0) GTEST_SKIP() << Pty->SlavePath() << " has no port number";
        C->FLinkKind = 0;
        ASSERT_TRUE(C->OpenComPort(number));
        break;
      }
      case TWay::TcpClient:
        Server = std::make_unique<TSimTcpServerTransport>(Unit->Reader(), Scheduler);
        ASSERT_TRUE(Server->Listen(0));
        C->FLinkKind = 1;
        ASSERT_TRUE(C->OpenTcpLink(0, 0, Server->Port(), "127.0.0.1"));
        break;
      case TWay::TcpServer: {
        const int port = FreeTcpPort();
        Client = std::make_unique<TSimTcpClientTransport>(Unit->Reader(), Scheduler);
        Client->Start("127.0.0.1", port);
        C->FLinkKind = 1;
        ASSERT_TRUE(C->OpenTcpLink(port, 1, 0, ""));
        break;
      }
    }
  }
  void TearDown() override {
    if (C) C->CloseLink();
    C.reset();
    QTest::qWait(20);  // let the transports see the link go
  }
  bool Tcp() const { return GetParam() != TWay::Serial; }

  TQtHost Host;
  TQtLinkFactory Links;
  TTestUi Ui;
  TQtSimScheduler Scheduler;
  std::unique_ptr<TSimUnit> Unit;
  std::unique_ptr<TSimPtyTransport> Pty;
  std::unique_ptr<TSimTcpServerTransport> Server;
  std::unique_ptr<TSimTcpClientTransport> Client;
  std::unique_ptr<TFlashWrRXCont> C;
};

TEST_P(TReaderLinkTest, IdentificationAndAcceptance) {
  ASSERT_EQ(C->DousaModeSet(false, 0, 0, 8, 0), 1);
  ASSERT_EQ(C->ReadRomVersion(true), 1);
  EXPECT_STREQ(C->FRomVersion, "2120KRV07");
  EXPECT_TRUE(Ui.HasLine("ROM Version : 2120KRV07"));
  ASSERT_EQ(C->ReadModelName(true, false), 1);
  EXPECT_STREQ(C->FModelName, "QVX-K417      ");
  EXPECT_EQ(C->CheckReaderModel(true), 1);
  EXPECT_EQ(C->AcceptReader(true), 1);
  EXPECT_EQ(C->FReaderAccepted, 1);
  EXPECT_TRUE(Ui.FMessages.empty());
}

TEST_P(TReaderLinkTest, InterfaceBoardCommands) {
  if (!Tcp()) {
    // No board in the USB path: its commands are refused by the reader.
    EXPECT_EQ(C->ReadIfbRomVersion(false), 0);
    return;
  }
  uint16_t word = 0;
  ASSERT_EQ(C->GetIFBMode(word, true), 1);
  EXPECT_EQ(word, 0x0012);
  EXPECT_EQ(C->IfbDousaModeSet(0x0094), 1);
  ASSERT_EQ(C->GetIFBMode(word, false), 1);
  EXPECT_EQ(word, 0x0094);
  EXPECT_EQ(C->SetIFBMode(0x0012, true), 1);
  EXPECT_TRUE(Ui.HasLine("SetIFBMode : OK"));
  C->IfbCmdThrough();
  EXPECT_EQ(C->CheckIfbVersion(1022), 1);
  EXPECT_STREQ(C->FRomVersion, "1022IFB01");
  EXPECT_EQ(C->RestartIfb(), 1);
}

TEST_P(TReaderLinkTest, ProgramModeTakesTheReaderIntoItsBootMonitor) {
  EXPECT_EQ(C->SetProgMode(), 1);
  EXPECT_EQ(Unit->Reader().State(), TSimReader::TState::BootMonitor);
}

TEST_P(TReaderLinkTest, ProgramModeWithEntryCodeThenRunsAt19200) {
  EXPECT_EQ(C->SetProgModeWithCode(), 1);
  EXPECT_EQ(Unit->Reader().State(), TSimReader::TState::BootMonitor);
  if (!Tcp()) {
    EXPECT_EQ(C->CommX1->BaudRate(), 19200);
  }
}

INSTANTIATE_TEST_SUITE_P(AllLinks, TReaderLinkTest,
                         ::testing::Values(TWay::Serial, TWay::TcpClient, TWay::TcpServer),
                         [](const auto& info) {
                           switch (info.param) {
                             case TWay::Serial:
                               return "Serial";
                             case TWay::TcpClient:
                               return "TcpClient";
                             default:
                               return "TcpServer";
                           }
                         });

}  // namespace
