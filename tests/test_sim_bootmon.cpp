// The simulated boot monitor and applet, driven with raw bytes in virtual
// time: the device side must stand on its own, not lean on the tool's code.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "link/Checksums.h"
#include "sim/InProcessLink.h"
#include "sim/VirtualHost.h"
#include "sim/bootmon/SimBootMonitor.h"

namespace {

constexpr uint8_t kAck = 0x06, kNak = 0x15, kEot = 0x04;
const std::string kPrompt = "\n\r>";

TBytes Bytes(const std::string& s) {
  return TBytes(s.begin(), s.end());
}

// An XMODEM-CRC block with the given number and 128 data bytes.
TBytes Block(uint8_t number, const TBytes& data) {
  TBytes b = {0x01, number, static_cast<uint8_t>(0xFF - number)};
  b.insert(b.end(), data.begin(), data.end());
  b.resize(3 + 128, 0x00);
  const uint16_t crc = Crc16Xmodem(b.data() + 3, 128);
  b.push_back(static_cast<uint8_t>(crc >> 8));
  b.push_back(static_cast<uint8_t>(crc));
  return b;
}

TBytes Fill(size_t n, uint8_t first) {
  TBytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(first + i);
  return b;
}

std::string Hex8(uint32_t v) {
  char s[9];
  std::snprintf(s, sizeof s, "%08X", static_cast<unsigned>(v));
  return s;
}

struct TSimBootMonTest : ::testing::Test {
  TVirtualHost Host;
  TSimBootMonitor Mon{Host};
  TBytes Out;
  int Restarts = 0;
  int Hangups = 0;

  void SetUp() override {
    Mon.OnEmit = [this](const TBytes& b, uint32_t extraMs) {
      Host.After(extraMs, [this, b] { Out.insert(Out.end(), b.begin(), b.end()); });
    };
    Mon.OnRestart = [this] { ++Restarts; };
    Mon.OnHangup = [this] { ++Hangups; };
  }
  // Sends bytes, lets the monitor answer, returns what it said.
  TBytes Say(const TBytes& b, uint64_t ms = 50) {
    Out.clear();
    Mon.Receive(b.data(), b.size());
    Host.RunFor(ms);
    return Out;
  }
  TBytes Say(const std::string& s, uint64_t ms = 50) { return Say(Bytes(s), ms); }
  TBytes WriteWord(uint32_t a, uint32_t v) { return Say("W" + Hex8(a) + "," + Hex8(v) + "#"); }
  // Sends data to RAM at address with the block transfer; true when all ACKed.
  bool Load(uint32_t address, const TBytes& data) {
    if (Say("S" + Hex8(address) + "," + Hex8(static_cast<uint32_t>(data.size())) + "#") !=
        Bytes("\n\rC"))
      return false;
    for (size_t k = 0; k * 128 < data.size(); ++k) {
      const TBytes part(data.begin() + k * 128,
                        data.begin() + std::min(data.size(), k * 128 + 128));
      if (Say(Block(static_cast<uint8_t>(k + 1), part)) != TBytes{kAck}) return false;
    }
    return Say(TBytes{kEot}) == TBytes{kAck};
  }
  // A minimal applet: its vector pair points into RAM and into itself.
  bool LoadApplet() {
    TBytes applet(0x200, 0x00);
    const uint32_t words[2] = {0x2001FFF0, 0x20000851};
    for (int w = 0; w < 2; ++w)
      for (int i = 0; i < 4; ++i) applet[4 * w + i] = static_cast<uint8_t>(words[w] >> (8 * i));
    return Load(TSimBootMonitor::kAppletAddress, applet);
  }
  TBytes RunApplet() { return Say("G20000800#", 1000); }
};

}  // namespace

TEST_F(TSimBootMonTest, AnswersWakeUpWordWriteAndRead) {
  EXPECT_EQ(Say("#"), Bytes(kPrompt));
  EXPECT_EQ(WriteWord(0x20001000, 0x1234ABCD), Bytes(kPrompt));
  const TBytes word = Say("w20001000,4#");
  ASSERT_EQ(word.size(), 15u);
  EXPECT_EQ(word, Bytes("\n\r0x1234ABCD\n\r>"));
  // Flash reads show the erased flash; lower-case digits are accepted too.
  EXPECT_EQ(Say("w00400000,4#"), Bytes("\n\r0xFFFFFFFF\n\r>"));
  EXPECT_EQ(Say("w2000100c,4#"), Bytes("\n\r0x00000000\n\r>"));

  // A request split over arrivals, with line noise before it.
  Out.clear();
  for (char c : std::string("\r\nW20001004,0000")) Mon.Receive(reinterpret_cast<uint8_t*>(&c), 1);
  EXPECT_EQ(Say("0007#"), Bytes(kPrompt));
  EXPECT_EQ(Mon.PeekWord(0x20001004), 7u);

  EXPECT_EQ(Say("W2000100G,1#"), Bytes(kPrompt));
  EXPECT_EQ(Say("Q#"), Bytes(kPrompt));
  EXPECT_EQ(Mon.FBadRequests, 2);
}

TEST_F(TSimBootMonTest, ReceivesBlocksUpToTheAnnouncedLength) {
  const TBytes data = Fill(192, 0x10);
  ASSERT_EQ(Say("S20000900,000000C0#"), Bytes("\n\rC"));
  EXPECT_EQ(Say(Block(1, TBytes(data.begin(), data.begin() + 128))), TBytes{kAck});
  TBytes second(data.begin() + 128, data.end());
  second.resize(128, 0xEE);  // beyond the announced length: not stored
  EXPECT_EQ(Say(Block(2, second)), TBytes{kAck});
  EXPECT_EQ(Say(Block(3, Fill(128, 0))), TBytes{kNak});  // more than announced
  EXPECT_EQ(Say(TBytes{kEot}), TBytes{kAck});
  EXPECT_EQ(Mon.State(), TSimBootMonitor::TState::Command);
  EXPECT_EQ(Mon.PeekWord(0x20000900), 0x13121110u);
  EXPECT_EQ(Mon.PeekWord(0x20000900 + 188), 0xCFCECDCCu);
  EXPECT_EQ(Mon.PeekWord(0x20000900 + 192), 0u);
}

TEST_F(TSimBootMonTest, RefusesDamagedOrOutOfOrderBlocks) {
  ASSERT_EQ(Say("S20000900,00001000#"), Bytes("\n\rC"));
  TBytes bad = Block(1, Fill(128, 1));
  bad[40] ^= 0x80;
  EXPECT_EQ(Say(bad), TBytes{kNak});  // CRC
  bad = Block(1, Fill(128, 1));
  bad[2] = 0x00;
  EXPECT_EQ(Say(bad), TBytes{kNak});                     // complement
  EXPECT_EQ(Say(Block(2, Fill(128, 1))), TBytes{kNak});  // block 1 missing

  // Split over three arrivals it is still one block.
  const TBytes one = Block(1, Fill(128, 1));
  Out.clear();
  Mon.Receive(one.data(), 50);
  Mon.Receive(one.data() + 50, 50);
  EXPECT_EQ(Say(TBytes(one.begin() + 100, one.end())), TBytes{kAck});
  // A repeated block is acknowledged but not stored again.
  EXPECT_EQ(Say(Block(1, Fill(128, 0x80))), TBytes{kAck});
  EXPECT_EQ(Mon.PeekWord(0x20000900), 0x04030201u);

  // Half a block and then silence: dropped after the stall time.
  const TBytes two = Block(2, Fill(128, 2));
  EXPECT_EQ(Say(TBytes(two.begin(), two.begin() + 60), Mon.FBlockStallMs + 10), TBytes{kNak});
  EXPECT_EQ(Say(two), TBytes{kAck});
}

TEST_F(TSimBootMonTest, BlockNumbersWrapAfter255) {
  TBytes data(257 * 128, 0x00);
  for (size_t k = 0; k < 257; ++k) {  // each block starts with its index
    data[k * 128] = static_cast<uint8_t>(k);
    data[k * 128 + 1] = static_cast<uint8_t>(k >> 8);
  }
  ASSERT_TRUE(Load(0x20004000, data));
  EXPECT_EQ(Mon.FBlocksReceived, 257);
  EXPECT_EQ(Mon.PeekWord(0x20004000 + 255 * 128), 255u);  // the block numbered 0x00
  EXPECT_EQ(Mon.PeekWord(0x20004000 + 256 * 128), 256u);  // numbered 0x01 again
}

TEST_F(TSimBootMonTest, AByteThatIsNoBlockEndsTheTransfer) {
  ASSERT_EQ(Say("S20000900,00000100#"), Bytes("\n\rC"));
  EXPECT_EQ(Say("#"), Bytes(kPrompt));
  EXPECT_EQ(Mon.State(), TSimBootMonitor::TState::Command);
}

TEST_F(TSimBootMonTest, GoWithoutAValidAppletNeverComesBack) {
  EXPECT_TRUE(RunApplet().empty());
  EXPECT_EQ(Mon.State(), TSimBootMonitor::TState::Crashed);
  EXPECT_TRUE(Say("#").empty());

  // Loaded, but its entry points outside itself (a boot program, say).
  Mon.Enter();
  TBytes wrong(0x200, 0x00);
  wrong[0] = 0x00, wrong[1] = 0xF8, wrong[2] = 0x01, wrong[3] = 0x20;
  wrong[4] = 0x31, wrong[5] = 0x05, wrong[6] = 0x40, wrong[7] = 0x00;
  ASSERT_TRUE(Load(TSimBootMonitor::kAppletAddress, wrong));
  EXPECT_TRUE(RunApplet().empty());
}

TEST_F(TSimBootMonTest, AppletInitialisesWritesFlashAndEnds) {
  ASSERT_TRUE(LoadApplet());
  WriteWord(0x20000848, 1);
  WriteWord(0x20000840, 0);
  EXPECT_EQ(RunApplet(), Bytes(kPrompt));
  EXPECT_EQ(Mon.PeekWord(0x2000084C), Mon.FBufferAddress);
  EXPECT_EQ(Mon.PeekWord(0x20000850), Mon.FBufferSize);
  EXPECT_EQ(Mon.PeekWord(0x20000844), 0u);

  const TBytes chunk = Fill(300, 0x40);
  ASSERT_TRUE(Load(Mon.FBufferAddress, chunk));
  WriteWord(0x20000840, 2);
  WriteWord(0x20000848, Mon.FBufferAddress);
  WriteWord(0x2000084C, 300);
  WriteWord(0x20000850, 0x12345);
  RunApplet();
  EXPECT_EQ(Mon.PeekWord(0x20000848), 300u);
  EXPECT_TRUE(std::equal(chunk.begin(), chunk.end(), Mon.Flash().begin() + 0x12345));
  EXPECT_EQ(Mon.Flash()[0x12344], 0xFF);
  EXPECT_EQ(Mon.Flash()[0x12345 + 300], 0xFF);

  // A chunk that would run past the end of the flash is not written.
  WriteWord(0x20000840, 2);
  WriteWord(0x20000850, static_cast<uint32_t>(Mon.Flash().size()) - 100);
  RunApplet();
  EXPECT_EQ(Mon.PeekWord(0x20000848), 0u);
  EXPECT_EQ(Mon.PeekWord(0x20000844), 1u);

  WriteWord(0x20000840, 6);
  WriteWord(0x20000848, 1);
  WriteWord(0x2000084C, 1);
  RunApplet();
  EXPECT_TRUE(Mon.FAppletEnded);
}

TEST_F(TSimBootMonTest, RestartWordRestartsWithoutAnswerAndClearsRam) {
  ASSERT_TRUE(LoadApplet());
  EXPECT_TRUE(Say("W400E1400,A500000D#", Mon.FRestartDelayMs - 1).empty());
  EXPECT_EQ(Restarts, 0);
  Host.RunFor(1);
  EXPECT_EQ(Restarts, 1);
  EXPECT_EQ(Mon.State(), TSimBootMonitor::TState::Off);
  EXPECT_EQ(Mon.PeekWord(0x20000800), 0u);
  EXPECT_TRUE(Say("#").empty());  // the reader runs now, not the monitor
  Mon.Enter();
  EXPECT_EQ(Say("#"), Bytes(kPrompt));
  // Another word at that address is just a write.
  EXPECT_EQ(Say("W400E1400,A5000001#"), Bytes(kPrompt));
}

TEST_F(TSimBootMonTest, RomVersionTextIsFoundOnlyBehindItsMarker) {
  EXPECT_EQ(Mon.RomVersion(), std::nullopt);
  ASSERT_TRUE(Mon.SeedRomVersion("2120KRV07"));
  EXPECT_EQ(Mon.RomVersion(), "2120KRV07");
  EXPECT_EQ(FindRomVersion(Mon.Flash().data(), kRomVersionFlashOffset + 16), std::nullopt);
  Mon.Flash()[kRomVersionFlashOffset + 8] = 0x01;  // not printable
  EXPECT_EQ(Mon.RomVersion(), std::nullopt);
  EXPECT_FALSE(Mon.SeedRomVersion("2130"));
}

TEST_F(TSimBootMonTest, FaultSwitches) {
  Mon.FFaults.RefuseBlock = 0;
  Mon.FFaults.CorruptBlock = 1;
  Mon.FFaults.HangupAtBlock = 3;
  ASSERT_EQ(Say("S20000900,00001000#"), Bytes("\n\rC"));
  EXPECT_EQ(Say(Block(1, Fill(128, 1))), TBytes{kNak});  // refused
  EXPECT_EQ(Say(Block(1, Fill(128, 1))), TBytes{kNak});  // arrived corrupted
  EXPECT_EQ(Say(Block(1, Fill(128, 1))), TBytes{kAck});
  EXPECT_TRUE(Say(Block(2, Fill(128, 2))).empty());
  EXPECT_EQ(Hangups, 1);

  Mon.Enter();
  Mon.FFaults.BadByteCountAt = 0;
  Mon.FFaults.BadByteCount = 0;
  ASSERT_TRUE(LoadApplet());
  WriteWord(0x20000848, 1);
  WriteWord(0x20000840, 0);
  RunApplet();
  WriteWord(0x20000840, 2);
  WriteWord(0x20000848, Mon.FBufferAddress);
  WriteWord(0x2000084C, 64);
  WriteWord(0x20000850, 0);
  RunApplet();
  EXPECT_EQ(Mon.PeekWord(0x20000848), 0u);  // wrote 64, says 0
  EXPECT_EQ(Mon.Flash()[63], 0x00);
  WriteWord(0x20000848, Mon.FBufferAddress);
  RunApplet();
  EXPECT_EQ(Mon.PeekWord(0x20000848), 64u);  // only that one write

  Mon.FFaults.SilentAfterRestart = true;
  Say("W400E1400,A500000D#", 10000);
  EXPECT_EQ(Restarts, 0);
  Mon.PowerCycle();
  EXPECT_EQ(Restarts, 1);

  Mon.Enter();
  Mon.FFaults.Silent = true;
  EXPECT_TRUE(Say("#").empty());
}

TEST(SimBootMonitorDevice, ReopeningTheLinkPowerCyclesASilentReader) {
  TVirtualHost host;
  TSimLinkFactory links(host);
  TSimBootMonitorDevice device(host);
  int restarts = 0;
  device.FMonitor.OnRestart = [&] { ++restarts; };
  device.FMonitor.FFaults.SilentAfterRestart = true;
  links.AddSerialDevice("ttyUSB0", &device);
  auto port = links.CreateSerialPort();
  port->SetPortName("ttyUSB0");
  ASSERT_TRUE(port->Open());
  const TBytes wake = Bytes("#");
  port->Write(wake.data(), 1);
  host.RunFor(50);
  EXPECT_EQ(port->BytesWaiting(), 3);
  const TBytes restart = Bytes("W400E1400,A500000D#");
  port->Write(restart.data(), static_cast<int>(restart.size()));
  host.RunFor(5000);
  EXPECT_EQ(restarts, 0);
  port->Close();
  ASSERT_TRUE(port->Open());
  EXPECT_EQ(restarts, 1);
  EXPECT_EQ(device.FReceived.size(), 1 + restart.size());
}
