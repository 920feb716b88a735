// The firmware update sequence against the simulated reader in virtual time:
// the update command's refusal, whole runs over serial and TCP/IP (client and
// server), the manual restart, every failure with its result code and advice
// lines, the operator's dialog and the exception path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "app/UpdateSequence.h"
#include "bootmonitor/ImageSet.h"
#include "bootmonitor/Sha256.h"
#include "link/FlashWrRXCont.h"
#include "link/PortNames.h"
#include "sim/InProcessLink.h"
#include "sim/VirtualHost.h"
#include "sim/bootmon/RomVersionMark.h"
#include "sim/bootmon/SimBootMonitorTarget.h"
#include "sim/reader/SimReader.h"
#include "support/TestUi.h"

namespace fs = std::filesystem;

namespace {

using TLines = std::vector<std::string>;

const std::string kHyphens(40, '-');
const TLines kDownloadOk = {"OK：リソース作成", "OK：ブート遷移中", "OK：アプレット書き込み",
                            "OK：アップデート", "OK：終了処理"};
const char kPowerCycle[] = "ソフトを終了し、R/Wの電源を入れ直してください。";
const char kWriteAgain[] = "再度ソフトを起動し、もう一度書き込みを行ってください。";
const char kReWrite[] =
    "再度ソフトを起動し、［再書込み行う］にチェックを入れてもう一度書き込みを行ってください。";
const char kCheckLink[] = "R/Wの接続、設定を確認してください。";
const TLines kNgTail = {"アップデートに失敗しました。", ""};

TLines Join(std::initializer_list<TLines> parts) {
  TLines all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// The lines of a whole successful run after the download.
TLines SuccessAfterDownload(const std::string& version) {
  return {"OK：ROM Version",
          "OK：ブート解除中",
          kHyphens,
          "",
          "ROM Version : " + version,
          "OK：RW FLASH Value ",
          "アップデートが正常に終了しました。",
          ""};
}

// Images made here, with the digests a build would record; the firmware
// carries the version text the simulated reader reports after its restart.
struct TTestImages : IImageSource {
  TBytes Image[3];
  std::string Digest[3];
  bool Missing = false;

  static void PutWord(TBytes& image, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) image[at + i] = static_cast<uint8_t>(value >> (8 * i));
  }
  static TBytes Noise(size_t size, uint32_t seed) {
    std::mt19937 gen(seed);
    TBytes b(size);
    for (auto& x : b) x = static_cast<uint8_t>(gen());
    return b;
  }
  void Make(const std::string& version) {
    TBytes applet = Noise(5948, 1);
    PutWord(applet, 0, 0x2001FFF0);
    PutWord(applet, 4, 0x20000D51);
    TBytes boot = Noise(13296, 2);
    PutWord(boot, 0, 0x2001F800);
    PutWord(boot, 4, 0x00400531);
    TBytes firmware = Noise(40000, 3);
    PutWord(firmware, 0, 0x2001F800);
    PutWord(firmware, 4, 0x004082D5);
    PutRomVersionMark(firmware.data(), firmware.size(), kRomVersionFirmwareOffset, version);
    Image[0] = applet;
    Image[1] = boot;
    Image[2] = firmware;
    for (int i = 0; i < 3; ++i) Digest[i] = TSha256::Hex(Image[i].data(), Image[i].size());
  }
  static int Index(TImageRole role) {
    return role == TImageRole::Applet ? 0 : role == TImageRole::Boot ? 1 : 2;
  }
  bool ReadImage(TImageRole role, std::vector<uint8_t>& out) override {
    if (Missing && role == TImageRole::Boot) return false;
    out = Image[Index(role)];
    return true;
  }
  std::string ExpectedSha256(TImageRole role) override { return Digest[Index(role)]; }
};

// Sits between the link and the simulated reader: records every request with
// its time, and can keep the reader from hearing anything. A deaf gate
// hears again when the link is reopened, which is how the operator's power
// cycle looks from the link; Pass then decides request by request.
class TReaderGate : public TSimDevice {
 public:
  explicit TReaderGate(TSimDevice& inner) : FInner(inner), FRelay(*this) { FReplyDelayMs = 0; }

  void Receive(const uint8_t* data, size_t count) override {
    const TBytes bytes(data, data + count);
    FSeen.push_back({Scheduler()->NowMs(), bytes});
    if (FDeaf || (Pass && !Pass(bytes))) return;
    FInner.Receive(data, count);
  }
  void LinkOpened() override {
    FOpen = true;
    FDeaf = false;
    FOpenedAt.push_back(Scheduler()->NowMs());
    FInner.Attach(Scheduler(), &FRelay);
    FInner.LinkOpened();
  }
  void LinkClosed() override {
    FOpen = false;
    FInner.Detach();
    FInner.LinkClosed();
  }
  void BaudRateChanged(int bps) override { FInner.BaudRateChanged(bps); }

  static bool IsReaderRequest(const TBytes& b, uint8_t letter, uint8_t detail) {
    return b.size() >= 5 && b[0] == 0x02 && b[2] == letter && b[4] == detail;
  }
  // Requests of this kind seen since time 'from'.
  int Count(uint8_t letter, uint8_t detail, uint64_t from = 0) const {
    return static_cast<int>(std::count_if(FSeen.begin(), FSeen.end(), [&](const auto& s) {
      return s.first >= from && IsReaderRequest(s.second, letter, detail);
    }));
  }
  // Time of the first such request at or after 'from'.
  uint64_t FirstAt(uint8_t letter, uint8_t detail, uint64_t from) const {
    for (const auto& [at, bytes] : FSeen)
      if (at >= from && IsReaderRequest(bytes, letter, detail)) return at;
    return UINT64_MAX;
  }

  bool FDeaf = false;
  bool FOpen = false;
  std::function<bool(const TBytes&)> Pass;
  std::vector<std::pair<uint64_t, TBytes>> FSeen;
  std::vector<uint64_t> FOpenedAt;

 private:
  struct TRelay : ISimWire {
    explicit TRelay(TReaderGate& g) : Gate(g) {}
    void Emit(const uint8_t* data, size_t count) override { Gate.Send(TBytes(data, data + count)); }
    void Hangup() override { Gate.Hangup(); }
    TReaderGate& Gate;
  };
  TSimDevice& FInner;
  TRelay FRelay;
};

// The operator's side: log, the confirmation dialog as a small model (an
// operator can press or close only a shown, enabled dialog), the main
// window, the update entries and the sounds; every call in order in Trace.
struct TUpdateUi : TTestUi {
  struct TDialog {
    bool Exists = false;
    bool Visible = false;
    bool Enabled = true;
    bool ButtonEnabled = true;
    int WaitFlag = 0;
    std::string Label1, Label2;
    int Points = 0;
    uint32_t Color = 0;
  };

  void LogAppendLine(const std::string& line) override {
    TTestUi::LogAppendLine(line);
    if (OnLine) OnLine(line);
  }
  void ShowMessage(const std::string& text, TMsgKind kind) override {
    TTestUi::ShowMessage(text, kind);
    Trace.push_back("message");
  }
  void CreateConfirm() override {
    D = TDialog{};
    D.Exists = true;
    D.WaitFlag = 1;
    Trace.push_back("create");
  }
  void ShowConfirm() override {
    D.Visible = true;
    D.WaitFlag = 1;
    Trace.push_back("show");
  }
  void HideConfirm() override {
    D.Visible = false;
    Trace.push_back("hide");
  }
  void BringConfirmToFront() override { Trace.push_back("front"); }
  void DestroyConfirm() override {
    D.Exists = D.Visible = false;
    Trace.push_back("destroy");
  }
  void SetConfirmEnabled(bool e) override {
    D.Enabled = e;
    Trace.push_back(e ? "enable" : "disable");
  }
  void SetConfirmButtonEnabled(bool e) override {
    D.ButtonEnabled = e;
    Trace.push_back(e ? "button on" : "button off");
  }
  void SetConfirmHeadline(const std::string& t) override {
    D.Label2 = t;
    Trace.push_back("Label2=" + t);
  }
  void SetConfirmText(const std::string& t) override {
    D.Label1 = t;
    Trace.push_back("Label1=" + t);
    if (OnText) OnText(t);
  }
  void SetConfirmFontSize(int points) override {
    D.Points = points;
    Trace.push_back("pt=" + std::to_string(points));
  }
  void SetConfirmColor(uint32_t rgb) override { D.Color = rgb; }
  void SetStageTitle(const std::string& t) override { Titles.push_back(t); }
  void SetGauge(int percent) override { Gauge = percent; }
  void SetMainWindowEnabled(bool e) override {
    MainEnabled = e;
    Trace.push_back(e ? "main on" : "main off");
  }
  void DisableUpdateEntries(bool alsoPopup) override {
    EntriesEnabled = false;
    if (alsoPopup) PopupEnabled = false;
    Trace.push_back("entries off");
  }
  void PlaySound(TSound s) override { Sounds.push_back(s == TSound::Ring ? "ring" : "alarm"); }
  void WaitForOperator() override {
    Trace.push_back("wait");
    if (D.WaitFlag == 0) return;
    ++Waits;
    if (OnWait)
      OnWait();
    else
      Press();
    if (D.WaitFlag != 0) ADD_FAILURE() << "nobody can end this wait: the dialog is not usable";
  }

  // The operator's actions.
  bool Press() {
    if (!D.Visible || !D.Enabled || !D.ButtonEnabled) return false;
    D.WaitFlag = 0;
    Trace.push_back("pressed");
    return true;
  }
  bool CloseDialog() {
    if (!D.Visible || !D.Enabled) return false;
    D.Visible = false;
    D.WaitFlag = 0;
    Trace.push_back("closed");
    return true;
  }
  // Position of the first entry equal to what, from 'from' on; npos if none.
  size_t Find(const std::string& what, size_t from = 0) const {
    const auto it = std::find(Trace.begin() + static_cast<long>(from), Trace.end(), what);
    return it == Trace.end() ? std::string::npos : static_cast<size_t>(it - Trace.begin());
  }

  TDialog D;
  bool MainEnabled = true;
  bool EntriesEnabled = true;
  bool PopupEnabled = true;
  int Gauge = -1;
  int Waits = 0;  // operator waits that needed the operator
  TLines Trace, Titles, Sounds;
  std::function<void()> OnWait;
  std::function<void(const std::string&)> OnText;
  std::function<void(const std::string&)> OnLine;
};

enum class TLink { Serial, TcpClient, TcpServer };

struct TUpdateTest : ::testing::Test {
  TVirtualHost Host;
  TSimLinkFactory Links{Host};
  TUpdateUi Ui;
  TTestImages Images;
  std::unique_ptr<TSimBootMonitorTarget> Target;
  std::unique_ptr<TSimReader> Reader;
  std::unique_ptr<TReaderGate> Gate;
  std::unique_ptr<TFlashWrRXCont> C;
  fs::path Dir;

  // The main window's fields.
  int32_t UpdateResult = -1;
  int32_t ComPortNumber = 0;
  tagTCPIPPara LastTcpPara;
  std::string RomVersionText = "2120KRV07";
  TUpdateWindowFields Fields{UpdateResult, ComPortNumber, LastTcpPara, RomVersionText};

  void SetUp() override {
    Dir = fs::temp_directory_path() /
          ("qvx-test-update-" +
           std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(Dir);
    fs::create_directories(Dir / "images");
    setenv("QVX_BACKUP_DIR", (Dir / "backup").c_str(), 1);
    Images = TTestImages();
    Images.Make("2130KRV07");
  }
  void TearDown() override {
    C.reset();
    Host.RunFor(10000);  // queued replies fall due while their devices live
    Gate.reset();
    Reader.reset();
    Target.reset();
    fs::remove_all(Dir);
  }

  // A reader running its old firmware, its boot monitor plugged in, and a
  // controller connected to it over link and accepted as at start-up.
  void Start(TLink link, TSimReaderOptions options = {}, bool accept = true) {
    Ui = TUpdateUi();
    UpdateResult = -1;
    ComPortNumber = 0;
    LastTcpPara = tagTCPIPPara{};
    RomVersionText = "2120KRV07";
    if (link != TLink::Serial) options.Link = TSimLink::Tcp;
    Reader = std::make_unique<TSimReader>(std::move(options));
    Target = std::make_unique<TSimBootMonitorTarget>(Host);
    ASSERT_TRUE(Target->FMonitor.SeedRomVersion("2120KRV07"));
    Reader->PlugBootTarget(Target.get());
    Gate = std::make_unique<TReaderGate>(*Reader);
    Links.AddSerialDevice("ttyUSB0", Gate.get());
    Links.AddTcpEndpoint("10.1.2.3", 9004, Gate.get());
    Links.AddBoardConnectingTo(10777, Gate.get());
    tagCOMPara para;
    para.BaudRate = 115200;
    C = std::make_unique<TFlashWrRXCont>(Host, Links, Ui, para);
    C->FTxTrace = 0;
    C->FRxTrace = 0;
    C->FImageSource = &Images;
    C->FImageTempRoot = (Dir / "images").string();
    if (link == TLink::Serial) {
      ASSERT_TRUE(C->OpenComPort(::ComPortNumber("ttyUSB0")));
    } else {  // TCP/IP as the dialog's "接続" leaves it
      LastTcpPara.TCPPort = 10777;
      LastTcpPara.fTCPServer = link == TLink::TcpServer ? 1 : 0;
      LastTcpPara.TCPServPort = 9004;
      LastTcpPara.TCPServAddr = "10.1.2.3";
      C->FLinkKind = 1;
      ASSERT_TRUE(C->OpenTcpLink(LastTcpPara.TCPPort, LastTcpPara.fTCPServer,
                                 LastTcpPara.TCPServPort, LastTcpPara.TCPServAddr));
    }
    if (accept) {
      ASSERT_EQ(C->AcceptReader(true), 1);
    }
    Ui.FLog.clear();
    Ui.Trace.clear();
  }
  static TSimReaderOptions BoardOnSerial() {
    TSimReaderOptions o;
    o.BoardOnSerial = true;
    return o;
  }
  // The reader falls silent right after answering the end processing, until
  // the operator's power cycle (the link closed and reopened).
  void SilentAfterEndProcessing() {
    Ui.OnLine = [this](const std::string& line) {
      if (line == "OK：終了処理") Gate->FDeaf = true;
    };
  }
  TUpdateOutcome Press() { return TB_WriteClick(*C, Fields); }
  bool ReaderRestored() const {
    return Reader->ParamMemory().FMemory == TSimParamMemory::OwnSettings();
  }
  int BoardRequests(int detail) const {
    return static_cast<int>(
        std::count_if(Reader->FBoardRequests.begin(), Reader->FBoardRequests.end(),
                      [&](const TSimRequest& r) { return r.Detail() == detail; }));
  }
};

// ---- the update command ---------------------------------------------------

TEST_F(TUpdateTest, WithoutAnAcceptedReaderTheCommandShowsTheStoredTextAndStartsNothing) {
  struct TCase {
    const char* Name;
    TSimReaderOptions Options;
    bool Found;
    std::string Text;
  };
  TSimReaderOptions wrongModel;
  wrongModel.WrongModel = true;
  const TCase cases[] = {{"no reader", {}, false, "R/Wモジュールが見つかりませんでした。"},
                         {"wrong model", wrongModel, true,
                          "対応外のR/Wモジュールです。お使いのRW対応のツールをお使いください。"}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Start(TLink::Serial, c.Options, false);
    C->AcceptReader(c.Found);
    Ui.FLog.clear();
    Ui.FMessages.clear();
    Ui.Trace.clear();
    const size_t requests = Gate->FSeen.size();

    const TUpdateOutcome outcome = Press();
    EXPECT_FALSE(outcome.Ran);
    EXPECT_EQ(Ui.FMessages, TLines{c.Text});
    EXPECT_EQ(Ui.FLastKind, TMsgKind::Error);
    EXPECT_EQ(Ui.Trace, TLines{"message"});  // no dialog, the window untouched
    EXPECT_TRUE(Ui.FLog.empty());
    EXPECT_EQ(Gate->FSeen.size(), requests);
    EXPECT_EQ(UpdateResult, -1);
    TearDown();
    SetUp();
  }
}

// ---- whole runs -------------------------------------------------------------

class TUpdateLinkTest : public TUpdateTest, public ::testing::WithParamInterface<TLink> {};

TEST_P(TUpdateLinkTest, ReaderAnsweringAtOnceGoesStraightThroughToOk) {
  Start(GetParam(), BoardOnSerial());
  const uint16_t modeBefore = Reader->IfbModeWord();
  uint64_t releaseShownAt = 0;
  Ui.OnText = [&](const std::string& t) {
    if (t == "ブート解除中...") releaseShownAt = Host.NowMs();
  };

  const TUpdateOutcome outcome = Press();

  EXPECT_TRUE(outcome.Ran);
  EXPECT_TRUE(outcome.Ok);
  EXPECT_EQ(outcome.Result, 0);
  EXPECT_EQ(UpdateResult, 0);
  EXPECT_EQ(Ui.FLog, Join({{"", kHyphens}, kDownloadOk, SuccessAfterDownload("2130KRV07")}));
  EXPECT_EQ(RomVersionText, "2130KRV07");
  EXPECT_STREQ(C->FSavedRomVersion, "2130KRV07");
  EXPECT_EQ(Reader->RomVersion(), "2130KRV07");
  EXPECT_TRUE(ReaderRestored());

  // No manual restart: only the final wait needed the operator.
  EXPECT_EQ(Ui.Waits, 1);
  EXPECT_EQ(std::count(Ui.Titles.begin(), Ui.Titles.end(), "手動再起動"), 0);
  // The dialog cannot be closed before the final wait; the window stays
  // disabled until the operator has confirmed the outcome.
  EXPECT_EQ(Ui.Find("enable"), Ui.Find("front", Ui.Find("entries off")) + 1);
  EXPECT_EQ(Ui.Find("main on"), Ui.Trace.size() - 1);
  EXPECT_EQ(Ui.D.Label1, "OK");
  EXPECT_EQ(Ui.D.Label2, "アップデートが正常に終了しました");
  EXPECT_EQ(Ui.D.Color, 0x0000FFu);
  EXPECT_EQ(Ui.D.Points, 72);
  EXPECT_FALSE(Ui.D.Exists);
  EXPECT_EQ(Ui.Sounds, TLines{"ring"});
  EXPECT_FALSE(Ui.EntriesEnabled);
  EXPECT_FALSE(Ui.PopupEnabled);
  EXPECT_TRUE(Ui.MainEnabled);
  EXPECT_EQ(Ui.Titles.back(), "");
  EXPECT_EQ(Ui.Gauge, 0);
  EXPECT_FALSE(Gate->FOpen);  // the link is closed at the end

  // The boot release: 6500 ms after its text the board is asked for its
  // version, gets back the mode word the download kept, and is restarted.
  EXPECT_EQ(Gate->FirstAt('E', 0x90, releaseShownAt) - releaseShownAt, 6500u);
  EXPECT_EQ(BoardRequests(0x0A), 1);
  const uint16_t expectedMode =
      GetParam() == TLink::Serial ? modeBefore : static_cast<uint16_t>((modeBefore & ~7) | 4);
  EXPECT_EQ(Reader->IfbModeWord(), expectedMode);
  if (GetParam() != TLink::Serial) {
    // Reconnected 2000 ms after the restart was acknowledged, for the restore.
    const uint64_t restartAt = Gate->FirstAt('E', 0x0A, 0);
    EXPECT_GE(Gate->FOpenedAt.back(), restartAt + 2000);
  }
}

INSTANTIATE_TEST_SUITE_P(Links, TUpdateLinkTest,
                         ::testing::Values(TLink::Serial, TLink::TcpClient, TLink::TcpServer),
                         [](const auto& info) {
                           return info.param == TLink::Serial      ? "Serial"
                                  : info.param == TLink::TcpClient ? "TcpClient"
                                                                   : "TcpServer";
                         });

// ---- manual restart ---------------------------------------------------------

struct TManualRestartCase {
  TLink Link;
  int VersionReads;  // after the link is reopened
};

class TManualRestartTest : public TUpdateTest,
                           public ::testing::WithParamInterface<TManualRestartCase> {};

TEST_P(TManualRestartTest, SilentReaderIsPowerCycledByTheOperatorAndReadAgain) {
  Start(GetParam().Link, BoardOnSerial());
  SilentAfterEndProcessing();
  bool closedDuringWait = false;
  uint64_t confirmedAt = 0;
  Ui.OnWait = [&] {
    if (Ui.Waits == 1) {
      closedDuringWait = !Gate->FOpen;
      Host.RunFor(15000);  // the operator takes a while
      confirmedAt = Host.NowMs();
    }
    Ui.Press();
  };

  const TUpdateOutcome outcome = Press();

  EXPECT_TRUE(outcome.Ok);
  EXPECT_EQ(UpdateResult, 0);
  EXPECT_EQ(Ui.FLog, Join({{"", kHyphens}, kDownloadOk, SuccessAfterDownload("2130KRV07")}));
  EXPECT_TRUE(ReaderRestored());
  EXPECT_EQ(Ui.Waits, 2);
  EXPECT_TRUE(closedDuringWait);

  // The dialog asks for the power cycle, hides after 「確認」, then shows the
  // version check with its button disabled.
  const TLines asked = {"Label2=手動再起動待機中",
                        "Label1=R/Wの電源を入れ直し，\n「確認」\nを押してください",
                        "enable",
                        "button on",
                        "wait",
                        "pressed",
                        "hide",
                        "show",
                        "Label2=電源を切らないでください",
                        "Label1=ROMVer確認中...",
                        "button off"};
  const size_t at = Ui.Find(asked[0]);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(TLines(Ui.Trace.begin() + static_cast<long>(at),
                   Ui.Trace.begin() + static_cast<long>(at + asked.size())),
            asked);
  EXPECT_NE(std::find(Ui.Titles.begin(), Ui.Titles.end(), "手動再起動"), Ui.Titles.end());
  EXPECT_NE(std::find(Ui.Titles.begin(), Ui.Titles.end(), "ROMVer確認"), Ui.Titles.end());

  // Reopened a second after 「確認」; then the version is read twice over
  // serial, four times over TCP/IP, before the boot release.
  const uint64_t reopenedAt =
      *std::upper_bound(Gate->FOpenedAt.begin(), Gate->FOpenedAt.end(), confirmedAt - 1);
  EXPECT_GE(reopenedAt - confirmedAt, 1000u);
  EXPECT_LT(reopenedAt - confirmedAt, 1100u);
  const uint64_t releaseAt = Gate->FirstAt('E', 0x90, reopenedAt);
  EXPECT_EQ(Gate->Count('O', 0x90, reopenedAt) - Gate->Count('O', 0x90, releaseAt),
            GetParam().VersionReads);
  if (GetParam().Link == TLink::Serial) {
    EXPECT_EQ(ComPortNumber, ::ComPortNumber("ttyUSB0"));
  }
}

TEST_P(TManualRestartTest, OnlyTheLastVersionReadAfterThePowerCycleCounts) {
  const int reads = GetParam().VersionReads;
  for (const bool lastAnswered : {true, false}) {
    SCOPED_TRACE(lastAnswered ? "only the last answered" : "all but the last answered");
    Start(GetParam().Link, BoardOnSerial());
    SilentAfterEndProcessing();
    Ui.OnWait = [&] {
      if (Ui.Waits == 1) {
        auto n = std::make_shared<int>(0);
        Gate->Pass = [n, reads, lastAnswered](const TBytes& b) {
          if (!TReaderGate::IsReaderRequest(b, 'O', 0x90)) return true;
          ++*n;
          return lastAnswered ? *n >= reads : *n < reads;
        };
      }
      Ui.Press();
    };

    const TUpdateOutcome outcome = Press();

    if (lastAnswered) {
      EXPECT_TRUE(outcome.Ok);
      EXPECT_EQ(Ui.FLog, Join({{"", kHyphens}, kDownloadOk, SuccessAfterDownload("2130KRV07")}));
    } else {
      // The R/W state check gets no answer either: code 6.
      EXPECT_FALSE(outcome.Ok);
      EXPECT_EQ(UpdateResult, 6);
      EXPECT_EQ(Ui.FLog, Join({{"", kHyphens},
                               kDownloadOk,
                               {"NG：Get ROM Version", "OK：ブート解除中", kHyphens},
                               kNgTail,
                               {kPowerCycle, kWriteAgain}}));
      EXPECT_EQ(RomVersionText, "2120KRV07");
      EXPECT_EQ(Reader->ParamMemory().FFactoryLoads, 0);
    }
    TearDown();
    SetUp();
  }
}

INSTANTIATE_TEST_SUITE_P(Links, TManualRestartTest,
                         ::testing::Values(TManualRestartCase{TLink::Serial, 2},
                                           TManualRestartCase{TLink::TcpClient, 4}),
                         [](const auto& info) {
                           return info.param.Link == TLink::Serial ? "Serial" : "TcpClient";
                         });

// ---- failures -----------------------------------------------------------------

TEST_F(TUpdateTest, FailedDownloadGetsCodeOneOrThreeFromTheStateCheck) {
  struct TCase {
    const char* Name;
    bool Tcp;
    std::function<void()> Fault;
    int32_t Code;
    TLines Download;
    TLines Advice;
  };
  // A missing image stops the download before any stage line.
  const TLines missing = {};
  const TCase cases[] = {
      // The reader still runs its own firmware and says so.
      {"images missing, reader answers",
       false,
       [&] { Images.Missing = true; },
       1,
       missing,
       {kPowerCycle, kWriteAgain}},
      // The answer comes from the interface board, not from the reader.
      {"images missing, board answers",
       true,
       [&] {
         Images.Missing = true;
         Reader->SetRomVersion("1022IFB01");
       },
       3,
       missing,
       {kPowerCycle, kReWrite}},
      // The reader is left in its boot monitor and answers nothing.
      {"applet refused",
       false,
       [&] { Target->FMonitor.FFaults.RefuseBlock = 0; },
       3,
       {"OK：リソース作成", "OK：ブート遷移中", "NG：アプレット書き込み"},
       {kPowerCycle, kReWrite}},
      // The restarted reader never answers the end processing.
      {"silent after restart",
       false,
       [&] { Reader->FOptions.SilentAfterRestart = true; },
       3,
       {"OK：リソース作成", "OK：ブート遷移中", "OK：アプレット書き込み", "OK：アップデート",
        "NG：終了処理"},
       {kPowerCycle, kReWrite}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Start(c.Tcp ? TLink::TcpClient : TLink::Serial, BoardOnSerial());
    c.Fault();

    const TUpdateOutcome outcome = Press();

    EXPECT_FALSE(outcome.Ok);
    EXPECT_EQ(UpdateResult, c.Code);
    EXPECT_EQ(outcome.Result, c.Code);
    // No version check, no manual restart, no restore; the boot release runs.
    EXPECT_EQ(
        Ui.FLog,
        Join({{"", kHyphens}, c.Download, {"OK：ブート解除中", kHyphens}, kNgTail, c.Advice}));
    EXPECT_EQ(Ui.Waits, 1);
    EXPECT_NE(std::find(Ui.Titles.begin(), Ui.Titles.end(), "RW状態確認"), Ui.Titles.end());
    EXPECT_EQ(BoardRequests(0x0A), 1);
    EXPECT_EQ(Reader->ParamMemory().FFactoryLoads, 0);
    EXPECT_EQ(RomVersionText, "2120KRV07");
    EXPECT_EQ(Ui.D.Label1, "NG");
    EXPECT_EQ(Ui.D.Color, 0xFF0000u);
    EXPECT_EQ(Ui.D.Points, 72);
    EXPECT_EQ(Ui.Sounds, TLines{"alarm"});
    // The window comes back before the advice is written, the update command does not.
    EXPECT_LT(Ui.Find("main on"), Ui.Find("entries off"));
    EXPECT_FALSE(Ui.EntriesEnabled);
    EXPECT_FALSE(Ui.PopupEnabled);
    EXPECT_TRUE(Ui.MainEnabled);
    EXPECT_FALSE(Ui.D.Exists);
    TearDown();
    SetUp();
  }
}

TEST_F(TUpdateTest, DownloadStoppedBeforeTheModeWordWasReadReleasesTheBoardWithWordZero) {
  Start(TLink::TcpClient);
  Images.Missing = true;
  ASSERT_EQ(C->FIfbMode, 0);
  Press();
  ASSERT_EQ(BoardRequests(0x01), 1);
  const TSimRequest& set =
      *std::find_if(Reader->FBoardRequests.begin(), Reader->FBoardRequests.end(),
                    [](const TSimRequest& r) { return r.Detail() == 0x01; });
  EXPECT_EQ(set.Data, (TBytes{0x01, 0x00, 0x00}));
  EXPECT_EQ(Reader->IfbModeWord(), 0);
  EXPECT_EQ(BoardRequests(0x00), 0);  // the mode was never asked for
}

TEST_F(TUpdateTest, WrongVersionAfterTheDownloadFailsWithoutRestore) {
  Images.Make("2131KRV07");
  Start(TLink::Serial, BoardOnSerial());
  const TUpdateOutcome outcome = Press();
  EXPECT_FALSE(outcome.Ok);
  // Code 6 from the version check; the reader's own answer in the state check makes it 1.
  EXPECT_EQ(UpdateResult, 1);
  EXPECT_EQ(Ui.FLog, Join({{"", kHyphens},
                           kDownloadOk,
                           {"NG：Get ROM Version", "OK：ブート解除中", kHyphens},
                           kNgTail,
                           {kPowerCycle, kWriteAgain}}));
  EXPECT_EQ(RomVersionText, "2120KRV07");
  EXPECT_STREQ(C->FSavedRomVersion, "");
  EXPECT_EQ(Reader->ParamMemory().FFactoryLoads, 0);
}

TEST_F(TUpdateTest, SilentInterfaceBoardStillSucceedsWithTheRestartAdvice) {
  // Over the reader's own USB port no board answers its two version queries.
  Start(TLink::Serial);
  const TUpdateOutcome outcome = Press();
  EXPECT_TRUE(outcome.Ok);
  EXPECT_EQ(Gate->Count('E', 0x90), 2);
  EXPECT_EQ(Ui.FLog,
            Join({{"", kHyphens},
                  kDownloadOk,
                  {"OK：ROM Version", "OK：ブート解除中", kHyphens, "", "ROM Version : 2130KRV07",
                   "OK：RW FLASH Value ", "アップデートが正常に終了しました。",
                   "電源を入れなおして再起動してください。", ""}}));
}

TEST_F(TUpdateTest, FailedRestoreEndsNgWithCodeZero) {
  TSimReaderOptions o = BoardOnSerial();
  ASSERT_TRUE(o.SetSwitch("param-fault=refuse:U:74@1x*"));
  Start(TLink::Serial, o);
  const TUpdateOutcome outcome = Press();
  EXPECT_FALSE(outcome.Ok);
  EXPECT_EQ(UpdateResult, 0);
  EXPECT_EQ(Ui.FLog,
            Join({{"", kHyphens},
                  kDownloadOk,
                  {"OK：ROM Version", "OK：ブート解除中", kHyphens, "", "ROM Version : 2130KRV07",
                   "NG：Any RW FLASH Value", "    Lets Retry RW VerUP"},
                  kNgTail,
                  {kCheckLink, kPowerCycle, kWriteAgain}}));
  // The version check had accepted the new firmware.
  EXPECT_EQ(RomVersionText, "2130KRV07");
  EXPECT_EQ(Ui.Sounds, TLines{"alarm"});
}

TEST_F(TUpdateTest, ExceptionEndsTheStagesWithCodeZeroAndTheOutcomeStillRuns) {
  // A port whose name carries no number cannot be reopened after the power cycle.
  Start(TLink::Serial, BoardOnSerial(), false);
  const std::string name = "/dev/serial/by-id/usb-QVX_reader";
  Links.AddSerialDevice(name, Gate.get());
  C->CloseLink();
  C->CommX1->SetPortName(name);
  ASSERT_TRUE(C->CommX1->Open());
  ASSERT_EQ(C->AcceptReader(true), 1);
  Ui.FLog.clear();
  SilentAfterEndProcessing();

  const TUpdateOutcome outcome = Press();

  EXPECT_TRUE(outcome.Ran);
  EXPECT_FALSE(outcome.Ok);
  EXPECT_EQ(UpdateResult, 0);
  EXPECT_EQ(Ui.FLog,
            Join({{"", kHyphens}, kDownloadOk, kNgTail, {kCheckLink, kPowerCycle, kWriteAgain}}));
  EXPECT_EQ(Ui.Waits, 1);  // the outcome's; the power cycle was never asked for
  EXPECT_FALSE(C->CommX1->IsOpen());
  EXPECT_FALSE(Ui.D.Exists);
  EXPECT_TRUE(Ui.MainEnabled);
  EXPECT_FALSE(Ui.EntriesEnabled);
  EXPECT_EQ(Ui.Sounds, TLines{"alarm"});
}

// ---- the operator's dialog ----------------------------------------------------

TEST_F(TUpdateTest, ClosingTheDialogCountsAsConfirmAndSkipsTheFinalWaitOnceClosed) {
  Start(TLink::Serial, BoardOnSerial());
  SilentAfterEndProcessing();
  // The power-cycle wait is ended by closing the dialog; during the boot
  // release the operator closes the dialog shown again.
  Ui.OnWait = [&] { Ui.CloseDialog(); };
  bool closedInRelease = false;
  Ui.OnText = [&](const std::string& t) {
    if (t == "ブート解除中...") Host.After(100, [&] { closedInRelease = Ui.CloseDialog(); });
  };

  const TUpdateOutcome outcome = Press();

  EXPECT_TRUE(outcome.Ok);
  EXPECT_TRUE(closedInRelease);
  EXPECT_EQ(Ui.Waits, 1);  // the final wait found the flag cleared
  EXPECT_EQ(Ui.Find("show", Ui.Find("closed", Ui.Find("closed") + 1)), std::string::npos);
  EXPECT_EQ(Ui.Trace[Ui.Trace.size() - 3], "wait");
  EXPECT_EQ(Ui.Trace[Ui.Trace.size() - 2], "destroy");
  EXPECT_EQ(Ui.D.Label1, "OK");
}

TEST_F(TUpdateTest, WithoutManualRestartTheDialogCannotBeClosedBeforeTheOutcome) {
  Start(TLink::Serial, BoardOnSerial());
  // The operator tries to close the dialog every five seconds.
  int closedAt = -1;
  std::function<void()> attempt = [&] {
    if (Ui.CloseDialog()) {
      closedAt = static_cast<int>(Ui.Trace.size());
      return;
    }
    if (Ui.D.Exists) Host.After(5000, attempt);
  };
  Host.After(5000, attempt);
  Ui.OnWait = [&] {
    EXPECT_EQ(closedAt, -1) << "closed before the final wait";
    Ui.Press();
  };
  EXPECT_TRUE(Press().Ok);
  EXPECT_EQ(Ui.Waits, 1);
  Host.RunFor(10000);  // the last attempt falls due while it lives
}

TEST_F(TUpdateTest, NoSecondRunStartsWhileOneIsGoingOn) {
  Start(TLink::Serial, BoardOnSerial());
  TUpdateOutcome inner;
  size_t linesBefore = 0;
  Ui.OnWait = [&] {
    linesBefore = Ui.FLog.size();
    inner = Press();  // a second press that reached the handler
    Ui.Press();
  };
  EXPECT_TRUE(Press().Ok);
  EXPECT_FALSE(inner.Ran);
  EXPECT_EQ(Ui.FLog.size(), linesBefore);
}

}  // namespace
