// The boot monitor requests, the block transfer and the applet mailbox as
// the tool speaks them, in virtual time: against a scripted device for the
// exact bytes and the failure paths, against the simulated boot monitor for
// whole transfers.
#include <gtest/gtest.h>

#include <string>

#include "app/ImageSource.h"
#include "bootmonitor/BootRequests.h"
#include "bootmonitor/ImageSet.h"
#include "link/Checksums.h"
#include "link/FlashWrRXCont.h"
#include "link/PortNames.h"
#include "sim/InProcessLink.h"
#include "sim/ScriptedDevice.h"
#include "sim/VirtualHost.h"
#include "sim/bootmon/SimBootMonitor.h"
#include "sim/bootmon/SimBootMonitorTarget.h"
#include "sim/reader/SimReader.h"
#include "support/ScriptedLink.h"
#include "support/TestUi.h"

namespace {

TBytes Bytes(const std::string& s) {
  return TBytes(s.begin(), s.end());
}

struct TGaugeUi : TTestUi {
  void SetGauge(int percent) override { FGauge.push_back(percent); }
  std::vector<int> FGauge;
};

struct TBootMonitorTest : ::testing::Test {
  TVirtualHost Host;
  TSimLinkFactory Links{Host};
  TGaugeUi Ui;
  TScriptedDevice Scripted;
  TSimBootMonitorDevice Sim{Host};
  TSimReader Reader;
  TSimBootMonitorTarget Target{Host};
  std::vector<TBytes> Messages;  // what the scripted device received, per send
  std::unique_ptr<TFlashWrRXCont> C;
  uint8_t Reply[256] = {};

  void SetUp() override {
    Links.AddSerialDevice("ttyUSB0", &Scripted);
    Links.AddSerialDevice("ttyUSB1", &Sim);
    Links.AddSerialDevice("ttyUSB2", &Reader);
    Reader.PlugBootTarget(&Target);
    C = MakeQuietController(Host, Links, Ui, tagCOMPara{});
    C->FDetailLog = 1;
  }
  void UseScripted(std::function<TBytes(const TBytes&)> answer) {
    ASSERT_TRUE(C->OpenComPort(ComPortNumber("ttyUSB0")));
    Scripted.OnReceive = [this, answer](TScriptedDevice& d, const TBytes& b) {
      Messages.push_back(b);
      if (answer) d.Reply(answer(b));
    };
  }
  void UseSim() { ASSERT_TRUE(C->OpenComPort(ComPortNumber("ttyUSB1"))); }
  // The reader with the boot monitor plugged in, switched into its monitor.
  void UseReaderInBootMonitor() {
    ASSERT_TRUE(C->OpenComPort(ComPortNumber("ttyUSB2")));
    C->SetProgMode();
    ASSERT_EQ(Reader.State(), TSimReader::TState::BootMonitor);
  }
  // Loads and initialises the applet, then sends the flash image chunk by
  // chunk the way a download does (the image stays below the window the
  // update never writes).
  void WriteFlash(const TImageSet& set) {
    ASSERT_LE(set.FFlashSize, 0x70000u);
    ASSERT_TRUE(C->RunBoot());
    ASSERT_TRUE(C->SendFile(TFlashWrRXCont::kAppletAddress, set.FAppletSize, Reply));
    ASSERT_TRUE(C->TransferFile(set.FApplet.data(), set.FAppletSize));
    C->WriteWord(TFlashWrRXCont::kMailboxArg0, 1u, Reply);
    C->WriteWord(TFlashWrRXCont::kMailboxCommand, TFlashWrRXCont::kAppletInit, Reply);
    ASSERT_TRUE(C->RunApplet(Reply));
    ASSERT_TRUE(C->ReadWord(TFlashWrRXCont::kMailboxArg1, Reply));
    const uint32_t buffer = TFlashWrRXCont::ParseReplyWord(Reply);
    ASSERT_TRUE(C->ReadWord(TFlashWrRXCont::kMailboxArg2, Reply));
    const uint32_t size = TFlashWrRXCont::ParseReplyWord(Reply);
    for (uint32_t offset = 0; offset < set.FFlashSize;) {
      const uint32_t m = std::min(size, set.FFlashSize - offset);
      ASSERT_TRUE(C->SendFile(buffer, size, Reply));
      ASSERT_TRUE(C->TransferFile(set.FFlash.data() + offset, m));
      ASSERT_TRUE(
          C->WriteWord(TFlashWrRXCont::kMailboxCommand, TFlashWrRXCont::kAppletWrite, Reply));
      ASSERT_TRUE(C->WriteWord(TFlashWrRXCont::kMailboxArg0, buffer, Reply));
      ASSERT_TRUE(C->WriteWord(TFlashWrRXCont::kMailboxArg1, m, Reply));
      ASSERT_TRUE(C->WriteWord(TFlashWrRXCont::kMailboxArg2, offset, Reply));
      ASSERT_TRUE(C->RunApplet(Reply));
      ASSERT_TRUE(C->ReadWord(TFlashWrRXCont::kMailboxArg0, Reply));
      ASSERT_EQ(TFlashWrRXCont::ParseReplyWord(Reply), m);
      offset += m;
    }
  }
  int Count(const std::string& line) const {
    return static_cast<int>(std::count(Ui.FLog.begin(), Ui.FLog.end(), line));
  }
  // Runs call and returns how long it took in virtual time.
  template <class F>
  uint64_t Timed(F call) {
    const uint64_t start = Host.NowMs();
    call();
    return Host.NowMs() - start;
  }
  void SetReply(const std::string& s) {
    std::fill(std::begin(Reply), std::end(Reply), 0);
    std::copy(s.begin(), s.end(), Reply);
  }
};

}  // namespace

TEST(BootRequests, HexFieldsAreUpperCaseMostSignificantFirst) {
  char hex[2];
  TFlashWrRXCont::ByteToHex(0x9A, hex);
  EXPECT_EQ(std::string(hex, 2), "9A");
  TFlashWrRXCont::ByteToHex(0x05, hex);
  EXPECT_EQ(std::string(hex, 2), "05");
  TFlashWrRXCont::ByteToHex(0xF0, hex);
  EXPECT_EQ(std::string(hex, 2), "F0");
  uint8_t be[4];
  TFlashWrRXCont::PutBigEndian32(0xA500000D, be);
  EXPECT_EQ(TBytes(be, be + 4), (TBytes{0xA5, 0x00, 0x00, 0x0D}));
}

TEST_F(TBootMonitorTest, EachRequestSendsItsExactBytes) {
  UseScripted(nullptr);
  C->RunBoot();
  C->WriteWord(0x20000848, 1u, Reply);
  const uint8_t value[4] = {0x12, 0x34, 0xAB, 0xCD};  // written in the order given
  C->WriteWord(0x400E1400, value, Reply);
  C->ReadWord(0x2000084C, Reply);
  C->SendFile(0x20000800, 5948, Reply);
  C->Go(0x20000800, Reply);
  const std::vector<TBytes> expected = {Bytes("#"),
                                        Bytes("W20000848,00000001#"),
                                        Bytes("W400E1400,1234ABCD#"),
                                        Bytes("w2000084C,4#"),
                                        Bytes("S20000800,0000173C#"),
                                        Bytes("G20000800#")};
  EXPECT_EQ(Messages, expected);
}

TEST_F(TBootMonitorTest, MarkerByteDecidesSuccessLikeATimeOut) {
  std::string answer;
  UseScripted([&](const TBytes&) { return Bytes(answer); });

  answer = "\n\r>";
  EXPECT_TRUE(C->RunBoot());
  EXPECT_TRUE(Ui.HasLine("OK: RunBoot"));
  answer = "\n\r?";
  EXPECT_FALSE(C->RunBoot());
  EXPECT_TRUE(Ui.HasLine("NG: RunBoot"));
  answer = "";
  EXPECT_EQ(Timed([&] { EXPECT_FALSE(C->WriteWord(0x20000840, 6u, Reply)); }), 3000u);
  EXPECT_TRUE(Ui.HasLine("NG: Write a Word"));

  answer = "\n\rC";
  EXPECT_TRUE(C->SendFile(0x20002000, 0x1000, Reply));
  EXPECT_TRUE(Ui.HasLine("Get C: Send a File "));
  answer = "\n\r>";
  EXPECT_FALSE(C->SendFile(0x20002000, 0x1000, Reply));
  EXPECT_TRUE(Ui.HasLine("NG: Send a File"));

  // A word read needs '>' as its 15th byte, however many bytes came.
  answer = "\n\r0x20002000\n\r>";
  Ui.FLog.clear();
  EXPECT_TRUE(C->ReadWord(0x2000084C, Reply));
  EXPECT_EQ(Ui.FLog, (std::vector<std::string>{"", "OK: Read a Word"}));
  answer = "\n\r0x20002000\n\r\n>";
  EXPECT_FALSE(C->ReadWord(0x2000084C, Reply));
  answer = "\n\r0x20002000\n>";  // 14 bytes: times out
  EXPECT_FALSE(C->ReadWord(0x2000084C, Reply));
  EXPECT_TRUE(Ui.HasLine("NG: Read a Word"));
}

TEST_F(TBootMonitorTest, GoIsAlwaysTrueAndAlwaysPauses) {
  std::string answer;
  UseScripted([&](const TBytes&) { return Bytes(answer); });
  EXPECT_EQ(Timed([&] { EXPECT_TRUE(C->Go(0x20000800, Reply)); }), 600u + 500u);
  EXPECT_TRUE(Ui.HasLine("OK: Go"));
  answer = "\n\r>\n";
  const uint64_t t = Timed([&] { EXPECT_TRUE(C->Go(0x20000800, Reply)); });
  EXPECT_GE(t, 500u);
  EXPECT_LT(t, 600u);
}

TEST_F(TBootMonitorTest, ReplyWordParsingRefusesAnythingNotHexadecimal) {
  SetReply("\n\r0x20002000\n\r>");
  EXPECT_EQ(TFlashWrRXCont::ParseReplyWord(Reply), 0x20002000u);
  SetReply("\n\r0xdeadBEEF\n\r>");
  EXPECT_EQ(TFlashWrRXCont::ParseReplyWord(Reply), 0xDEADBEEFu);
  SetReply("\n\r0x2000G000\n\r>");
  EXPECT_THROW(TFlashWrRXCont::ParseReplyWord(Reply), TReplyWordError);
  SetReply("\n\r0x 2000000\n\r>");
  EXPECT_THROW(TFlashWrRXCont::ParseReplyWord(Reply), TReplyWordError);

  // A short reply: ReadWord cleared the buffer, so the missing digits are
  // zero bytes, not a smaller number.
  UseScripted([](const TBytes&) { return Bytes("\n\r0x2000"); });
  std::fill(std::begin(Reply), std::end(Reply), 'F');
  EXPECT_FALSE(C->ReadWord(0x20000850, Reply));
  EXPECT_EQ(Reply[8], 0);
  EXPECT_EQ(Reply[255], 0);
  EXPECT_THROW(TFlashWrRXCont::ParseReplyWord(Reply), TReplyWordError);
}

TEST_F(TBootMonitorTest, TransferSendsNumberedCrcBlocksThenEot) {
  UseScripted([](const TBytes&) { return TBytes{0x06}; });
  TBytes data(256 * 128 + 50);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31 + 7);
  C->SetGaugeMax(static_cast<int32_t>(data.size()));
  EXPECT_TRUE(C->TransferFile(data.data(), static_cast<uint32_t>(data.size())));
  EXPECT_TRUE(Ui.HasLine("OK : Send a File "));

  ASSERT_EQ(Messages.size(), 257u + 1);
  for (size_t k = 0; k < 257; ++k) {
    const TBytes& b = Messages[k];
    ASSERT_EQ(b.size(), 133u);
    EXPECT_EQ(b[0], 0x01);
    EXPECT_EQ(b[1], static_cast<uint8_t>(k + 1));
    EXPECT_EQ(b[2], static_cast<uint8_t>(~(k + 1)));
    const uint16_t crc = Crc16Xmodem(b.data() + 3, 128);
    EXPECT_EQ(b[131], crc >> 8);
    EXPECT_EQ(b[132], crc & 0xFF);
  }
  EXPECT_EQ(Messages[255][1], 0x00);  // the 256th block
  EXPECT_EQ(Messages[255][2], 0xFF);
  const TBytes& last = Messages[256];
  EXPECT_TRUE(std::equal(last.begin() + 3, last.begin() + 53, data.end() - 50));
  EXPECT_TRUE(std::all_of(last.begin() + 53, last.begin() + 131, [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(Messages.back(), TBytes{0x04});

  EXPECT_EQ(C->FProgressCount, 257 * 128);
  EXPECT_EQ(C->FGaugePosition, static_cast<int32_t>(data.size()));  // kept within the maximum
  ASSERT_FALSE(Ui.FGauge.empty());
  EXPECT_EQ(Ui.FGauge.back(), 100);
  EXPECT_TRUE(std::is_sorted(Ui.FGauge.begin(), Ui.FGauge.end()));
}

TEST_F(TBootMonitorTest, WholeBlocksNeedNoFillAndEmptyDataOnlyEnds) {
  UseScripted([](const TBytes&) { return TBytes{0x06}; });
  TBytes data(256, 0xA5);
  EXPECT_TRUE(C->TransferFile(data.data(), 256));
  ASSERT_EQ(Messages.size(), 3u);
  EXPECT_EQ(Messages[1][130], 0xA5);
  Messages.clear();
  EXPECT_TRUE(C->TransferFile(nullptr, 0));
  EXPECT_EQ(Messages, std::vector<TBytes>{TBytes{0x04}});
}

TEST_F(TBootMonitorTest, RefusedOrUnansweredBlockEndsTheTransferAtOnce) {
  int blocks = 0;
  UseScripted([&](const TBytes& b) {
    return TBytes{b.size() == 133 && ++blocks == 2 ? uint8_t{0x15} : uint8_t{0x06}};
  });
  TBytes data(1000, 0x11);
  EXPECT_FALSE(C->TransferFile(data.data(), 1000));
  EXPECT_EQ(Messages.size(), 2u);  // no retry, no EOT
  EXPECT_FALSE(Ui.HasLine("NG : Send a File "));
  EXPECT_EQ(C->FProgressCount, 128);

  Messages.clear();
  Scripted.OnReceive = [this](TScriptedDevice&, const TBytes& b) { Messages.push_back(b); };
  EXPECT_EQ(Timed([&] { EXPECT_FALSE(C->TransferFile(data.data(), 1000)); }), 3000u);
  EXPECT_EQ(Messages.size(), 1u);

  // The end of transmission refused.
  Scripted.OnReceive = [](TScriptedDevice& d, const TBytes& b) {
    d.Reply(TBytes{b.size() == 1 ? uint8_t{0x15} : uint8_t{0x06}});
  };
  EXPECT_FALSE(C->TransferFile(data.data(), 1000));
  EXPECT_TRUE(Ui.HasLine("NG : Send a File "));
}

TEST_F(TBootMonitorTest, AppletLoadsAndAnswersItsMailboxOnTheSimulatedMonitor) {
  UseSim();
  TQtImageSource images;
  TBytes applet;
  ASSERT_TRUE(images.ReadImage(TImageRole::Applet, applet));
  ASSERT_TRUE(C->RunBoot());
  ASSERT_TRUE(
      C->SendFile(TFlashWrRXCont::kAppletAddress, static_cast<uint32_t>(applet.size()), Reply));
  ASSERT_TRUE(C->TransferFile(applet.data(), static_cast<uint32_t>(applet.size())));
  ASSERT_TRUE(C->WriteWord(TFlashWrRXCont::kMailboxArg0, 1u, Reply));
  ASSERT_TRUE(C->WriteWord(TFlashWrRXCont::kMailboxCommand, TFlashWrRXCont::kAppletInit, Reply));
  ASSERT_TRUE(C->RunApplet(Reply));
  ASSERT_TRUE(C->ReadWord(TFlashWrRXCont::kMailboxArg1, Reply));
  EXPECT_EQ(TFlashWrRXCont::ParseReplyWord(Reply), 0x20002000u);
  ASSERT_TRUE(C->ReadWord(TFlashWrRXCont::kMailboxArg2, Reply));
  EXPECT_EQ(TFlashWrRXCont::ParseReplyWord(Reply), Sim.FMonitor.FBufferSize);
  EXPECT_EQ(Sim.FMonitor.FBadRequests, 0);
  EXPECT_TRUE(Sim.FMonitor.FAppletInitialised);
}

TEST_F(TBootMonitorTest, WholeFlashImageLandsInTheSimulatedFlash) {
  UseSim();
  TQtImageSource images;
  TImageSet set(images, Host);
  set.ExtractImages();
  ASSERT_TRUE(set.LoadImages());
  ASSERT_TRUE(set.ImagesIntact());
  ASSERT_TRUE(set.BuildFlashImage());
  ASSERT_TRUE(Sim.FMonitor.SeedRomVersion("2120KRV07"));

  WriteFlash(set);
  if (HasFatalFailure()) return;
  const TBytes& flash = Sim.FMonitor.Flash();
  EXPECT_TRUE(std::equal(set.FFlash.begin(), set.FFlash.end(), flash.begin()));
  EXPECT_TRUE(std::all_of(flash.begin() + set.FFlashSize, flash.end(),
                          [](uint8_t b) { return b == 0xFF; }));
#if QVX_PLACEHOLDER_IMAGES
  EXPECT_EQ(Sim.FMonitor.RomVersion(), "2130KRV07");
#endif

  // End the applet and restart: the restart word gets no answer.
  int restarts = 0;
  Sim.FMonitor.OnRestart = [&] { ++restarts; };
  C->WriteWord(TFlashWrRXCont::kMailboxCommand, TFlashWrRXCont::kAppletEnd, Reply);
  C->WriteWord(TFlashWrRXCont::kMailboxArg0, 1u, Reply);
  C->WriteWord(TFlashWrRXCont::kMailboxArg1, 1u, Reply);
  C->Go(TFlashWrRXCont::kAppletAddress, Reply);
  EXPECT_TRUE(Sim.FMonitor.FAppletEnded);
  EXPECT_FALSE(C->WriteWord(TFlashWrRXCont::kRestartAddress, TFlashWrRXCont::kRestartWord, Reply));
  EXPECT_EQ(restarts, 1);
  EXPECT_EQ(Sim.FMonitor.FBadRequests, 0);
}

TEST_F(TBootMonitorTest, SimulatedFaultsAsTheToolSeesThem) {
  UseSim();
  TBytes data(1000, 0x42);
  Sim.FMonitor.FFaults.RefuseBlock = 2;
  ASSERT_TRUE(C->SendFile(0x20004000, 1000, Reply));
  EXPECT_FALSE(C->TransferFile(data.data(), 1000));

  Sim.FMonitor.FFaults.CorruptBlock = Sim.FMonitor.FBlocksReceived;
  ASSERT_TRUE(C->RunBoot());  // the monitor listens again after the abandoned transfer
  ASSERT_TRUE(C->SendFile(0x20004000, 1000, Reply));
  EXPECT_FALSE(C->TransferFile(data.data(), 1000));

  // The applet reports a count of its own: the tool reads that count.
  Sim.FMonitor.FFaults.BadByteCountAt = 0;
  Sim.FMonitor.FFaults.BadByteCount = 0x10;
  TQtImageSource images;
  TBytes applet;
  images.ReadImage(TImageRole::Applet, applet);
  ASSERT_TRUE(C->RunBoot());
  ASSERT_TRUE(
      C->SendFile(TFlashWrRXCont::kAppletAddress, static_cast<uint32_t>(applet.size()), Reply));
  ASSERT_TRUE(C->TransferFile(applet.data(), static_cast<uint32_t>(applet.size())));
  C->WriteWord(TFlashWrRXCont::kMailboxArg0, 1u, Reply);
  C->WriteWord(TFlashWrRXCont::kMailboxCommand, TFlashWrRXCont::kAppletInit, Reply);
  ASSERT_TRUE(C->RunApplet(Reply));
  C->WriteWord(TFlashWrRXCont::kMailboxCommand, TFlashWrRXCont::kAppletWrite, Reply);
  C->WriteWord(TFlashWrRXCont::kMailboxArg0, 0x20002000u, Reply);
  C->WriteWord(TFlashWrRXCont::kMailboxArg1, 0x100u, Reply);
  C->WriteWord(TFlashWrRXCont::kMailboxArg2, 0u, Reply);
  ASSERT_TRUE(C->RunApplet(Reply));
  ASSERT_TRUE(C->ReadWord(TFlashWrRXCont::kMailboxArg0, Reply));
  EXPECT_EQ(TFlashWrRXCont::ParseReplyWord(Reply), 0x10u);

  // The link drops in the middle of a transfer: it fails within one time-out.
  Sim.FMonitor.FFaults.HangupAtBlock = Sim.FMonitor.FBlocksReceived + 3;
  ASSERT_TRUE(C->SendFile(0x20004000, 1000, Reply));
  EXPECT_LE(Timed([&] { EXPECT_FALSE(C->TransferFile(data.data(), 1000)); }), 3100u);
  EXPECT_FALSE(C->CommX1->IsOpen());

  // A monitor that never answers: each wake-up gives up after 3000 ms.
  ASSERT_TRUE(C->OpenComPort(ComPortNumber("ttyUSB1")));
  Sim.FMonitor.FFaults.Silent = true;
  EXPECT_EQ(Timed([&] { EXPECT_FALSE(C->RunBoot()); }), 3000u);
}

TEST_F(TBootMonitorTest, EndProcessingRestartsTheReaderIntoTheWrittenFirmware) {
  UseReaderInBootMonitor();
  ASSERT_TRUE(Target.FMonitor.SeedRomVersion("2120KRV07"));
  TQtImageSource images;
  TImageSet set(images, Host);
  set.ExtractImages();
  ASSERT_TRUE(set.LoadImages());
  ASSERT_TRUE(set.BuildFlashImage());
  WriteFlash(set);
  if (HasFatalFailure()) return;

  Ui.FLog.clear();
  EXPECT_TRUE(C->EndProcessing());
  EXPECT_TRUE(Target.FMonitor.FAppletEnded);
  EXPECT_EQ(Target.FMonitor.FRestarts, 1);
  EXPECT_EQ(Reader.State(), TSimReader::TState::Command);
  EXPECT_EQ(std::string(C->FRomVersion), Reader.RomVersion());
#if QVX_PLACEHOLDER_IMAGES
  EXPECT_EQ(std::string(C->FRomVersion), "2130KRV07");
#endif
  EXPECT_EQ(Count("リトライ"), 0);
  EXPECT_EQ(Ui.FLog.back(), "OK：終了処理");
  EXPECT_EQ(Target.FMonitor.FBadRequests, 0);
}

TEST_F(TBootMonitorTest, EndProcessingRetriesWhileTheVersionGoesUnanswered) {
  // The monitor takes every word and jump, but the reader never comes back.
  UseScripted(
      [](const TBytes& b) { return b[0] == 'W' || b[0] == 'G' ? Bytes("\n\r>") : TBytes{}; });
  EXPECT_FALSE(C->EndProcessing());
  EXPECT_EQ(Count("リトライ"), 5);
  EXPECT_EQ(Ui.FLog.back(), "NG：終了処理");
  ASSERT_EQ(Messages.size(), 5u * 6);
  const std::vector<TBytes> attempt = {Bytes("W20000840,00000006#"), Bytes("W20000848,00000001#"),
                                       Bytes("W2000084C,00000001#"), Bytes("G20000800#"),
                                       Bytes("W400E1400,A500000D#")};
  for (size_t i = 0; i < 5; ++i) {
    for (size_t j = 0; j < attempt.size(); ++j) EXPECT_EQ(Messages[6 * i + j], attempt[j]);
    EXPECT_EQ(Messages[6 * i + 5][0], 0x02);  // the ROM version request frame
  }
}

TEST_F(TBootMonitorTest, EndProcessingGivesUpOnASilentRestartWithoutHanging) {
  Reader.FOptions.SilentAfterRestart = true;
  UseReaderInBootMonitor();
  TQtImageSource images;
  TBytes applet;
  ASSERT_TRUE(images.ReadImage(TImageRole::Applet, applet));
  ASSERT_TRUE(C->RunBoot());
  ASSERT_TRUE(
      C->SendFile(TFlashWrRXCont::kAppletAddress, static_cast<uint32_t>(applet.size()), Reply));
  ASSERT_TRUE(C->TransferFile(applet.data(), static_cast<uint32_t>(applet.size())));

  // The first attempt restarts the reader, which stays silent; the later
  // ones fail at their first word write and add no line.
  EXPECT_LT(Timed([&] { EXPECT_FALSE(C->EndProcessing()); }), 20000u);
  EXPECT_EQ(Count("リトライ"), 1);
  EXPECT_EQ(Ui.FLog.back(), "NG：終了処理");
  EXPECT_EQ(Reader.State(), TSimReader::TState::SilentUntilPowerCycle);
}
