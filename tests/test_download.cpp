// The download sequence against the simulated reader with its boot monitor
// and applet, in virtual time: whole downloads over the serial link and over
// TCP/IP, re-write mode, the chunk rule around the skipped flash window, and
// each stage's failure with its log lines and cleanup.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>

#include "app/ImageSource.h"
#include "bootmonitor/ImageSet.h"
#include "bootmonitor/Sha256.h"
#include "link/FlashWrRXCont.h"
#include "link/PortNames.h"
#include "sim/InProcessLink.h"
#include "sim/VirtualHost.h"
#include "sim/bootmon/RomVersionMark.h"
#include "sim/bootmon/SimBootMonitorTarget.h"
#include "sim/reader/SimReader.h"
#include "support/ScriptedLink.h"
#include "support/TestUi.h"

namespace fs = std::filesystem;

namespace {

using TLines = std::vector<std::string>;
using TWrites = std::vector<std::pair<uint32_t, uint32_t>>;

constexpr uint32_t kAppletSize = 5948;
constexpr uint32_t kBootSize = 13296;
constexpr uint32_t kFirmwareSize = 329400;        // flash image 0x60000
constexpr uint32_t kLargeFirmwareSize = 0x6C123;  // flash image 0x80000: reaches the window
constexpr uint32_t kBootRegion = 0x8000;

const TLines kConfirmTexts = {"リソース作成中...", "ブート遷移中...", "appletの書き込み中...",
                              "アップデート中..."};
const TLines kTitles = {"リソース作成", "ブート遷移", "applet", "アップデート"};
const TLines kAllOk = {"OK：リソース作成", "OK：ブート遷移中", "OK：アプレット書き込み",
                       "OK：アップデート"};

void PutWord(TBytes& image, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) image[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

TBytes Noise(size_t size, uint32_t seed) {
  std::mt19937 gen(seed);
  TBytes b(size);
  for (auto& x : b) x = static_cast<uint8_t>(gen());
  return b;
}

// Images made here, with the digests a build would record.
struct TTestImages : IImageSource {
  TBytes Image[3];
  std::string Digest[3];
  bool Missing = false;
  bool Throws = false;

  void Make(uint32_t firmwareSize) {
    TBytes applet = Noise(kAppletSize, 1);
    PutWord(applet, 0, 0x2001FFF0);  // stack in RAM, Thumb entry inside the applet
    PutWord(applet, 4, 0x20000D51);
    TBytes boot = Noise(kBootSize, 2);
    PutWord(boot, 0, 0x2001F800);
    PutWord(boot, 4, 0x00400531);
    TBytes firmware = Noise(firmwareSize, 3);
    PutWord(firmware, 0, 0x2001F800);
    PutWord(firmware, 4, 0x004082D5);
    PutRomVersionMark(firmware.data(), firmware.size(), kRomVersionFirmwareOffset, "2130KRV07");
    Image[0] = applet;
    Image[1] = boot;
    Image[2] = firmware;
    for (int i = 0; i < 3; ++i) Digest[i] = TSha256::Hex(Image[i].data(), Image[i].size());
  }
  static int Index(TImageRole role) {
    return role == TImageRole::Applet ? 0 : role == TImageRole::Boot ? 1 : 2;
  }
  bool ReadImage(TImageRole role, std::vector<uint8_t>& out) override {
    if (Throws) throw std::runtime_error("resource stream broken");
    if (Missing && role == TImageRole::Boot) return false;
    out = Image[Index(role)];
    return true;
  }
  std::string ExpectedSha256(TImageRole role) override { return Digest[Index(role)]; }

  // What the reader's flash must hold afterwards, built here from the rule:
  // boot program, 0x00 up to 0x8000, firmware, 0x00 up to a 64 KiB multiple
  // strictly above the firmware's end.
  TBytes FlashImage() const {
    const size_t end = kBootRegion + Image[2].size();
    TBytes flash((end / 0x10000 + 1) * 0x10000, 0x00);
    std::copy(Image[1].begin(), Image[1].end(), flash.begin());
    std::copy(Image[2].begin(), Image[2].end(), flash.begin() + kBootRegion);
    return flash;
  }
};

// The operator side: log, stage texts, gauge; a hook when a stage text shows.
struct TStageUi : TTestUi {
  void SetConfirmText(const std::string& t) override {
    FConfirm.push_back(t);
    if (OnConfirm) OnConfirm(t);
  }
  void SetStageTitle(const std::string& t) override { FTitles.push_back(t); }
  void SetGauge(int percent) override { FGauge.push_back(percent); }
  // The memo empties itself at 1000 lines; this keeps them all.
  void LogAppendLine(const std::string& line) override {
    TTestUi::LogAppendLine(line);
    FEveryLine.push_back(line);
  }
  int Count(const std::string& line) const {
    return static_cast<int>(std::count(FEveryLine.begin(), FEveryLine.end(), line));
  }
  TLines FConfirm, FTitles, FEveryLine;
  std::vector<int> FGauge;
  std::function<void(const std::string&)> OnConfirm;
};

struct TDownloadTest : ::testing::Test {
  TVirtualHost Host;
  TSimLinkFactory Links{Host};
  TStageUi Ui;
  TTestImages Images;
  std::unique_ptr<TSimBootMonitorTarget> Target;
  std::unique_ptr<TSimReader> Reader;
  std::unique_ptr<TFlashWrRXCont> C;
  fs::path TempRoot;

  void SetUp() override {
    TempRoot =
        fs::temp_directory_path() /
        ("qvx-test-download-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(TempRoot);
    fs::create_directories(TempRoot);
    Images.Make(kFirmwareSize);
  }
  void TearDown() override {
    Disconnect();
    Reader.reset();
    Target.reset();
    fs::remove_all(TempRoot);
  }
  // Closes the link and lets the devices' queued replies fall due, so that
  // none is left to run after its device is gone.
  void Disconnect() {
    C.reset();
    Host.RunFor(10000);
  }

  // A fresh reader running its old firmware, its boot monitor plugged in,
  // and a controller connected to it.
  void Start(TSimReaderOptions options = {}) {
    Disconnect();
    Reader = std::make_unique<TSimReader>(std::move(options));
    Target = std::make_unique<TSimBootMonitorTarget>(Host);
    Target->FMonitor.FBufferSize = 0x1000;  // these tests count chunks of 4 KiB
    ASSERT_TRUE(Target->FMonitor.SeedRomVersion("2120KRV07"));
    Reader->PlugBootTarget(Target.get());
    AddSimReaderEndpoints(Links, Reader.get());
    tagCOMPara para;
    para.BaudRate = 115200;
    C = MakeQuietController(Host, Links, Ui, para);
    C->FImageSource = &Images;
    C->FImageTempRoot = TempRoot.string();
    ASSERT_TRUE(OpenSimReaderLink(*C, Reader->FOptions.Link == TSimLink::Tcp));
    Ui.FLog.clear();
    Ui.FConfirm.clear();
    Ui.FTitles.clear();
    Ui.FGauge.clear();
    Ui.FEveryLine.clear();
  }
  static TSimReaderOptions Tcp(uint16_t modeWord = 0x0012) {
    TSimReaderOptions o;
    o.Link = TSimLink::Tcp;
    o.IfbModeWord = modeWord;
    return o;
  }
  TSimBootMonitor& Monitor() { return Target->FMonitor; }

  // The reader's flash equals the flash image everywhere but in the window
  // the update never writes, which keeps what it held (erased here).
  ::testing::AssertionResult FlashHoldsTheImage() {
    const TBytes expected = Images.FlashImage();
    const TBytes& flash = Monitor().Flash();
    for (size_t i = 0; i < flash.size(); ++i) {
      const bool window = i >= 0x70000 && i <= 0x77FF0;
      const uint8_t want = window || i >= expected.size() ? 0xFF : expected[i];
      if (flash[i] != want)
        return ::testing::AssertionFailure() << "flash offset 0x" << std::hex << i << " holds 0x"
                                             << int{flash[i]} << ", expected 0x" << int{want};
    }
    return ::testing::AssertionSuccess();
  }
  bool TempFolderGone() const { return fs::is_empty(TempRoot); }
  // Board or reader requests with this letter and detail.
  static int Requests(const std::vector<TSimRequest>& list, uint8_t letter, int detail) {
    return static_cast<int>(std::count_if(list.begin(), list.end(), [&](const TSimRequest& r) {
      return r.Letter == letter && r.Detail() == detail;
    }));
  }
  uint64_t Timed(const std::function<void()>& call) {
    const uint64_t start = Host.NowMs();
    call();
    return Host.NowMs() - start;
  }
};

}  // namespace

// ---- whole downloads --------------------------------------------------------

TEST_F(TDownloadTest, SerialDownloadWritesTheFlashImageAndTheReaderRestartsIntoIt) {
  Start();
  TLines filesDuringDownload;
  Ui.OnConfirm = [&](const std::string& text) {
    if (text != "ブート遷移中...") return;
    for (const auto& folder : fs::directory_iterator(TempRoot))
      for (const auto& file : fs::directory_iterator(folder.path()))
        filesDuringDownload.push_back(file.path().filename().string());
  };

  const auto realStart = std::chrono::steady_clock::now();
  ASSERT_TRUE(C->DownloadFirmware());
  const auto realMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - realStart)
                          .count();
  // Virtual time: minutes of pauses and time-outs cost nothing real.
  EXPECT_LT(realMs, 2000);

  EXPECT_EQ(Ui.FLog, kAllOk);
  EXPECT_EQ(Ui.FConfirm, kConfirmTexts);
  EXPECT_EQ(Ui.FTitles, kTitles);
  EXPECT_TRUE(FlashHoldsTheImage());
  std::sort(filesDuringDownload.begin(), filesDuringDownload.end());
  EXPECT_EQ(filesDuringDownload, (TLines{"a", "b", "bf", "f"}));
  EXPECT_TRUE(TempFolderGone());

  // Over the reader's own USB port the board commands reach the reader, which
  // refuses them: the mode query is asked twice, nothing else of the board's.
  EXPECT_EQ(Requests(Reader->FReaderRequests, 'E', 0x00), 2);
  EXPECT_EQ(Requests(Reader->FReaderRequests, 'E', 0x01), 0);
  EXPECT_EQ(Requests(Reader->FReaderRequests, 'E', 0x04), 0);
  EXPECT_EQ(Requests(Reader->FReaderRequests, 'U', 0xFE), 1);
  EXPECT_EQ(Reader->FReaderRequests.back().Letter, 'U');
  EXPECT_EQ(C->FIfbMode, 0);
  EXPECT_TRUE(Monitor().FBadRequestLines.empty());

  // Applet stage up to its size, then the update from 0 up to the image length.
  const auto appletDone = std::find(Ui.FGauge.begin(), Ui.FGauge.end(), 100);
  const auto restart = std::find(appletDone, Ui.FGauge.end(), 0);
  ASSERT_NE(restart, Ui.FGauge.end());
  EXPECT_TRUE(std::is_sorted(restart, Ui.FGauge.end()));
  EXPECT_EQ(Ui.FGauge.back(), 100);
  EXPECT_EQ(C->FGaugeMax, 0x60000);
  EXPECT_EQ(C->FProgressCount, 0x60000);

  EXPECT_TRUE(C->EndProcessing());
  EXPECT_STREQ(C->FRomVersion, "2130KRV07");
}

TEST_F(TDownloadTest, TheImagesEmbeddedInTheToolGoThroughTheWholeDownload) {
  TQtImageSource embedded;
  for (TImageRole role : {TImageRole::Applet, TImageRole::Boot, TImageRole::Firmware})
    ASSERT_TRUE(embedded.ReadImage(role, Images.Image[TTestImages::Index(role)]));
  Start();
  C->FImageSource = &embedded;
  ASSERT_TRUE(C->DownloadFirmware());
  EXPECT_EQ(Ui.FLog, kAllOk);
  EXPECT_TRUE(FlashHoldsTheImage());
  EXPECT_TRUE(TempFolderGone());
  EXPECT_TRUE(C->EndProcessing());
#if QVX_PLACEHOLDER_IMAGES
  EXPECT_STREQ(C->FRomVersion, "2130KRV07");
#endif
}

TEST_F(TDownloadTest, TcpDownloadSwitchesTheBoardWithItsModeWord) {
  Start(Tcp(0x0012));
  ASSERT_TRUE(C->DownloadFirmware());
  EXPECT_EQ(Ui.FLog, kAllOk);
  EXPECT_TRUE(FlashHoldsTheImage());
  EXPECT_TRUE(TempFolderGone());

  // Sent: boot selection with bit 7; kept for the board's release: without it.
  ASSERT_EQ(Requests(Reader->FBoardRequests, 'E', 0x01), 1);
  const auto set = std::find_if(Reader->FBoardRequests.begin(), Reader->FBoardRequests.end(),
                                [](const TSimRequest& r) { return r.Detail() == 0x01; });
  EXPECT_EQ(set->Data, (TBytes{0x01, 0x94, 0x00}));
  EXPECT_EQ(C->FIfbMode, 0x0014);
  EXPECT_EQ(Requests(Reader->FBoardRequests, 'E', 0x00), 1);
  EXPECT_EQ(Requests(Reader->FBoardRequests, 'E', 0x04), 0);
  // The reader answered its version once, then took the program-mode command.
  ASSERT_EQ(Reader->FReaderRequests.size(), 2u);
  EXPECT_EQ(Reader->FReaderRequests[0].Letter, 'O');
  EXPECT_EQ(Reader->FReaderRequests[1].Letter, 'U');

  EXPECT_TRUE(C->EndProcessing());
  EXPECT_STREQ(C->FRomVersion, "2130KRV07");
}

// A reader left in its boot monitor by a failed update: no program-mode
// command, and over TCP/IP the first unanswered version query is enough.
TEST_F(TDownloadTest, ReWriteModeGoesStraightToTheBootMonitor) {
  Start(Tcp(0x5A0B));
  ASSERT_EQ(C->SetProgMode(), 1);  // what the failed update left behind
  Reader->FReaderRequests.clear();
  C->FReWriteMode = 1;
  ASSERT_TRUE(C->DownloadFirmware());
  EXPECT_EQ(Ui.FLog, kAllOk);
  EXPECT_TRUE(FlashHoldsTheImage());
  // The high byte stays; bit 7 is set only in the word sent.
  const auto set = std::find_if(Reader->FBoardRequests.begin(), Reader->FBoardRequests.end(),
                                [](const TSimRequest& r) { return r.Detail() == 0x01; });
  ASSERT_NE(set, Reader->FBoardRequests.end());
  EXPECT_EQ(set->Data, (TBytes{0x01, 0x8C, 0x5A}));
  EXPECT_EQ(C->FIfbMode, 0x5A0C);
  // Everything not for the board reached the boot monitor: one version query
  // and no program-mode command.
  EXPECT_EQ(Monitor().FBadRequestLines, (TLines{"O"}));

  // Serial, with a board on the USB path: the board is told to pass through.
  TSimReaderOptions serial;
  serial.BoardOnSerial = true;
  Start(serial);
  ASSERT_EQ(C->SetProgMode(), 1);
  C->FReWriteMode = 1;
  ASSERT_TRUE(C->DownloadFirmware());
  EXPECT_EQ(Ui.FLog, kAllOk);
  EXPECT_TRUE(FlashHoldsTheImage());
  EXPECT_EQ(Requests(Reader->FBoardRequests, 'E', 0x04), 1);
  EXPECT_EQ(Requests(Reader->FBoardRequests, 'E', 0x01), 0);
  EXPECT_TRUE(Monitor().FBadRequestLines.empty());
}

TEST_F(TDownloadTest, WakeUpIsTriedFiveTimes) {
  Start();
  C->FDetailLog = 1;
  Monitor().FFaults.IgnoreWakeUps = 4;
  ASSERT_TRUE(C->DownloadFirmware());
  EXPECT_EQ(Ui.Count("NG: RunBoot"), 4);
  EXPECT_EQ(Ui.Count("OK: RunBoot"), 1);
  EXPECT_TRUE(FlashHoldsTheImage());

  Start();
  Monitor().FFaults.IgnoreWakeUps = 5;
  EXPECT_FALSE(C->DownloadFirmware());
  EXPECT_EQ(Monitor().FWakeUps, 5);
  EXPECT_EQ(Ui.FLog, (TLines{"OK：リソース作成", "NG：ブート遷移中", "NG：アプレット書き込み"}));
  EXPECT_EQ(Monitor().FTransfersDone, 0);
  EXPECT_EQ(Ui.FConfirm.back(), "アップデート中...");
  EXPECT_TRUE(TempFolderGone());
}

// ---- the chunks around the skipped window --------------------------------

TEST_F(TDownloadTest, LargeImageIsWrittenAroundTheWindow) {
  Images.Make(kLargeFirmwareSize);
  Start();
  ASSERT_EQ(Monitor().FBufferSize, 0x1000u);
  ASSERT_TRUE(C->DownloadFirmware());
  TWrites expected;
  for (uint32_t o = 0; o <= 0x6F000; o += 0x1000) expected.emplace_back(o, 0x1000);
  for (uint32_t k = 0; k < 8; ++k) expected.emplace_back(0x77FF1 + k * 0x1000, 0x1000);
  expected.emplace_back(0x7FFF1, 0xF);
  EXPECT_EQ(Monitor().FWriteLog, expected);
  EXPECT_TRUE(FlashHoldsTheImage());
  EXPECT_EQ(C->FProgressCount, 0x80000);
  EXPECT_EQ(Ui.FGauge.back(), 100);

  // A buffer that does not divide the window's start: the chunk before it is cut.
  Start();
  Monitor().FBufferSize = 0x3000;
  ASSERT_TRUE(C->DownloadFirmware());
  expected.clear();
  for (uint32_t o = 0; o <= 0x6C000; o += 0x3000) expected.emplace_back(o, 0x3000);
  expected.insert(expected.end(),
                  {{0x6F000, 0x1000}, {0x77FF1, 0x3000}, {0x7AFF1, 0x3000}, {0x7DFF1, 0x200F}});
  EXPECT_EQ(Monitor().FWriteLog, expected);
  EXPECT_TRUE(FlashHoldsTheImage());
}

TEST_F(TDownloadTest, FewerBytesWrittenMovesTheNextChunkToJustAfterThem) {
  Start();
  Monitor().FFaults.BadByteCountAt = 3;
  Monitor().FFaults.BadByteCount = 0x123;
  ASSERT_TRUE(C->DownloadFirmware());
  const TWrites& writes = Monitor().FWriteLog;
  ASSERT_GT(writes.size(), 5u);
  EXPECT_EQ(writes[3], std::make_pair(0x3000u, 0x1000u));
  EXPECT_EQ(writes[4], std::make_pair(0x3123u, 0x1000u));
  EXPECT_EQ(writes.back().first + writes.back().second, 0x60000u);
  EXPECT_TRUE(FlashHoldsTheImage());
}

// ---- failures ---------------------------------------------------------------

TEST_F(TDownloadTest, ByteCountsThatMakeNoSenseFailTheUpdateAtOnce) {
  for (uint32_t bad : {0u, 0xFFFFFFFFu, 0x80000000u, 0x1001u}) {
    SCOPED_TRACE(bad);
    Start();
    Monitor().FFaults.BadByteCountAt = 2;
    Monitor().FFaults.BadByteCount = bad;
    EXPECT_LT(Timed([&] { EXPECT_FALSE(C->DownloadFirmware()); }), 60000u);
    EXPECT_EQ(Monitor().FAppletWrites, 3);
    EXPECT_EQ(Ui.FLog.back(), "NG：アップデート");
    EXPECT_EQ(Ui.FLog.size(), 4u);
    EXPECT_TRUE(TempFolderGone());
  }

  // An applet whose buffer holds nothing could never move: its own stage fails.
  Start();
  Monitor().FBufferSize = 0;
  EXPECT_FALSE(C->DownloadFirmware());
  EXPECT_EQ(Ui.FLog, (TLines{"OK：リソース作成", "OK：ブート遷移中", "NG：アプレット書き込み"}));
  EXPECT_EQ(Monitor().FAppletWrites, 0);
}

TEST_F(TDownloadTest, AReplyWordThatIsNotHexadecimalEndsTheDownload) {
  // The buffer size, read in the applet stage: no applet line at all.
  Start();
  Monitor().FFaults.GarbledWordAddress = TFlashWrRXCont::kMailboxArg2;
  EXPECT_FALSE(C->DownloadFirmware());
  EXPECT_EQ(Ui.FLog, (TLines{"OK：リソース作成", "OK：ブート遷移中"}));
  EXPECT_EQ(Ui.FConfirm.back(), "appletの書き込み中...");
  EXPECT_EQ(Monitor().FAppletWrites, 0);
  EXPECT_TRUE(TempFolderGone());

  // The bytes written, read after the first chunk: no update line.
  Start();
  Monitor().FFaults.GarbledWordAddress = TFlashWrRXCont::kMailboxArg0;
  EXPECT_FALSE(C->DownloadFirmware());
  EXPECT_EQ(Ui.FLog, (TLines{"OK：リソース作成", "OK：ブート遷移中", "OK：アプレット書き込み"}));
  EXPECT_EQ(Monitor().FAppletWrites, 1);
  EXPECT_TRUE(TempFolderGone());
}

TEST_F(TDownloadTest, ADamagedImageSetFailsTheFirstStageWithNothingSent) {
  Start(Tcp());
  Images.Image[2][0x1234] ^= 0x40;  // differs from the digest the build recorded
  EXPECT_FALSE(C->DownloadFirmware());
  EXPECT_EQ(Ui.FLog, (TLines{"NG：リソース作成", "NG：アプレット書き込み"}));
  EXPECT_EQ(Ui.FConfirm, (TLines{"リソース作成中...", "アップデート中..."}));
  EXPECT_TRUE(Reader->FReaderRequests.empty());
  EXPECT_TRUE(Reader->FBoardRequests.empty());
  EXPECT_TRUE(TempFolderGone());

  // A missing image or a broken resource ends it without any stage line.
  Images.Make(kFirmwareSize);
  for (bool missing : {true, false}) {
    Start();
    Images.Missing = missing;
    Images.Throws = !missing;
    EXPECT_FALSE(C->DownloadFirmware());
    EXPECT_TRUE(Ui.FLog.empty());
    EXPECT_TRUE(Reader->FReaderRequests.empty());
    EXPECT_TRUE(TempFolderGone());
  }
}

TEST_F(TDownloadTest, BootTransitionFailuresStopBeforeTheBootMonitor) {
  // The board refuses the mode word: no program-mode command.
  TSimReaderOptions refusing = Tcp();
  refusing.Refuse('E', 0x01);
  Start(refusing);
  EXPECT_FALSE(C->DownloadFirmware());
  EXPECT_EQ(Ui.FLog, (TLines{"OK：リソース作成", "NG：ブート遷移中", "NG：アプレット書き込み"}));
  EXPECT_EQ(Reader->State(), TSimReader::TState::Command);
  EXPECT_TRUE(Reader->FReaderRequests.empty());
  EXPECT_TRUE(TempFolderGone());

  // The reader never answers its version over TCP/IP: asked five times.
  TSimReaderOptions silent = Tcp();
  silent.NoReader = true;
  Start(silent);
  const uint64_t ms = Timed([&] { EXPECT_FALSE(C->DownloadFirmware()); });
  EXPECT_EQ(Ui.FLog, (TLines{"OK：リソース作成", "NG：ブート遷移中", "NG：アプレット書き込み"}));
  EXPECT_GE(ms, 5u * 1000 + 3000);
  EXPECT_EQ(Reader->State(), TSimReader::TState::Command);
}

TEST_F(TDownloadTest, TransferFailuresEndTheirStageAndCleanUp) {
  // The applet is 47 blocks; its fifth block is refused.
  Start();
  Monitor().FFaults.RefuseBlock = 4;
  EXPECT_FALSE(C->DownloadFirmware());
  EXPECT_EQ(Ui.FLog, (TLines{"OK：リソース作成", "OK：ブート遷移中", "NG：アプレット書き込み"}));
  EXPECT_FALSE(Monitor().FAppletInitialised);
  EXPECT_TRUE(TempFolderGone());

  // A block of the flash image refused.
  Start();
  Monitor().FFaults.RefuseBlock = 47 + 100;
  EXPECT_FALSE(C->DownloadFirmware());
  EXPECT_EQ(Ui.FLog.back(), "NG：アップデート");
  EXPECT_EQ(Monitor().FAppletWrites, 3);  // 32 blocks a chunk
  EXPECT_TRUE(TempFolderGone());

  // The link drops mid-transfer, serial and TCP/IP alike.
  for (bool tcp : {false, true}) {
    Start(tcp ? Tcp() : TSimReaderOptions{});
    Monitor().FFaults.HangupAtBlock = 47 + 40;
    EXPECT_LT(Timed([&] { EXPECT_FALSE(C->DownloadFirmware()); }), 20000u);
    EXPECT_EQ(Ui.FLog.back(), "NG：アップデート");
    EXPECT_EQ(Monitor().FAppletWrites, 1);
    if (tcp)
      EXPECT_EQ(C->FSockConnected, 0);
    else
      EXPECT_FALSE(C->CommX1->IsOpen());
    EXPECT_TRUE(TempFolderGone());
  }
}
