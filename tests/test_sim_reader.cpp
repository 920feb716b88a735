// The tool's reader commands against the simulated reader and its interface
// board in virtual time, the simulator's fault switches as the tool sees
// them, and the simulator's own frame handling and boot-monitor seam.
#include <gtest/gtest.h>

#include "link/FlashWrRXCont.h"
#include "link/PortNames.h"
#include "sim/InProcessLink.h"
#include "sim/VirtualHost.h"
#include "sim/reader/SimReader.h"
#include "support/ScriptedLink.h"
#include "support/TestUi.h"

namespace {

struct TEntriesUi : TTestUi {
  void DisableUpdateEntries(bool) override { ++FDisabled; }
  int FDisabled = 0;
};

// A boot monitor stand-in: answers "#" with a prompt, restarts on "R".
struct TPromptTarget : ISimBootTarget {
  void Enter(ISimBootPort& port) override {
    FPort = &port;
    ++FEntered;
  }
  void Receive(const uint8_t* data, size_t count) override {
    FGot.insert(FGot.end(), data, data + count);
    if (!FPort) return;
    if (data[count - 1] == '#') FPort->Emit({'\r', '\n', '>'});
    if (data[count - 1] == 'R') {
      FPort->SetRomVersion("2130KRV07");
      FPort->Restart();
    }
  }
  void Leave() override {
    FPort = nullptr;
    ++FLeft;
  }
  ISimBootPort* FPort = nullptr;
  TBytes FGot;
  int FEntered = 0;
  int FLeft = 0;
};

TBytes Bytes(const std::string& s) {
  return TBytes(s.begin(), s.end());
}

struct TSimReaderTest : ::testing::Test {
  TVirtualHost Host;
  TSimLinkFactory Links{Host};
  TEntriesUi Ui;
  std::unique_ptr<TSimReader> R;
  std::unique_ptr<TFlashWrRXCont> C;

  void Start(TSimReaderOptions options = {}) {
    R = std::make_unique<TSimReader>(std::move(options));
    AddSimReaderEndpoints(Links, R.get());
    tagCOMPara para;
    para.BaudRate = 115200;
    C = MakeQuietController(Host, Links, Ui, para);
    ASSERT_TRUE(OpenSimReaderLink(*C, R->FOptions.Link == TSimLink::Tcp));
  }
  static TSimReaderOptions Tcp() {
    TSimReaderOptions o;
    o.Link = TSimLink::Tcp;
    return o;
  }
  void Send(const TBytes& b) { C->SendData(b.data(), static_cast<int>(b.size()), true); }
  uint32_t Elapsed(uint32_t since) { return Host.TickCount() - since; }
};

TEST_F(TSimReaderTest, EveryCommandWorksOverTcpThroughTheBoard) {
  Start(Tcp());
  EXPECT_EQ(C->ReadRomVersion(true), 1);
  EXPECT_STREQ(C->FRomVersion, "2120KRV07");
  EXPECT_EQ(C->ReadModelName(true, false), 1);
  EXPECT_EQ(C->AcceptReader(true), 1);
  EXPECT_EQ(C->FReaderAccepted, 1);
  EXPECT_STREQ(C->FModelName, "QVX-K417      ");
  EXPECT_EQ(C->DousaModeSet(false, 0, 0, 8, 0), 1);
  EXPECT_EQ(R->FOperationMode, (TBytes{0, 0, 0, 8, 1, 0, 0}));

  uint16_t word = 0;
  EXPECT_EQ(C->GetIFBMode(word, true), 1);
  EXPECT_EQ(word, 0x0012);
  EXPECT_EQ(C->IfbDousaModeSet(0x0094), 1);
  EXPECT_EQ(R->IfbModeWord(), 0x0094);
  EXPECT_EQ(C->SetIFBMode(0x0014, true), 1);
  EXPECT_EQ(R->IfbModeWord(), 0x0014);
  EXPECT_EQ(C->CheckIfbVersion(1022), 1);
  EXPECT_STREQ(C->FRomVersion, "1022IFB01");
  C->IfbCmdThrough();
  EXPECT_TRUE(R->BoardPassThrough());
  for (const auto& r : R->FBoardRequests) EXPECT_EQ(r.Letter, 'E');
  for (const auto& r : R->FReaderRequests) EXPECT_NE(r.Letter, 'E');
  EXPECT_EQ(R->FBoardRequests.size(), 5u);

  EXPECT_EQ(C->SetProgMode(), 1);
  EXPECT_EQ(R->State(), TSimReader::TState::BootMonitor);

  // The board acknowledges its restart, then drops the connection.
  EXPECT_EQ(C->RestartIfb(), 1);
  EXPECT_EQ(C->FSockConnected, 1);
  Host.RunFor(R->FOptions.BoardHangupMs);
  EXPECT_EQ(C->FSockConnected, 0);
  EXPECT_FALSE(R->BoardPassThrough());
}

TEST_F(TSimReaderTest, BoardRestartDropsOnlyTheConnectionThatCarriedIt) {
  Start(Tcp());
  EXPECT_EQ(C->RestartIfb(), 1);
  C->CloseLink();
  ASSERT_TRUE(C->OpenTcpLink(10777, 0, 9004, "10.1.2.3"));
  Host.RunFor(R->FOptions.BoardRestartMs);
  EXPECT_EQ(C->FSockConnected, 1);
  EXPECT_EQ(C->ReadIfbRomVersion(false), 1);
}

TEST_F(TSimReaderTest, OverUsbSerialTheReaderRefusesBoardCommandsByDefault) {
  Start();
  uint32_t start = Host.TickCount();
  EXPECT_EQ(C->SetIFBMode(0x0014, false), 0);
  EXPECT_LT(Elapsed(start), 50u);  // refused, not timed out
  uint16_t word = 0x7777;
  EXPECT_EQ(C->GetIFBMode(word, false), 0);
  EXPECT_EQ(word, 0x7777);
  EXPECT_TRUE(R->FBoardRequests.empty());
  EXPECT_EQ(C->ReadRomVersion(false), 1);

  EXPECT_EQ(C->SetProgModeWithCode(), 1);
  EXPECT_EQ(R->State(), TSimReader::TState::BootMonitor);
  EXPECT_EQ(R->FBaudRate, 19200);
}

TEST_F(TSimReaderTest, ABoardOnTheSerialPathAnswersAndRestartsWithoutHangingUp) {
  TSimReaderOptions o;
  o.BoardOnSerial = true;
  Start(o);
  uint16_t word = 0;
  EXPECT_EQ(C->GetIFBMode(word, false), 1);
  EXPECT_EQ(word, 0x0012);
  EXPECT_EQ(C->RestartIfb(), 1);
  // Deaf while it restarts, then back; the port stays open throughout.
  EXPECT_EQ(C->ReadIfbRomVersion(false), 0);
  Host.RunFor(R->FOptions.BoardRestartMs);
  EXPECT_TRUE(C->CommX1->IsOpen());
  EXPECT_EQ(C->ReadIfbRomVersion(false), 1);
}

TEST_F(TSimReaderTest, NoReaderLeavesOnlyTheBoardAnsweringOverTcp) {
  TSimReaderOptions o = Tcp();
  o.NoReader = true;
  Start(o);
  const uint32_t start = Host.TickCount();
  EXPECT_EQ(C->ReadRomVersion(false), 0);
  EXPECT_EQ(Elapsed(start), 1000u);
  EXPECT_EQ(C->ReadIfbRomVersion(false), 1);
}

TEST_F(TSimReaderTest, NoReaderOverSerialAnswersNothing) {
  TSimReaderOptions o;
  o.NoReader = true;
  Start(o);
  uint16_t word = 0;
  const uint32_t start = Host.TickCount();
  EXPECT_EQ(C->DousaModeSet(false, 0, 0, 8, 0), 0);
  EXPECT_EQ(C->GetIFBMode(word, false), 0);
  EXPECT_EQ(Elapsed(start), 2000u);
}

TEST_F(TSimReaderTest, WrongModelAndOldBoardAreRefusedByTheTool) {
  TSimReaderOptions o = Tcp();
  o.WrongModel = true;
  o.OldBoard = true;
  Start(o);
  EXPECT_EQ(C->AcceptReader(true), 1);
  EXPECT_EQ(C->FReaderAccepted, 0);
  EXPECT_EQ(Ui.FMessages.size(), 1u);
  EXPECT_EQ(C->CheckIfbVersion(1022), 0);
  EXPECT_STREQ(C->FRomVersion, "1021IFB01");
  EXPECT_EQ(Ui.FDisabled, 1);
}

TEST_F(TSimReaderTest, RefusedCommandsFailAtOnceAndChangeNothing) {
  TSimReaderOptions o = Tcp();
  o.Refuse('U', 0xFE);
  o.Refuse('E', 0x01);
  o.Refuse('O', 0x90);
  Start(o);
  const uint32_t start = Host.TickCount();
  EXPECT_EQ(C->SetProgMode(), 0);
  EXPECT_EQ(R->State(), TSimReader::TState::Command);
  EXPECT_EQ(C->IfbDousaModeSet(0x0094), 0);
  EXPECT_EQ(R->IfbModeWord(), 0x0012);
  EXPECT_LT(Elapsed(start), 50u);
  EXPECT_EQ(C->ReadRomVersion(false), 1);  // the status is not looked at
  EXPECT_STREQ(C->FRomVersion, "2120KRV07");

  // A wrong entry code is refused by the reader itself.
  R->FOptions.Refused.clear();
  const TBytes badCode = {0x02, 0x00, 0x4E, 0x0A, 0x9B, '0',  '0',  '0', '0',
                          '0',  '0',  '0',  '0',  '0',  0x03, 0x00, 0x0D};
  TBytes framed = badCode;
  uint8_t sum = 0;
  for (size_t i = 0; i < 15; ++i) sum = static_cast<uint8_t>(sum + framed[i]);
  framed[15] = sum;
  Send(framed);
  uint8_t answer[8] = {};
  EXPECT_TRUE(C->WaitResponse(answer, 8, 8, 1000));
  EXPECT_EQ(answer[2], '1');
  EXPECT_EQ(R->State(), TSimReader::TState::Command);
}

TEST_F(TSimReaderTest, GarbageBeforeStxIsSkippedByReceiveFrameButShiftsFixedPositions) {
  TSimReaderOptions o;
  o.LeadingBytes = {0x0D, 0xFF, 0x13};
  Start(o);
  Send({0x02, 0x00, 0x4F, 0x02, 0x90, 0x00, 0x03, 0xE6, 0x0D});
  uint8_t frame[263] = {};
  EXPECT_EQ(C->ReceiveFrame(frame, 3000), 17);
  EXPECT_EQ(std::string(frame + 5, frame + 14), "2120KRV07");
  EXPECT_EQ(C->SetProgMode(), 0);  // its status is read from a fixed position
}

TEST_F(TSimReaderTest, BadChecksumFailsReceiveFrameAtOnce) {
  TSimReaderOptions o;
  o.BadChecksum = true;
  Start(o);
  Send({0x02, 0x00, 0x4F, 0x02, 0x90, 0x00, 0x03, 0xE6, 0x0D});
  const uint32_t start = Host.TickCount();
  EXPECT_EQ(C->ReceiveFrame(nullptr, 3000), 0);
  EXPECT_LT(Elapsed(start), 50u);
  EXPECT_EQ(C->ReadRomVersion(false), 1);  // status-only reads do not check the sum
}

TEST_F(TSimReaderTest, SilenceTimesOutAfterExactlyTheStatedTime) {
  TSimReaderOptions o = Tcp();
  o.Silent = true;
  Start(o);
  for (const auto& [ms, run] : std::vector<std::pair<uint32_t, std::function<int()>>>{
           {1500u, [&] { return C->SetProgModeWithCode(); }},
           {1000u, [&] { return C->ReadIfbRomVersion(false); }},
           {1500u, [&] { return C->RestartIfb(); }},
           {1000u, [&] { return C->CheckReaderModel(false); }}}) {
    const uint32_t start = Host.TickCount();
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(Elapsed(start), ms);
  }
}

// ---- the simulator's own frame handling ----------------------------------

TEST(SimFrameParser, ResynchronisesOnStxAndDropsBadFrames) {
  TSimFrameParser p;
  const TBytes good = {0x02, 0x00, 0x4F, 0x02, 0x90, 0x00, 0x03, 0xE6, 0x0D};
  TBytes bad = good;
  bad[7] = 0xE7;
  TBytes stream = {0x55, 0x02, 0x13, 0x0D};  // noise with an STX inside
  stream.insert(stream.end(), bad.begin(), bad.end());
  stream.insert(stream.end(), good.begin(), good.end());
  std::vector<TSimRequest> got;
  for (uint8_t b : stream)  // one byte at a time
    for (auto& r : p.Push(&b, 1)) got.push_back(r);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].Letter, 'O');
  EXPECT_EQ(got[0].Data, (TBytes{0x90, 0x00}));
  EXPECT_EQ(p.BadFrames(), 1);
  EXPECT_TRUE(p.Idle());
}

TEST(SimBoardTap, CutsOutBoardFramesAndPassesTheRestInOrder) {
  TSimBoardTap tap;
  const TBytes board = {0x02, 0x00, 0x45, 0x01, 0x00, 0x03, 0x4B, 0x0D};
  TBytes stream = {'#', 0x02, 0x00, 0x4F};  // a reader frame's start diverges at 'O'
  stream.insert(stream.end(), board.begin(), board.end());
  stream.push_back(0x02);  // might start a board frame: held
  std::string order;
  TBytes reader;
  tap.Push(
      stream.data(), stream.size(), [&](const TSimRequest& r) { order += r.Letter; },
      [&](const TBytes& b) {
        order += 'r';
        reader.insert(reader.end(), b.begin(), b.end());
      });
  EXPECT_EQ(order, "rE");
  EXPECT_EQ(reader, (TBytes{'#', 0x02, 0x00, 0x4F}));
  EXPECT_TRUE(tap.Holding());
  EXPECT_EQ(tap.Flush(), (TBytes{0x02}));
}

TEST_F(TSimReaderTest, ReaderIgnoresACorruptRequestAndAnswersTheNextOne) {
  Start();
  Send({0x02, 0x00, 0x4F, 0x02, 0x90, 0x00, 0x03, 0xE5, 0x0D});
  Host.RunFor(50);
  EXPECT_EQ(C->GetRxCount(), 0);
  EXPECT_EQ(R->BadFrames(), 1);
  // A request cut short is abandoned after a pause instead of eating the next.
  Send({0x02, 0x00, 0x4F, 0x02});
  Host.RunFor(500);
  EXPECT_EQ(C->ReadRomVersion(false), 1);
}

// ---- boot monitor seam --------------------------------------------------

TEST_F(TSimReaderTest, ProgramModeHandsBytesToTheBootTargetUntilItRestarts) {
  TSimReaderOptions o = Tcp();
  o.RestartPauseMs = 300;
  Start(o);
  TPromptTarget target;
  EXPECT_EQ(C->SetProgMode(), 1);
  EXPECT_EQ(C->ReadRomVersion(false), 0);  // no target yet: bytes are ignored
  R->PlugBootTarget(&target);
  EXPECT_EQ(target.FEntered, 1);

  Send(Bytes("#"));
  uint8_t reply[3] = {};
  EXPECT_TRUE(C->WaitResponse(reply, 3, 3, 3000));
  EXPECT_EQ(reply[2], '>');
  // Boot data ending in an STX still reaches the boot monitor (after the board's hold).
  Send({0x01, 0x02});
  Host.RunFor(50);
  EXPECT_EQ(target.FGot.back(), 0x02);

  Send(Bytes("R"));
  Host.RunFor(5);
  EXPECT_EQ(R->State(), TSimReader::TState::Restarting);
  EXPECT_EQ(target.FLeft, 1);
  Host.RunFor(300);
  EXPECT_EQ(R->State(), TSimReader::TState::Command);
  EXPECT_EQ(C->ReadRomVersion(false), 1);
  EXPECT_STREQ(C->FRomVersion, "2130KRV07");
}

TEST_F(TSimReaderTest, SilentAfterRestartLastsUntilTheLinkIsReopened) {
  TSimReaderOptions o;
  o.SilentAfterRestart = true;
  Start(o);
  TPromptTarget target;
  R->PlugBootTarget(&target);
  EXPECT_EQ(C->SetProgMode(), 1);
  Send(Bytes("R"));
  Host.RunFor(1000);
  EXPECT_EQ(C->ReadRomVersion(false), 0);
  C->CloseLink();
  ASSERT_TRUE(C->OpenComPort(ComPortNumber("ttyUSB0")));
  EXPECT_EQ(C->ReadRomVersion(false), 1);
  EXPECT_STREQ(C->FRomVersion, "2130KRV07");
}

TEST(SimReaderOptions, SwitchesByName) {
  TSimReaderOptions o;
  for (const char* s : {"no-reader", "wrong-model", "old-board", "bad-sum", "silent",
                        "silent-after-restart", "board-on-serial", "tcp", "garbage=0DFF",
                        "refuse=U:FE", "refuse=E", "rom-version=2130KRV07", "ifb-mode=0094"})
    EXPECT_TRUE(o.SetSwitch(s)) << s;
  EXPECT_TRUE(o.NoReader && o.WrongModel && o.OldBoard && o.BadChecksum && o.Silent &&
              o.SilentAfterRestart && o.BoardOnSerial);
  EXPECT_EQ(o.Link, TSimLink::Tcp);
  EXPECT_EQ(o.LeadingBytes, (TBytes{0x0D, 0xFF}));
  EXPECT_TRUE(o.IsRefused({'U', {0xFE, 0x00}}));
  EXPECT_FALSE(o.IsRefused({'U', {0x74}}));
  EXPECT_TRUE(o.IsRefused({'E', {0x0A}}));
  EXPECT_EQ(o.RomVersion, "2130KRV07");
  EXPECT_EQ(o.IfbModeWord, 0x0094);
  for (const char* s : {"no-such", "refuse=U:F", "refuse=U-FE", "garbage=0", "ifb-mode=94",
                        "silent=1", "garbage=XY"})
    EXPECT_FALSE(o.SetSwitch(s)) << s;
  EXPECT_FALSE(TSimReaderOptions::SwitchHelp().empty());
}

}  // namespace
