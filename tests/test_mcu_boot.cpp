// The boot-mode command set in virtual time: frames on the wire against a
// scripted target, every command against the simulated boot-mode target.
#include <gtest/gtest.h>

#include "link/Checksums.h"
#include "link/FlashWrRXCont.h"
#include "link/PortNames.h"
#include "mcuboot/BootFrame.h"
#include "sim/InProcessLink.h"
#include "sim/ScriptedDevice.h"
#include "sim/VirtualHost.h"
#include "sim/mcu/SimMcuBootTarget.h"
#include "support/ScriptedLink.h"
#include "support/TestUi.h"

namespace {

using TResponse = TFlashWrRXCont::TBootResponse;
const uint8_t kCode7505[4] = {'7', '5', '0', '5'};

struct TMcuBootTest : ::testing::Test {
  TVirtualHost Host;
  TSimLinkFactory Links{Host};
  TTestUi Ui;
  TScriptedDevice Script;
  TSimMcuBootTarget Target;
  std::unique_ptr<TFlashWrRXCont> C;

  void SetUp() override {
    Links.AddSerialDevice("ttyUSB0", &Script);
    Links.AddSerialDevice("ttyUSB1", &Target);
    tagCOMPara para;
    para.BaudRate = 115200;
    C = MakeQuietController(Host, Links, Ui, para);
    C->FDetailLog = 1;
  }
  void UseScript() { ASSERT_TRUE(C->OpenComPort(ComPortNumber("ttyUSB0"))); }
  // Opens the target at 19200 bit/s and takes it through matching and the
  // selections into the programming/erasure command state at 38400 bit/s.
  void ToHostCommands() {
    C->CommX1->SetBaudRate(19200);
    ASSERT_TRUE(C->OpenComPort(ComPortNumber("ttyUSB1")));
    ASSERT_TRUE(C->BitRateMatch());
    ASSERT_TRUE(C->SelectDevice(kCode7505));
    ASSERT_TRUE(C->SelectClockMode(0));
    ASSERT_TRUE(C->SelectNewBitRate(384, 1000, 4, 2));
    uint8_t reply = 0;
    ASSERT_TRUE(C->EnterProgEraseState(reply));
    ASSERT_EQ(Target.State(), TSimMcuBootTarget::TState::HostCommand);
  }
  // The scripted target answers every request with these bytes.
  void AnswerWith(const TBytes& reply) {
    Script.OnReceive = [reply](TScriptedDevice& d, const TBytes&) { d.Reply(reply); };
  }
  TBytes Inquiry(uint8_t code, const TBytes& data) {
    TBytes r{code, static_cast<uint8_t>(data.size())};
    for (uint8_t b : data) r.push_back(b);
    r.push_back(TwosComplementSum(r.data(), r.size()));
    return r;
  }
  uint32_t Elapsed(uint32_t start) { return Host.TickCount() - start; }
};

TEST_F(TMcuBootTest, FramesOnTheWire) {
  UseScript();
  AnswerWith({0x06});
  uint8_t data[256];
  for (int i = 0; i < 256; ++i) data[i] = static_cast<uint8_t>(i);

  EXPECT_TRUE(C->Program256(0xFFFFFFFF, data));
  EXPECT_EQ(Script.FReceived, (TBytes{0x50, 0xFF, 0xFF, 0xFF, 0xFF, 0xB4}));

  Script.FReceived.clear();
  EXPECT_TRUE(C->EraseBlock(0xFF));
  EXPECT_EQ(Script.FReceived, (TBytes{0x58, 0x01, 0xFF, 0xA8}));

  Script.FReceived.clear();
  EXPECT_TRUE(C->SelectDevice(kCode7505));
  EXPECT_EQ(Script.FReceived, (TBytes{0x10, 0x04, 0x37, 0x35, 0x30, 0x35, 0x1B}));

  Script.FReceived.clear();
  EXPECT_TRUE(C->Program256(0x00081200, data));
  ASSERT_EQ(Script.FReceived.size(), 262u);
  EXPECT_EQ(TBytes(Script.FReceived.begin(), Script.FReceived.begin() + 6),
            (TBytes{0x50, 0x00, 0x08, 0x12, 0x00, 0x00}));
  EXPECT_EQ(Script.FReceived[260], 0xFF);
  EXPECT_EQ(TwosComplementSum(Script.FReceived.data(), 262), 0);  // sum over all is 0

  Script.FReceived.clear();
  uint8_t status = 0;
  AnswerWith({0x40});
  EXPECT_TRUE(C->ReadLockBit(0xFFFEFFFF, status));
  EXPECT_EQ(Script.FReceived, (TBytes{0x71, 0x04, 0x01, 0xFE, 0xFF, 0xFF, 0x8E}));
  EXPECT_EQ(status, 0x40);

  Script.FReceived.clear();
  EXPECT_FALSE(C->ReadMemory(1, 0xFFFA0000, 256));  // the script does not answer a read
  EXPECT_EQ(Script.FReceived,
            (TBytes{0x52, 0x09, 0x01, 0xFF, 0xFA, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0xAA}));
}

TEST_F(TMcuBootTest, InquiryOf200BytesIsReadWholeBeforeTheSumTest) {
  UseScript();
  TBytes data(200);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 3);
  const TBytes reply = Inquiry(0x35, data);
  // The reply trickles in: the wait must not judge the first bytes.
  Script.OnReceive = [&reply](TScriptedDevice& d, const TBytes&) {
    d.Reply(TBytes(reply.begin(), reply.begin() + 2), 5);
    d.Reply(TBytes(reply.begin() + 2, reply.begin() + 120), 40);
    d.Reply(TBytes(reply.begin() + 120, reply.end()), 80);
  };
  TResponse r;
  EXPECT_TRUE(C->InquireUserArea(r));
  EXPECT_EQ(r.Length, 203);
  EXPECT_EQ(TBytes(r.Bytes, r.Bytes + r.Length), reply);

  TBytes bad = reply;
  bad.back() ^= 1;
  AnswerWith(bad);
  EXPECT_FALSE(C->InquireUserArea(r));
  AnswerWith(Inquiry(0x34, data));  // wrong response code
  EXPECT_FALSE(C->InquireUserArea(r));
  EXPECT_FALSE(Ui.HasLine("エラーコード: 34"));
}

TEST_F(TMcuBootTest, RefusalLogsItsErrorCode) {
  UseScript();
  AnswerWith({0x90, 0x11});
  EXPECT_FALSE(C->SelectDevice(kCode7505));
  EXPECT_TRUE(Ui.HasLine("エラーコード: 11"));

  AnswerWith({0xF1, 0x2A});
  uint8_t status = 0;
  EXPECT_FALSE(C->ReadLockBit(0xFFFEFFFF, status));
  EXPECT_TRUE(Ui.HasLine("エラーコード: 2A"));
}

TEST_F(TMcuBootTest, TimeOutsAreTheTablesAndLeaveNothingBehind) {
  UseScript();
  TResponse r;
  uint32_t start = Host.TickCount();
  EXPECT_FALSE(C->InquireSupportDevice(r));
  EXPECT_EQ(Elapsed(start), 1000u);

  start = Host.TickCount();
  EXPECT_FALSE(C->ReadMemory(1, 0xFFFA0000, 256));
  EXPECT_EQ(Elapsed(start), 3000u);

  // A refusal whose error code never comes: false, no line.
  AnswerWith({0x90});
  Ui.FLog.clear();
  EXPECT_FALSE(C->SelectDevice(kCode7505));
  EXPECT_TRUE(Ui.FLog.empty());

  // A late reply to one command is not taken for the next one's.
  Script.OnReceive = [](TScriptedDevice& d, const TBytes&) { d.Reply({0x06}, 1500); };
  EXPECT_FALSE(C->SelectErase());
  Script.OnReceive = nullptr;
  Host.RunFor(1000);
  EXPECT_FALSE(C->EnableLockBit());
}

TEST_F(TMcuBootTest, BitRateMatchOnASilentLineGivesUpAfterThirtyZeros) {
  UseScript();
  const uint32_t start = Host.TickCount();
  EXPECT_FALSE(C->BitRateMatch());
  EXPECT_EQ(Script.FReceived, TBytes(30, 0x00));
  EXPECT_EQ(Elapsed(start), 100u + 30 * 50);
}

TEST_F(TMcuBootTest, BitRateMatchStepsAndVerdicts) {
  UseScript();
  // Echo after the second zero, then accept.
  int zeros = 0;
  Script.OnReceive = [&zeros](TScriptedDevice& d, const TBytes& b) {
    if (b[0] == 0x00 && ++zeros == 2) d.Reply({0x00});
    if (b[0] == 0x55) d.Reply({0xE6});
  };
  EXPECT_TRUE(C->BitRateMatch());
  EXPECT_EQ(Script.FReceived, (TBytes{0x00, 0x00, 0x55}));

  // A first reply byte other than 0x00 ends the matching before 0x55.
  Script.FReceived.clear();
  AnswerWith({0x80});
  EXPECT_FALSE(C->BitRateMatch());
  EXPECT_EQ(Script.FReceived, (TBytes{0x00}));

  // 0x55 answered with anything but 0xE6.
  Script.FReceived.clear();
  Script.OnReceive = [](TScriptedDevice& d, const TBytes& b) {
    d.Reply({b[0] == 0x00 ? uint8_t{0x00} : uint8_t{0xFF}});
  };
  EXPECT_FALSE(C->BitRateMatch());
  EXPECT_EQ(Script.FReceived, (TBytes{0x00, 0x55}));
}

TEST_F(TMcuBootTest, KindFiveChangesTwoAcknowledgeCodes) {
  UseScript();
  uint8_t reply = 0;
  AnswerWith({0x06});
  EXPECT_TRUE(C->SelectDevice(kCode7505));
  EXPECT_FALSE(C->EnterProgEraseState(reply));
  AnswerWith({0x16});
  EXPECT_TRUE(C->EnterProgEraseState(reply));
  EXPECT_EQ(reply, 0x16);

  C->FDeviceKind = 5;
  AnswerWith({0x46});
  EXPECT_TRUE(C->SelectDevice(kCode7505));
  AnswerWith({0x06});
  EXPECT_TRUE(C->EnterProgEraseState(reply));
  AnswerWith({0x26});
  EXPECT_FALSE(C->EnterProgEraseState(reply));
}

TEST_F(TMcuBootTest, NewBitRateReopensThePortAtTheCustomRate) {
  C->CommX1->SetBaudRate(19200);
  ASSERT_TRUE(C->OpenComPort(ComPortNumber("ttyUSB1")));
  ASSERT_TRUE(C->BitRateMatch());
  EXPECT_EQ(Target.DeviceRate(), 19200);
  ASSERT_TRUE(C->SelectDevice(kCode7505));
  ASSERT_TRUE(C->SelectClockMode(0));
  // The target answers the confirmation only at the new rate: success means
  // the port really runs at 57600 now.
  EXPECT_TRUE(C->SelectNewBitRate(576, 1000, 4, 2));
  EXPECT_EQ(C->CommX1->BaudRate(), 57600);
  EXPECT_TRUE(C->CommX1->IsOpen());
  EXPECT_EQ(C->CommX1->PortName(), "ttyUSB1");
  EXPECT_EQ(Target.State(), TSimMcuBootTarget::TState::ProgEraseWait);
}

TEST_F(TMcuBootTest, RefusedNewBitRateKeepsThePort) {
  Target.FFaults.CheckClock = true;
  C->CommX1->SetBaudRate(19200);
  ASSERT_TRUE(C->OpenComPort(ComPortNumber("ttyUSB1")));
  ASSERT_TRUE(C->BitRateMatch());
  ASSERT_TRUE(C->SelectDevice(kCode7505));
  ASSERT_TRUE(C->SelectClockMode(0));
  const uint32_t start = Host.TickCount();
  EXPECT_FALSE(C->SelectNewBitRate(1152, 0, 0, 0));  // no input frequency
  EXPECT_TRUE(Ui.HasLine("エラーコード: 25"));
  EXPECT_GE(Elapsed(start), 100u);  // the pause comes in any case
  EXPECT_EQ(C->CommX1->BaudRate(), 19200);
  EXPECT_FALSE(C->SelectNewBitRate(1152, 1000, 3, 2));
  EXPECT_TRUE(Ui.HasLine("エラーコード: 26"));
  EXPECT_FALSE(C->SelectNewBitRate(1152, 1000, 8, 2));  // 80 MHz
  EXPECT_TRUE(Ui.HasLine("エラーコード: 27"));
}

TEST_F(TMcuBootTest, InquiriesAgainstTheTarget) {
  C->CommX1->SetBaudRate(19200);
  ASSERT_TRUE(C->OpenComPort(ComPortNumber("ttyUSB1")));
  ASSERT_TRUE(C->BitRateMatch());
  TResponse r;
  ASSERT_TRUE(C->InquireSupportDevice(r));
  EXPECT_EQ(r.Bytes[0], 0x30);
  EXPECT_EQ(r.Data()[0], 2);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.Data() + 2), 4), "7505");
  ASSERT_TRUE(C->InquireBootStatus(r));
  EXPECT_EQ(r.Data()[0], 0x11);  // waiting for the device selection

  struct TCase {
    bool (TFlashWrRXCont::*Method)(TResponse&);
    uint8_t Reply;
  };
  const TCase cases[] = {
      {&TFlashWrRXCont::InquireClockMode, 0x31},      {&TFlashWrRXCont::InquireMultiplyRatio, 0x32},
      {&TFlashWrRXCont::InquireFrequency, 0x33},      {&TFlashWrRXCont::InquireUserBootArea, 0x34},
      {&TFlashWrRXCont::InquireUserArea, 0x35},       {&TFlashWrRXCont::InquireWriteSize, 0x37},
      {&TFlashWrRXCont::InquireDataAreaExists, 0x3A}, {&TFlashWrRXCont::InquireDataArea, 0x3B}};
  for (const TCase& c : cases) {
    r = TResponse{};
    EXPECT_TRUE((C.get()->*c.Method)(r)) << std::hex << int(c.Reply);
    EXPECT_EQ(r.Bytes[0], c.Reply);
  }
  Target.FFaults.BadInquirySum = true;
  EXPECT_FALSE(C->InquireWriteSize(r));
}

TEST_F(TMcuBootTest, ProgramReadBackSumAndErase) {
  ToHostCommands();
  uint8_t data[256];
  for (int i = 0; i < 256; ++i) data[i] = static_cast<uint8_t>(255 - i);
  ASSERT_TRUE(C->SelectUserAreaProgram());
  ASSERT_TRUE(C->Program256(0x000A0000, data));
  ASSERT_TRUE(C->Program256(0xFFFFFFFF, data));
  EXPECT_EQ(Target.Peek(0xA0010), 255 - 0x10);

  // The menu's address 0xFFFA0000 reaches 0xA0000 on this 20-bit target.
  ASSERT_TRUE(C->ReadMemory(1, 0xFFFA0000, 256));
  ASSERT_EQ(C->FMemReadLength, 262);
  EXPECT_EQ(C->FMemReadBuf[0], 0x52);
  EXPECT_TRUE(std::equal(data, data + 256, C->FMemReadBuf + 5));

  TResponse r;
  ASSERT_TRUE(C->SumCheckUserArea(r));
  uint32_t expected = 0xFF * (0x80000 - 256);
  for (uint8_t b : data) expected += b;
  EXPECT_EQ(BootU32(r.Data()), expected);
  ASSERT_TRUE(C->SumCheckUserBoot(r));
  EXPECT_EQ(BootU32(r.Data()), 0xFFu * 0x8000);
  ASSERT_TRUE(C->SumCheckDataArea(r));
  EXPECT_EQ(r.Bytes[0], 0x71);

  EXPECT_FALSE(C->BlankCheckUserArea());
  EXPECT_TRUE(Ui.HasLine("エラーコード: 52"));
  EXPECT_TRUE(C->BlankCheckUserBoot());
  ASSERT_TRUE(C->SelectErase());
  ASSERT_TRUE(C->EraseBlock(2));  // 0xA0000-0xAFFFF
  ASSERT_TRUE(C->EraseBlock(0xFF));
  EXPECT_TRUE(C->BlankCheckUserArea());
}

TEST_F(TMcuBootTest, OversizedMemoryReadFailsAtOnce) {
  ToHostCommands();
  Target.FFaults.OversizeMemoryRead = true;
  const uint32_t start = Host.TickCount();
  EXPECT_FALSE(C->ReadMemory(1, 0xFFFA0000, 256));
  EXPECT_LT(Elapsed(start), 100u);
  EXPECT_EQ(C->FMemReadLength, 0);
  // Larger than the buffer by request, too.
  Target.FFaults.OversizeMemoryRead = false;
  EXPECT_FALSE(C->ReadMemory(1, 0x000A0000, 1024));
  // The next command is not confused by what is left.
  EXPECT_TRUE(C->ReadMemory(1, 0x000A0000, 16));
  EXPECT_EQ(C->FMemReadLength, 22);
}

TEST_F(TMcuBootTest, LockBitsGuardProgramming) {
  ToHostCommands();
  uint8_t status = 0;
  ASSERT_TRUE(C->ReadLockBit(0xFFFEFFFF, status));
  EXPECT_EQ(status, 0x40);
  ASSERT_TRUE(C->ProgramLockBit(0xFFFEFFFF));
  ASSERT_TRUE(C->ReadLockBit(0xFFFEFFFF, status));
  EXPECT_EQ(status, 0x00);

  uint8_t data[256] = {};
  ASSERT_TRUE(C->SelectUserAreaProgram());
  EXPECT_FALSE(C->Program256(0x000E0000, data));
  EXPECT_TRUE(Ui.HasLine("エラーコード: 53"));
  ASSERT_TRUE(C->Program256(0xFFFFFFFF, data));
  ASSERT_TRUE(C->DisableLockBit());
  ASSERT_TRUE(C->SelectUserAreaProgram());
  EXPECT_TRUE(C->Program256(0x000E0000, data));
  ASSERT_TRUE(C->Program256(0xFFFFFFFF, data));
  ASSERT_TRUE(C->EnableLockBit());
  EXPECT_TRUE(Target.LockBitsEnabled());

  // Outside the flash: the status byte 0xF1 and an address error.
  EXPECT_FALSE(C->ReadLockBit(0x00002000, status));
  EXPECT_TRUE(Ui.HasLine("エラーコード: 2A"));
}

TEST_F(TMcuBootTest, ErrorSwitchesReachTheTool) {
  ToHostCommands();
  uint8_t data[256] = {};
  Target.FFaults.ProgramFails = true;
  ASSERT_TRUE(C->SelectUserBootAreaProgram());
  EXPECT_FALSE(C->Program256(0x00010000, data));
  Target.FFaults.EraseFails = true;
  ASSERT_TRUE(C->Program256(0xFFFFFFFF, data));
  ASSERT_TRUE(C->SelectErase());
  EXPECT_FALSE(C->EraseBlock(0));
  EXPECT_TRUE(Ui.HasLine("エラーコード: 51"));
  Target.FFaults.RefuseWith[0x7A] = 0x80;
  ASSERT_TRUE(C->EraseBlock(0xFF));
  EXPECT_FALSE(C->EnableLockBit());
  EXPECT_TRUE(Ui.HasLine("エラーコード: 80"));

  Target.FFaults.Silent = true;
  TResponse r;
  EXPECT_FALSE(C->InquireBootStatus(r));
}

}  // namespace
