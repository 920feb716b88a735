// The start-up connection below the window, in virtual time against the
// simulated reader: the serial step with its search, the TCP/IP step as
// client and server, re-write mode, the loop across both dialogs, the
// acceptance, the already-current lines and the interface-board gate.
#include <gtest/gtest.h>

#include <deque>
#include <functional>

#include "link/FlashWrRXCont.h"
#include "link/PortNames.h"
#include "sim/InProcessLink.h"
#include "sim/VirtualHost.h"
#include "sim/reader/SimReader.h"
#include "support/TestUi.h"

namespace {

using TLines = std::vector<std::string>;

// Answers the connection dialogs from a script and notes what the steps did
// to the window.
struct TScriptUi : TTestUi {
  using TSerialAnswer = std::function<TSerialPortChoice(const TSerialPortDialogSetup&, int32_t&)>;
  using TTcpAnswer = std::function<TTcpIpChoice(const tagTCPIPPara&, int32_t&)>;

  TSerialPortChoice RunSerialPortDialog(const TSerialPortDialogSetup& setup,
                                        int32_t& reWriteMode) override {
    Dialogs.push_back("serial");
    SerialSetups.push_back(setup);
    if (SerialAnswers.empty()) return {};  // cancel: the script has ended
    auto answer = SerialAnswers.front();
    SerialAnswers.pop_front();
    return answer(setup, reWriteMode);
  }
  TTcpIpChoice RunTcpIpDialog(const tagTCPIPPara& para, int32_t& reWriteMode) override {
    Dialogs.push_back("tcp");
    TcpOpenedWith.push_back(para);
    if (TcpAnswers.empty()) return {};
    auto answer = TcpAnswers.front();
    TcpAnswers.pop_front();
    return answer(para, reWriteMode);
  }
  void ShowMessageTitled(const std::string& title, const std::string& text,
                         TMsgKind kind) override {
    Titles.push_back(title);
    ShowMessage(text, kind);
  }
  void ShowPleaseWait(const std::string& caption, const std::string& label) override {
    ++PleaseWaitShown;
    PleaseWaitOpen = true;
    PleaseWaitCaption = caption;
    PleaseWaitLabels.push_back(label);
  }
  void SetPleaseWaitLabel(const std::string& label) override { PleaseWaitLabels.push_back(label); }
  void ClosePleaseWait() override { PleaseWaitOpen = false; }
  void SetStatusText(const std::string& text) override { Status.push_back(text); }
  void DisableUpdateEntries(bool alsoPopup) override {
    ++Disabled;
    DisabledPopup = alsoPopup;
  }
  void StoreMainComPara(const tagCOMPara& para) override { MainComPara = para; }
  void StoreLastTcpPara(const tagTCPIPPara& para) override { LastTcp = para; }
  void CloseMainWindow() override { ++CloseRequests; }

  std::deque<TSerialAnswer> SerialAnswers;
  std::deque<TTcpAnswer> TcpAnswers;
  std::vector<std::string> Dialogs;
  std::vector<TSerialPortDialogSetup> SerialSetups;
  std::vector<tagTCPIPPara> TcpOpenedWith;
  std::vector<std::string> Titles;
  int PleaseWaitShown = 0;
  bool PleaseWaitOpen = false;
  std::string PleaseWaitCaption;
  TLines PleaseWaitLabels;
  TLines Status;
  int Disabled = 0;
  bool DisabledPopup = false;
  tagCOMPara MainComPara;
  tagTCPIPPara LastTcp;
  int CloseRequests = 0;
};

TScriptUi::TSerialAnswer Open(std::vector<std::string> entries, int selected,
                              bool autoCheck = false, int speedItem = kSpeedItem115200) {
  return [=](const TSerialPortDialogSetup&, int32_t&) {
    TSerialPortChoice c;
    c.ModalResult = kModalOk;
    c.Entries = entries;
    c.Selected = selected;
    c.AutoCheck = autoCheck;
    c.SpeedItem = speedItem;
    return c;
  };
}

TScriptUi::TSerialAnswer SerialButton(int modalResult) {
  return [=](const TSerialPortDialogSetup&, int32_t&) {
    TSerialPortChoice c;
    c.ModalResult = modalResult;
    return c;
  };
}

TScriptUi::TTcpAnswer Connect(int server, const std::string& addr, int port, int listenPort = 10777,
                              bool listed = true) {
  return [=](const tagTCPIPPara&, int32_t&) {
    TTcpIpChoice c;
    c.ModalResult = kModalOk;
    c.Para.fTCPServer = server;
    c.Para.TCPServAddr = addr;
    c.Para.TCPServPort = port;
    c.Para.TCPPort = listenPort;
    c.LocalAddressListed = listed;
    return c;
  };
}

TScriptUi::TTcpAnswer TcpButton(int modalResult) {
  return [=](const tagTCPIPPara&, int32_t&) {
    TTcpIpChoice c;
    c.ModalResult = modalResult;
    return c;
  };
}

TSimReaderOptions Options(std::initializer_list<const char*> switches) {
  TSimReaderOptions o;
  for (const char* s : switches) EXPECT_TRUE(o.SetSwitch(s)) << s;
  return o;
}

struct TStartupTest : ::testing::Test {
  TVirtualHost Host;
  TSimLinkFactory Links{Host};
  TScriptUi Ui;
  // Declared before the controller, which closes its links on destruction.
  std::vector<std::unique_ptr<TSimReader>> Readers;
  std::unique_ptr<TFlashWrRXCont> C;

  void SetUp() override {
    tagCOMPara para;
    para.BaudRate = 115200;
    para.WriteSpeedIndex = 4;
    C = std::make_unique<TFlashWrRXCont>(Host, Links, Ui, para);
    // As the main window leaves them.
    C->FDetailLog = C->FTxTrace = C->FRxTrace = 0;
    C->FLinkKind = 0;
  }
  TSimReader& Reader(TSimReaderOptions options = {}) {
    Readers.push_back(std::make_unique<TSimReader>(std::move(options)));
    return *Readers.back();
  }
  TFlashWrRXCont::TStartupOutcome Run() { return C->RunStartupConnection(4); }
};

// ---- serial ---------------------------------------------------------------

TEST_F(TStartupTest, AutoCheckFindsTheReaderOnTheSecondEntry) {
  TSimReader& empty = Reader(Options({"no-reader"}));
  TSimReader& reader = Reader();
  Links.AddSerialDevice("ttyUSB0", &empty);
  Links.AddSerialDevice("ttyUSB1", &reader);
  Ui.SerialAnswers = {Open({"ttyUSB0(CP2102)", "ttyUSB1(FT232R)"}, 0, true)};

  const uint32_t start = Host.TickCount();
  const auto out = Run();
  // The empty port cost its two operation-mode time-outs.
  EXPECT_GE(Host.TickCount() - start, 2000u);

  EXPECT_FALSE(out.Ended);
  EXPECT_TRUE(out.ReaderFound);
  EXPECT_EQ(out.RomVersionText, "2120KRV07");
  EXPECT_EQ(Ui.FLog, (TLines{"ROM Version : 2120KRV07", "Find QVX R/W ", "PORT   : 258",
                             "Speed  : 115200", "Module : QVX-K417      "}));
  EXPECT_EQ(C->FReaderAccepted, 1);
  EXPECT_EQ(Ui.Disabled, 0);
  EXPECT_EQ(Ui.Connected(), 1);

  // Probed twice on the empty port, once (and then asked) on the reader.
  EXPECT_EQ(empty.FReaderRequests.size(), 0u);
  ASSERT_GE(reader.FReaderRequests.size(), 2u);
  EXPECT_EQ(reader.FReaderRequests[0].Letter, 'N');
  EXPECT_EQ(reader.FReaderRequests[0].Data, (TBytes{0x00, 0x00, 0x00, 0x08, 0x01, 0x00, 0x00}));
  EXPECT_EQ(reader.FReaderRequests[1].Letter, 'O');

  // The record the window keeps, and the please-wait window's life.
  EXPECT_EQ(C->FComPara.Port, ComPortNumber("ttyUSB1"));
  EXPECT_EQ(Ui.MainComPara.Port, 258);
  EXPECT_EQ(Ui.MainComPara.BaudRate, 115200);
  EXPECT_EQ(Ui.PleaseWaitShown, 1);
  EXPECT_FALSE(Ui.PleaseWaitOpen);
  EXPECT_EQ(Ui.PleaseWaitCaption, "しばらくお待ちください");
  EXPECT_EQ(Ui.PleaseWaitLabels, (TLines{"------- Check QVX R/W ----------",
                                         "Check PORT:257 115.2kbps", "Check PORT:258 115.2kbps"}));
  EXPECT_EQ(Ui.Status, (TLines{"------- Check QVX R/W ----------", ""}));
  // The dialog opened on the stored port at 115200 with nothing in the
  // write-speed box.
  ASSERT_EQ(Ui.SerialSetups.size(), 1u);
  EXPECT_EQ(Ui.SerialSetups[0].PortName, ComPortName(1));
  EXPECT_EQ(Ui.SerialSetups[0].SpeedItem, kSpeedItem115200);
  EXPECT_EQ(Ui.SerialSetups[0].WriteSpeedItem, 4);
}

TEST_F(TStartupTest, ChosenPortWithoutReaderEndsWithTheNoReaderLines) {
  TSimReader& empty = Reader(Options({"no-reader"}));
  TSimReader& reader = Reader();
  Links.AddSerialDevice("ttyUSB0", &empty);
  Links.AddSerialDevice("ttyUSB1", &reader);
  Ui.SerialAnswers = {Open({"ttyUSB0()", "ttyUSB1()"}, 0)};  // Auto Check off

  const auto out = Run();
  EXPECT_FALSE(out.Ended);
  EXPECT_FALSE(out.ReaderFound);
  EXPECT_EQ(Ui.FLog,
            (TLines{"R/Wモジュールが見つかりませんでした。", "R/Wの接続を確認してください。"}));
  EXPECT_TRUE(reader.FReaderRequests.empty());  // only the chosen port is searched
  EXPECT_EQ(Ui.Disabled, 1);
  EXPECT_FALSE(Ui.DisabledPopup);
  EXPECT_EQ(C->FReaderMissing, 1);
  EXPECT_EQ(Ui.Dialogs.size(), 1u);  // no second pass of the loop
}

TEST_F(TStartupTest, EntriesWithoutAPortNumberAreNotSearched) {
  TSimReader& reader = Reader();
  Links.AddSerialDevice("ttyUSB1", &reader);
  EXPECT_FALSE(C->SearchReaderPort("(no name)"));
  EXPECT_FALSE(C->SearchReaderPort("rfcomm0(Bluetooth)"));
  EXPECT_TRUE(Ui.FMessages.empty());
  EXPECT_TRUE(C->SearchReaderList({"rfcomm0()", "ttyUSB1()"}));
  EXPECT_EQ(C->FComPara.Port, 258);
}

TEST_F(TStartupTest, WrongModelIsFoundButRefusedWithTheBox) {
  TSimReader& reader = Reader(Options({"wrong-model"}));
  Links.AddSerialDevice("ttyACM0", &reader);
  Ui.SerialAnswers = {Open({"ttyACM0()"}, 0)};

  const auto out = Run();
  EXPECT_TRUE(out.ReaderFound);
  EXPECT_EQ(C->FReaderAccepted, 0);
  EXPECT_EQ(Ui.FLog.back(), "Module : QVX-K316      ");
  EXPECT_EQ(Ui.FLog[2], "PORT   : 513");
  ASSERT_EQ(Ui.FMessages.size(), 1u);
  EXPECT_EQ(Ui.FMessages[0], "対応外のR/Wモジュールです。お使いのRW対応のツールをお使いください。");
  EXPECT_EQ(Ui.Disabled, 0);  // the update command shows the text again when pressed
}

TEST_F(TStartupTest, ReaderAlreadyOnTheBuiltInVersionGetsTheTwoLines) {
  TSimReader& reader = Reader(Options({"rom-version=K2130RV07"}));
  Links.AddSerialDevice("ttyUSB0", &reader);
  Ui.SerialAnswers = {Open({"ttyUSB0()"}, 0)};

  const auto out = Run();
  EXPECT_TRUE(out.ReaderFound);
  EXPECT_EQ(out.RomVersionText, "K2130RV07");
  ASSERT_GE(Ui.FLog.size(), 2u);
  EXPECT_EQ(Ui.FLog[Ui.FLog.size() - 2], "※現在のROM VersionはアップデートするVersionと同一です。");
  EXPECT_EQ(Ui.FLog.back(), "　ファームアップデートを実行する必要はありません。");
  EXPECT_EQ(C->FReaderAccepted, 1);
  EXPECT_EQ(Ui.Disabled, 0);
}

TEST_F(TStartupTest, ReWriteOpenOnAMissingPortStillSucceedsWithoutAnyCommand) {
  TSimReader& reader = Reader();
  Links.AddSerialDevice("ttyUSB0", &reader);
  Ui.SerialAnswers = {[](const TSerialPortDialogSetup&, int32_t& reWrite) {
    reWrite = 1;  // ticked in the re-write setting
    TSerialPortChoice c;
    c.ModalResult = kModalOk;
    c.Entries = {"ttyUSB0()", "ttyUSB7()"};
    c.Selected = 1;
    c.SpeedItem = kSpeedItem9600;
    return c;
  }};

  const auto out = Run();
  EXPECT_EQ(C->FReWriteMode, 1);
  EXPECT_TRUE(out.ReaderFound);
  EXPECT_EQ(out.RomVersionText, "");
  EXPECT_EQ(C->FReaderAccepted, 1);
  EXPECT_EQ(Ui.FLog, (TLines{"再書き込みモードで、ファームのアップデートを実行します。"}));
  ASSERT_EQ(Ui.FMessages.size(), 1u);
  EXPECT_EQ(Ui.FMessages[0],
            "ttyUSB7がオープン出来ません!!\n\n  ポートを及びパラメータ設定を再確認してください。");
  EXPECT_EQ(C->FComPara.Port, ComPortNumber("ttyUSB7"));
  EXPECT_EQ(C->FComPara.BaudRate, 9600);
  EXPECT_EQ(C->CommX1->BaudRate(), 9600);
  EXPECT_TRUE(reader.FReaderRequests.empty());
  EXPECT_EQ(Ui.PleaseWaitShown, 0);
}

TEST_F(TStartupTest, EmptyPortListShowsTheSelectionErrorAndTheDialogComesBack) {
  TSimReader& reader = Reader();
  Links.AddSerialDevice("ttyUSB0", &reader);
  Ui.SerialAnswers = {Open({}, -1), Open({"ttyUSB0()"}, -1), Open({"ttyUSB0()"}, 0)};

  const auto out = Run();
  EXPECT_EQ(Ui.Dialogs, (TLines{"serial", "serial", "serial"}));
  EXPECT_EQ(Ui.Titles, (TLines{"COM選択エラー", "COM選択エラー"}));
  EXPECT_EQ(Ui.FMessages[0], "COM選択に問題があります。\n\nCOMの再選択をしてください。");
  EXPECT_EQ(Ui.FLastKind, TMsgKind::Warning);
  EXPECT_TRUE(out.ReaderFound);
}

// ---- the loop and its end ---------------------------------------------------

TEST_F(TStartupTest, SwitchingLinkKindsKeepsTheLoopGoing) {
  TSimReader& reader = Reader();
  Links.AddSerialDevice("ttyUSB0", &reader);
  Ui.SerialAnswers = {SerialButton(kModalTypeChange), Open({"ttyUSB0()"}, 0)};
  Ui.TcpAnswers = {TcpButton(kModalTypeChange)};

  const auto out = Run();
  EXPECT_EQ(Ui.Dialogs, (TLines{"serial", "tcp", "serial"}));
  EXPECT_EQ(C->FLinkKind, 0);
  EXPECT_TRUE(out.ReaderFound);
  EXPECT_EQ(Ui.CloseRequests, 0);
}

TEST_F(TStartupTest, CancelInEitherDialogEndsWithoutTouchingTheLink) {
  TSimReader& reader = Reader();
  Links.AddSerialDevice("ttyUSB0", &reader);
  Ui.SerialAnswers = {SerialButton(kModalCancel)};
  auto out = Run();
  EXPECT_TRUE(out.Ended);
  EXPECT_EQ(Ui.CloseRequests, 1);
  EXPECT_TRUE(Ui.FLog.empty());  // no acceptance ran
  EXPECT_EQ(Ui.Disabled, 0);
  EXPECT_TRUE(reader.FReaderRequests.empty());

  C->FLinkKind = 1;
  Ui.TcpAnswers = {TcpButton(kModalCancel)};
  out = Run();
  EXPECT_TRUE(out.Ended);
  EXPECT_EQ(Ui.CloseRequests, 2);
  EXPECT_FALSE(Ui.PleaseWaitOpen);
  EXPECT_TRUE(Ui.FLog.empty());
}

// ---- TCP/IP -----------------------------------------------------------------

TEST_F(TStartupTest, TcpClientFindsTheReaderAndPassesTheBoardGate) {
  TSimReader& reader = Reader(Options({"tcp"}));
  Links.AddTcpEndpoint("10.0.0.9", 9004, &reader);
  C->FLinkKind = 1;
  Ui.TcpAnswers = {Connect(0, "10.0.0.9", 9004)};

  const auto out = Run();
  EXPECT_TRUE(out.ReaderFound);
  EXPECT_EQ(Ui.FLog,
            (TLines{"ROM Version : 2120KRV07", "Find QVX R/W", "Module : QVX-K417      "}));
  EXPECT_EQ(Ui.Disabled, 0);
  EXPECT_EQ(Ui.LastTcp.TCPServAddr, "10.0.0.9");
  EXPECT_EQ(C->FTcpPara.TCPServPort, 9004);
  EXPECT_EQ(Ui.Status, (TLines{"------- Check QVX R/W ----------"}));  // kept after the search
  EXPECT_FALSE(Ui.PleaseWaitOpen);
  // The board was asked for its version after the reader's acceptance.
  ASSERT_FALSE(reader.FBoardRequests.empty());
  EXPECT_EQ(reader.FBoardRequests.back().Detail(), 0x90);
}

TEST_F(TStartupTest, TcpServerWaitsForTheBoardToConnect) {
  TSimReader& reader = Reader(Options({"tcp"}));
  Links.AddBoardConnectingTo(10777, &reader);
  C->FLinkKind = 1;
  Ui.TcpAnswers = {Connect(1, "0.0.0.0", 0, 10777)};
  const auto out = Run();
  EXPECT_TRUE(out.ReaderFound);
  EXPECT_EQ(Ui.FLog[1], "Find QVX R/W");
  EXPECT_EQ(C->FServerMode, 1);
}

TEST_F(TStartupTest, TcpServerWithNoBoardGivesUpAfterTwelveSeconds) {
  C->FLinkKind = 1;
  Ui.TcpAnswers = {Connect(1, "0.0.0.0", 0, 10778)};
  const uint32_t start = Host.TickCount();
  const auto out = Run();
  EXPECT_GE(Host.TickCount() - start, 12000u);
  EXPECT_LT(Host.TickCount() - start, 13000u);
  EXPECT_FALSE(out.ReaderFound);
  EXPECT_EQ(Ui.FLog[0], "R/Wモジュールが見つかりませんでした。");
  // No board version message once the reader is known to be missing.
  EXPECT_EQ(Ui.FLog.size(), 2u);
}

TEST_F(TStartupTest, OldBoardOverTcpDisablesAllThreeEntries) {
  TSimReader& reader = Reader(Options({"tcp", "old-board"}));
  Links.AddTcpEndpoint("10.0.0.9", 9004, &reader);
  C->FLinkKind = 1;
  Ui.TcpAnswers = {Connect(0, "10.0.0.9", 9004)};

  const auto out = Run();
  EXPECT_TRUE(out.ReaderFound);
  EXPECT_EQ(Ui.Disabled, 1);
  EXPECT_TRUE(Ui.DisabledPopup);
  EXPECT_EQ(Ui.FLog, (TLines{"ROM Version : 2120KRV07", "Find QVX R/W", "Module : QVX-K417      ",
                             "対応外のI/Fモジュールです。Ver1.022以上のI/Fモジュール搭載品のみTCP/"
                             "IP接続でのアップデートが可能です。",
                             "取扱説明書を参考にI/Fのバージョンを確認してください。"}));
}

TEST_F(TStartupTest, LinkKindTwoSkipsTheBoardGate) {
  TSimReader& reader = Reader(Options({"tcp", "old-board"}));
  Links.AddTcpEndpoint("10.0.0.9", 9004, &reader);
  C->FLinkKind = 2;
  Ui.TcpAnswers = {Connect(0, "10.0.0.9", 9004)};
  const auto out = Run();
  EXPECT_TRUE(out.ReaderFound);
  EXPECT_EQ(Ui.Disabled, 0);
  EXPECT_EQ(Ui.FLog.size(), 3u);
}

TEST_F(TStartupTest, TcpSelectionErrorWithoutALocalAddress) {
  C->FLinkKind = 1;
  Ui.TcpAnswers = {Connect(0, "10.0.0.9", 9004, 10777, false)};
  const auto out = Run();  // the second pass finds the script ended: cancel
  EXPECT_EQ(Ui.Dialogs, (TLines{"tcp", "tcp"}));
  EXPECT_EQ(Ui.Titles, (TLines{"TCP/IP選択エラー"}));
  EXPECT_EQ(Ui.FMessages[0], "TCP/IP選択に問題があります。\n\nTCP/IPの再選択をしてください。");
  EXPECT_TRUE(out.Ended);
  EXPECT_FALSE(C->FSockConnected);  // no connection was tried
}

TEST_F(TStartupTest, TcpReWriteConnectsWithoutAskingTheReader) {
  TSimReader& reader = Reader(Options({"tcp"}));
  Links.AddTcpEndpoint("10.0.0.9", 9004, &reader);
  C->FLinkKind = 1;
  Ui.TcpAnswers = {[](const tagTCPIPPara&, int32_t& reWrite) {
    reWrite = 1;
    TTcpIpChoice c;
    c.ModalResult = kModalOk;
    c.Para = {10777, 0, 9004, "10.0.0.9"};
    c.LocalAddressListed = true;
    return c;
  }};

  const auto out = Run();
  EXPECT_TRUE(out.ReaderFound);
  EXPECT_EQ(Ui.FLog.front(), "再書き込みモードで、ファームのアップデートを実行します。");
  EXPECT_TRUE(reader.FReaderRequests.empty());
  // The board gate still runs over TCP/IP.
  EXPECT_EQ(reader.FBoardRequests.size(), 1u);
  EXPECT_EQ(Ui.Disabled, 0);
}

TEST_F(TStartupTest, TcpLinkUpButReaderSilentIsNoReader) {
  TSimReader& reader = Reader(Options({"tcp", "silent"}));
  Links.AddTcpEndpoint("10.0.0.9", 9004, &reader);
  C->FLinkKind = 1;
  Ui.TcpAnswers = {Connect(0, "10.0.0.9", 9004)};
  const auto out = Run();
  EXPECT_FALSE(out.ReaderFound);
  EXPECT_TRUE(C->FSockConnected);
  EXPECT_EQ(Ui.FLog[0], "R/Wモジュールが見つかりませんでした。");
}

}  // namespace
