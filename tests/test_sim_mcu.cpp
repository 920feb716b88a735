// The simulated boot-mode target on its own, driven with raw bytes: what a
// boot program would answer, independent of the tool's command code.
#include <gtest/gtest.h>

#include "link/Checksums.h"
#include "sim/InProcessLink.h"
#include "sim/VirtualHost.h"
#include "sim/mcu/SimMcuBootTarget.h"

namespace {

using TState = TSimMcuBootTarget::TState;

struct TSimMcuTest : ::testing::Test {
  TVirtualHost Host;
  TSimLinkFactory Links{Host};
  TSimMcuBootTarget Target;
  std::unique_ptr<ISerialPort> Port;

  void SetUp() override {
    Links.AddSerialDevice("ttyUSB0", &Target);
    Port = Links.CreateSerialPort();
    Port->SetPortName("ttyUSB0");
    Port->SetBaudRate(9600);
    ASSERT_TRUE(Port->Open());
  }
  // Sends bytes and returns what the target answered within 50 ms.
  TBytes Ask(const TBytes& bytes) {
    Port->Write(bytes.data(), static_cast<int>(bytes.size()));
    Host.RunFor(50);
    TBytes out(static_cast<size_t>(Port->BytesWaiting()));
    Port->Read(out.data(), static_cast<int>(out.size()));
    return out;
  }
  static TBytes Frame(uint8_t code, const TBytes& data) {
    TBytes f{code, static_cast<uint8_t>(data.size())};
    for (uint8_t b : data) f.push_back(b);
    f.push_back(TwosComplementSum(f.data(), f.size()));
    return f;
  }
  static TBytes Program(uint32_t address, uint8_t value) {
    TBytes f{0x50, static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(address >> 16),
             static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
    f.insert(f.end(), 256, value);
    f.push_back(TwosComplementSum(f.data(), f.size()));
    return f;
  }
  void ToHostCommands() {
    ASSERT_EQ(Ask({0, 0, 0}), TBytes{0x00});
    ASSERT_EQ(Ask({0x55}), TBytes{0xE6});
    ASSERT_EQ(Ask(Frame(0x10, {'7', '5', '0', '5'})), TBytes{0x06});
    ASSERT_EQ(Ask(Frame(0x11, {0})), TBytes{0x06});
    ASSERT_EQ(Ask(Frame(0x3F, {0x00, 0xC0, 0x03, 0xE8, 0x02, 0x02, 0x01})), TBytes{0x06});
    Port->SetBaudRate(19200);
    ASSERT_EQ(Ask({0x06}), TBytes{0x06});
    ASSERT_EQ(Ask({0x40}), TBytes{0x26});
    ASSERT_EQ(Target.State(), TState::HostCommand);
  }
};

TEST_F(TSimMcuTest, MatchingNeedsItsZerosThenTheConfirmation) {
  EXPECT_TRUE(Ask({0x00, 0x00}).empty());
  EXPECT_EQ(Ask({0x00}), TBytes{0x00});
  EXPECT_TRUE(Ask({0x00}).empty());  // late zeros are passed over
  EXPECT_EQ(Ask({0x55}), TBytes{0xE6});
  EXPECT_EQ(Target.DeviceRate(), 9600);
  const TBytes status = Ask({0x4F});
  EXPECT_EQ(status, (TBytes{0x5F, 0x02, 0x11, 0x00, 0x8E}));

  Target.PowerCycle();
  Ask({0, 0, 0});
  EXPECT_EQ(Ask({0x54}), TBytes{0xFF});
  EXPECT_EQ(Target.State(), TState::Matching);
  Target.FFaults.RefuseBitRate = true;
  Ask({0, 0, 0});
  EXPECT_EQ(Ask({0x55}), TBytes{0xFF});
}

TEST_F(TSimMcuTest, BytesAtAnotherRateAreLost) {
  Ask({0, 0, 0, 0x55});
  Port->SetBaudRate(19200);
  EXPECT_TRUE(Ask({0x20}).empty());
  Port->SetBaudRate(9600);
  EXPECT_EQ(Ask({0x27}), (TBytes{0x37, 0x02, 0x01, 0x00, 0xC6}));
  Target.FModelLineRate = false;  // a pty: the rate is not seen
  Port->SetBaudRate(19200);
  EXPECT_EQ(Ask({0x27}).size(), 5u);
}

TEST_F(TSimMcuTest, RefusalsCarryTheCommandAndAnErrorCode) {
  Ask({0, 0, 0, 0x55});
  TBytes bad = Frame(0x10, {'7', '5', '0', '5'});
  bad.back() ^= 0x01;
  EXPECT_EQ(Ask(bad), (TBytes{0x90, 0x11}));
  EXPECT_EQ(Ask(Frame(0x11, {0})), (TBytes{0x91, 0x54}));  // clock mode before the device
  EXPECT_EQ(Ask({0x19}), (TBytes{0x99, 0x80}));
  EXPECT_EQ(Ask({0x4C}), (TBytes{0xCC, 0x80}));  // a check before the command state
  Target.FFaults.RefuseWith[0x20] = 0x54;
  EXPECT_EQ(Ask({0x20}), (TBytes{0xA0, 0x54}));
  const TBytes status = Ask({0x4F});
  EXPECT_EQ(status[3], 0x54);
}

TEST_F(TSimMcuTest, FlashProgramsOnlyErasedCellsInTheSelectedArea) {
  ToHostCommands();
  EXPECT_EQ(Ask({0x43}), TBytes{0x06});
  EXPECT_EQ(Ask(Program(0x00080100, 0x5A)), TBytes{0x06});
  EXPECT_EQ(Ask(Program(0x00080100, 0x00)), (TBytes{0xD0, 0x53}));     // not erased
  EXPECT_EQ(Ask(Program(0x00080100, 0xFF)), TBytes{0x06});             // 0xFF changes nothing
  EXPECT_EQ(Ask(Program(0x00080180, 0x00)), (TBytes{0xD0, 0x2A}));     // not on 256 bytes
  EXPECT_EQ(Ask(Program(0x00010000, 0x00)), (TBytes{0xD0, 0x2A}));     // user boot not selected
  EXPECT_EQ(Ask(Program(0x00008000, 0x33)), TBytes{0x06});             // the data area goes with it
  EXPECT_EQ(Ask({0x50, 0xFF, 0xFF, 0xFF, 0xFF, 0xB4}), TBytes{0x06});  // end of programming
  EXPECT_EQ(Target.Peek(0x80100), 0x5A);
  EXPECT_EQ(Target.Peek(0x801FF), 0x5A);
  EXPECT_EQ(Target.Peek(0x8000), 0x33);

  // Reads see it, at any mirror of the 20-bit space.
  const TBytes read = Ask(Frame(0x52, {1, 0xFF, 0xF8, 0x01, 0x00, 0, 0, 0, 4}));
  EXPECT_EQ(read, (TBytes{0x52, 0, 0, 0, 4, 0x5A, 0x5A, 0x5A, 0x5A,
                          TwosComplementSum(read.data(), read.size() - 1)}));
  EXPECT_EQ(Ask(Frame(0x52, {0, 0, 0x08, 0, 0, 0, 0, 0, 4}))[0], 0xD2);  // not the user boot area
  EXPECT_EQ(Ask(Frame(0x52, {1, 0, 0x0F, 0xFF, 0xFF, 0, 0, 0, 2})), (TBytes{0xD2, 0x2A}));

  // Kept over a power cycle.
  Target.PowerCycle();
  EXPECT_EQ(Target.Peek(0x80100), 0x5A);
}

TEST_F(TSimMcuTest, EraseBlocksAndLockBits) {
  ToHostCommands();
  Target.Poke(0x80000, {1, 2, 3});
  Target.Poke(0x90000, {4});
  // Lock block 0 (address 0x80000 in its 24 bits).
  EXPECT_EQ(Ask(Frame(0x77, {1, 0x08, 0x00, 0x00})), TBytes{0x06});
  EXPECT_EQ(Ask(Frame(0x71, {1, 0x08, 0x00, 0x10})), TBytes{0x00});
  EXPECT_EQ(Ask(Frame(0x71, {1, 0x09, 0x00, 0x00})), TBytes{0x40});
  EXPECT_EQ(Ask(Frame(0x71, {1, 0x00, 0x00, 0x00})), (TBytes{0xF1, 0x2A}));

  EXPECT_EQ(Ask({0x48}), TBytes{0x06});
  EXPECT_EQ(Ask(Frame(0x58, {0})), (TBytes{0xD8, 0x51}));  // locked
  EXPECT_EQ(Ask(Frame(0x58, {1})), TBytes{0x06});
  EXPECT_EQ(Ask(Frame(0x58, {11})), (TBytes{0xD8, 0x29}));
  EXPECT_EQ(Ask(Frame(0x58, {0xFF})), TBytes{0x06});
  EXPECT_EQ(Target.Peek(0x90000), 0xFF);
  EXPECT_EQ(Target.Peek(0x80000), 1);

  EXPECT_EQ(Ask({0x75}), TBytes{0x06});  // lock bits off: the block erases and unlocks
  EXPECT_EQ(Ask({0x48}), TBytes{0x06});
  EXPECT_EQ(Ask(Frame(0x58, {0})), TBytes{0x06});
  EXPECT_EQ(Ask(Frame(0x58, {0xFF})), TBytes{0x06});
  EXPECT_EQ(Target.Peek(0x80000), 0xFF);
  EXPECT_FALSE(Target.Locked(0));
  EXPECT_EQ(Ask({0x4D}), TBytes{0x06});
}

}  // namespace
