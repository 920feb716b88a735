// A microcontroller in its serial boot mode, simulated: bit-rate matching,
// the inquiries, device/clock/bit-rate selections, the programming/erasure
// state with 256-byte programming, block erase, sum and blank checks, memory
// read and lock bits, over a flash it keeps so that programming can be read
// back. Its own reading of the protocol: it shares nothing with the tool but
// the checksum helpers.
//
// Memory map (20 address bits are decoded; higher bits are ignored, so
// 0xFFFA0000 reads 0xA0000):
//   data area       0x08000-0x0BFFF  erase blocks 9, 10 (8 KiB each)
//   user boot area  0x10000-0x17FFF  erase block 8
//   user area       0x80000-0xFFFFF  erase blocks 0-7 (64 KiB each), reported
//                                    as two areas split at 0xC0000
#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/SimDevice.h"

// Faults, as named switches.
struct TSimMcuFaults {
  bool Silent = false;              // not in boot mode: nothing ever answers
  bool RefuseBitRate = false;       // 0x55 is answered with 0xFF instead of 0xE6
  bool BadInquirySum = false;       // inquiry and sum responses carry a wrong checksum
  bool OversizeMemoryRead = false;  // a memory read announces 64 KiB more than it sends
  bool CheckClock = false;          // the new bit rate's input frequency and ratios are checked
  bool NoDataArea = false;          // the device has no data area
  bool IdProtected = false;         // the programming/erasure state is entered with 0x16
  bool ProgramFails = false;        // every 256-byte programming fails (0x53)
  bool EraseFails = false;          // every block erase fails (0x51)
  // Command code -> error code: that command is refused with it (reply
  // code | 0x80, then the error code) before anything else is checked.
  std::map<uint8_t, uint8_t> RefuseWith;
};

class TSimMcuBootTarget : public TSimDevice {
 public:
  static constexpr uint32_t kAddressMask = 0xFFFFF;
  static constexpr uint32_t kDataAreaStart = 0x08000;
  static constexpr uint32_t kDataAreaEnd = 0x0BFFF;
  static constexpr uint32_t kUserBootStart = 0x10000;
  static constexpr uint32_t kUserBootEnd = 0x17FFF;
  static constexpr uint32_t kUserAreaStart = 0x80000;
  static constexpr uint32_t kUserAreaEnd = 0xFFFFF;
  static constexpr uint32_t kUserAreaSplit = 0xC0000;
  static constexpr int kBlockCount = 11;
  static constexpr uint8_t kErased = 0xFF;

  // Boot program states, numbered as the status inquiry reports them.
  enum class TState : uint8_t {
    Matching = 0x00,      // counting 0x00 bytes
    MatchConfirm = 0x01,  // echoed 0x00, waiting for 0x55
    DeviceSelect = 0x11,
    ClockSelect = 0x12,
    BitRateSelect = 0x13,
    NewRateConfirm = 0x14,  // new bit rate accepted, waiting for 0x06 at it
    ProgEraseWait = 0x1F,
    HostCommand = 0x3F,
    ProgramData = 0x4F,
    EraseBlock = 0x5F,
  };

  struct TDevice {
    std::string Code;  // 4 characters
    std::string Name;
  };

  TSimMcuBootTarget();

  void Receive(const uint8_t* data, size_t count) override;

  // Reset into boot mode: bit-rate matching again, flash and lock bits kept.
  void PowerCycle();

  TState State() const { return FState; }
  // The line rate the target runs at (0 before matching).
  int DeviceRate() const { return FDeviceRate; }
  // The byte at a 20-bit address (0xFF outside flash).
  uint8_t Peek(uint32_t address) const;
  // Writes bytes straight into flash, as an earlier programming would have.
  void Poke(uint32_t address, const std::vector<uint8_t>& bytes);
  bool Locked(int block) const { return FLocked[static_cast<size_t>(block)]; }
  bool LockBitsEnabled() const { return FLockBitsEnabled; }

  TSimMcuFaults FFaults;
  // 0x00 bytes the target needs before it echoes one.
  int FZerosToMatch = 3;
  // Off for transports that cannot see the tool's line rate (a pty): then a
  // byte sent at the wrong rate still arrives.
  bool FModelLineRate = true;
  std::string FDeviceCode = "7505";
  std::vector<TDevice> FDevices = {{"7505", "QVX-M7505"}, {"7506", "QVX-M7506"}};
  uint8_t FClockMode = 0;
  // Multiplication ratios of the two clocks, and their frequency ranges in
  // 0.01 MHz (the system clock 12.50-50.00 MHz, the peripheral clock
  // 0.50-40.00 MHz); the input clock may run at 8.00-12.50 MHz.
  std::array<std::vector<uint8_t>, 2> FRatios = {{{1, 2, 4, 8}, {1, 2, 4}}};
  std::array<std::array<uint16_t, 2>, 2> FFrequencies = {{{1250, 5000}, {50, 4000}}};
  std::array<uint16_t, 2> FInputFrequency = {800, 1250};
  uint16_t FWriteSize = 256;

  // Every command code the target took, in order (tests look at it).
  std::vector<uint8_t> FCommands;

 private:
  struct TRegion {
    uint32_t Start, End;
  };
  // Frame length of the command at the head of FIn; 0 when more bytes are needed.
  size_t FrameLength() const;
  void Execute(const std::vector<uint8_t>& frame);
  void Ack();
  void Refuse(uint8_t code, uint8_t error);
  void Respond(uint8_t replyCode, const std::vector<uint8_t>& data);
  void Match(uint8_t byte);

  void Inquiry(uint8_t code);
  void SelectDevice(const std::vector<uint8_t>& frame);
  void SelectClockMode(const std::vector<uint8_t>& frame);
  void NewBitRate(const std::vector<uint8_t>& frame);
  void Program(const std::vector<uint8_t>& frame);
  void Erase(const std::vector<uint8_t>& frame);
  void MemoryRead(const std::vector<uint8_t>& frame);
  void LockBit(const std::vector<uint8_t>& frame);

  uint8_t* Cell(uint32_t address);
  const uint8_t* Cell(uint32_t address) const;
  // Erase block of an address; -1 outside flash.
  static int BlockOf(uint32_t address);
  static TRegion BlockRegion(int block);
  bool InRegion(uint32_t first, uint32_t last, const TRegion& r) const {
    return first >= r.Start && last <= r.End && first <= last;
  }
  uint32_t Sum(const TRegion& r) const;
  bool Blank(const TRegion& r) const;

  TState FState = TState::Matching;
  int FZeros = 0;
  int FDeviceRate = 0;
  uint8_t FLastError = 0;
  bool FProgramUserBoot = false;  // programming selected the user boot area
  bool FLockBitsEnabled = true;
  std::array<bool, kBlockCount> FLocked = {};
  std::vector<uint8_t> FIn;
  std::vector<uint8_t> FDataArea, FUserBoot, FUserArea;
};
