#include "sim/mcu/SimMcuBootTarget.h"

#include <algorithm>

#include "link/Checksums.h"

namespace {
// Replies and error codes of the boot program.
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kMatched = 0xE6;
constexpr uint8_t kMatchFailed = 0xFF;
constexpr uint8_t kErrorFlag = 0x80;
constexpr uint8_t kErrSum = 0x11;
constexpr uint8_t kErrDeviceCode = 0x21;
constexpr uint8_t kErrClockMode = 0x22;
constexpr uint8_t kErrBitRate = 0x24;
constexpr uint8_t kErrInputFrequency = 0x25;
constexpr uint8_t kErrRatio = 0x26;
constexpr uint8_t kErrOperatingFrequency = 0x27;
constexpr uint8_t kErrBlock = 0x29;
constexpr uint8_t kErrAddress = 0x2A;
constexpr uint8_t kErrLength = 0x2B;
constexpr uint8_t kErrErase = 0x51;
constexpr uint8_t kErrNotErased = 0x52;
constexpr uint8_t kErrProgram = 0x53;
constexpr uint8_t kErrSelection = 0x54;
constexpr uint8_t kErrCommand = 0x80;

constexpr uint8_t kDataAreaPresent = 0x21;
constexpr uint8_t kDataAreaAbsent = 0x00;
constexpr uint8_t kLockUnlocked = 0x40;
constexpr uint8_t kLockLocked = 0x00;
constexpr uint8_t kEraseEnd = 0xFF;
constexpr uint32_t kOversize = 0x10000;
constexpr size_t kProgramFrame = 262;
constexpr size_t kProgramEndFrame = 6;

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}
bool Contains(const std::vector<uint8_t>& v, uint8_t b) {
  return std::find(v.begin(), v.end(), b) != v.end();
}
}  // namespace

TSimMcuBootTarget::TSimMcuBootTarget()
    : FDataArea(kDataAreaEnd - kDataAreaStart + 1, kErased),
      FUserBoot(kUserBootEnd - kUserBootStart + 1, kErased),
      FUserArea(kUserAreaEnd - kUserAreaStart + 1, kErased) {}

void TSimMcuBootTarget::PowerCycle() {
  FState = TState::Matching;
  FZeros = 0;
  FDeviceRate = 0;
  FLastError = 0;
  FIn.clear();
}

// ---- memory -------------------------------------------------------------

uint8_t* TSimMcuBootTarget::Cell(uint32_t address) {
  return const_cast<uint8_t*>(static_cast<const TSimMcuBootTarget*>(this)->Cell(address));
}

const uint8_t* TSimMcuBootTarget::Cell(uint32_t address) const {
  address &= kAddressMask;
  if (address >= kDataAreaStart && address <= kDataAreaEnd)
    return &FDataArea[address - kDataAreaStart];
  if (address >= kUserBootStart && address <= kUserBootEnd)
    return &FUserBoot[address - kUserBootStart];
  if (address >= kUserAreaStart) return &FUserArea[address - kUserAreaStart];
  return nullptr;
}

uint8_t TSimMcuBootTarget::Peek(uint32_t address) const {
  const uint8_t* c = Cell(address);
  return c ? *c : kErased;
}

void TSimMcuBootTarget::Poke(uint32_t address, const std::vector<uint8_t>& bytes) {
  for (size_t i = 0; i < bytes.size(); ++i)
    if (uint8_t* c = Cell(static_cast<uint32_t>(address + i))) *c = bytes[i];
}

int TSimMcuBootTarget::BlockOf(uint32_t address) {
  address &= kAddressMask;
  for (int b = 0; b < kBlockCount; ++b) {
    const TRegion r = BlockRegion(b);
    if (address >= r.Start && address <= r.End) return b;
  }
  return -1;
}

TSimMcuBootTarget::TRegion TSimMcuBootTarget::BlockRegion(int block) {
  constexpr uint32_t kUserBlock = 0x10000;
  constexpr uint32_t kDataBlock = 0x2000;
  if (block < 8) {
    const uint32_t start = kUserAreaStart + static_cast<uint32_t>(block) * kUserBlock;
    return {start, start + kUserBlock - 1};
  }
  if (block == 8) return {kUserBootStart, kUserBootEnd};
  const uint32_t start = kDataAreaStart + static_cast<uint32_t>(block - 9) * kDataBlock;
  return {start, start + kDataBlock - 1};
}

uint32_t TSimMcuBootTarget::Sum(const TRegion& r) const {
  uint32_t sum = 0;
  for (uint32_t a = r.Start; a <= r.End; ++a) sum += Peek(a);
  return sum;
}

bool TSimMcuBootTarget::Blank(const TRegion& r) const {
  for (uint32_t a = r.Start; a <= r.End; ++a)
    if (Peek(a) != kErased) return false;
  return true;
}

// ---- replies --------------------------------------------------------------

void TSimMcuBootTarget::Ack() {
  FLastError = 0;
  Send({kAck});
}

void TSimMcuBootTarget::Refuse(uint8_t code, uint8_t error) {
  FLastError = error;
  Send({static_cast<uint8_t>(code | kErrorFlag), error});
}

void TSimMcuBootTarget::Respond(uint8_t replyCode, const std::vector<uint8_t>& data) {
  FLastError = 0;
  TBytes reply{replyCode, static_cast<uint8_t>(data.size())};
  for (uint8_t b : data) reply.push_back(b);
  uint8_t sum = TwosComplementSum(reply.data(), reply.size());
  if (FFaults.BadInquirySum) sum = static_cast<uint8_t>(sum + 1);
  reply.push_back(sum);
  Send(reply);
}

// ---- byte intake ----------------------------------------------------------

void TSimMcuBootTarget::Receive(const uint8_t* data, size_t count) {
  if (FFaults.Silent) return;
  for (size_t i = 0; i < count; ++i) {
    if (FState == TState::Matching || FState == TState::MatchConfirm) {
      Match(data[i]);
      continue;
    }
    // A byte sent at another rate than the target's is garbage to it.
    if (FModelLineRate && FBaudRate != FDeviceRate) continue;
    FIn.push_back(data[i]);
    for (size_t n = FrameLength(); n > 0 && n <= FIn.size(); n = FrameLength()) {
      std::vector<uint8_t> frame(FIn.begin(), FIn.begin() + static_cast<std::ptrdiff_t>(n));
      FIn.erase(FIn.begin(), FIn.begin() + static_cast<std::ptrdiff_t>(n));
      Execute(frame);
    }
  }
}

void TSimMcuBootTarget::Match(uint8_t byte) {
  if (FState == TState::Matching) {
    if (byte != 0x00) return;
    if (++FZeros < FZerosToMatch) return;
    // Locked on whatever rate the host uses.
    FDeviceRate = FBaudRate;
    FState = TState::MatchConfirm;
    Send({0x00});
    return;
  }
  if (byte == 0x00) return;  // zeros still on their way
  if (byte == 0x55 && !FFaults.RefuseBitRate) {
    Send({kMatched});
    FState = TState::DeviceSelect;
    return;
  }
  Send({kMatchFailed});
  PowerCycle();
}

size_t TSimMcuBootTarget::FrameLength() const {
  if (FIn.empty()) return 0;
  switch (FIn[0]) {
    case 0x10:
    case 0x11:
    case 0x3F:
    case 0x52:
    case 0x58:
    case 0x71:
    case 0x77:
      return FIn.size() < 2 ? 0 : FIn[1] + 3u;
    case 0x50:
      if (FIn.size() < 5) return 0;
      return U32(&FIn[1]) == 0xFFFFFFFF ? kProgramEndFrame : kProgramFrame;
    default:
      return 1;
  }
}

void TSimMcuBootTarget::Execute(const std::vector<uint8_t>& frame) {
  const uint8_t code = frame[0];
  FCommands.push_back(code);
  if (auto it = FFaults.RefuseWith.find(code); it != FFaults.RefuseWith.end()) {
    Refuse(code, it->second);
    return;
  }
  if (frame.size() > 1 && TwosComplementSum(frame.data(), frame.size() - 1) != frame.back()) {
    Refuse(code, kErrSum);
    return;
  }
  const bool hostCommands = FState == TState::HostCommand;
  switch (code) {
    case 0x06:
      if (FState == TState::NewRateConfirm) {
        FState = TState::ProgEraseWait;
        Ack();
      } else {
        Refuse(code, kErrCommand);
      }
      return;
    case 0x10:
      SelectDevice(frame);
      return;
    case 0x11:
      SelectClockMode(frame);
      return;
    case 0x3F:
      NewBitRate(frame);
      return;
    case 0x20:
    case 0x21:
    case 0x22:
    case 0x23:
    case 0x24:
    case 0x25:
    case 0x27:
    case 0x2A:
    case 0x2B:
    case 0x4F:
      Inquiry(code);
      return;
    case 0x40:
      if (FState != TState::ProgEraseWait) {
        Refuse(code, kErrCommand);
        return;
      }
      FState = TState::HostCommand;
      FLastError = 0;
      Send({static_cast<uint8_t>(FFaults.IdProtected ? 0x16 : 0x26)});
      return;
    case 0x42:
    case 0x43:
      if (!hostCommands) break;
      FProgramUserBoot = code == 0x42;
      FState = TState::ProgramData;
      Ack();
      return;
    case 0x50:
      Program(frame);
      return;
    case 0x48:
      if (!hostCommands) break;
      FState = TState::EraseBlock;
      Ack();
      return;
    case 0x58:
      Erase(frame);
      return;
    case 0x4A:
    case 0x4B:
    case 0x61: {
      if (!hostCommands) break;
      const TRegion r = code == 0x4A   ? TRegion{kUserBootStart, kUserBootEnd}
                        : code == 0x4B ? TRegion{kUserAreaStart, kUserAreaEnd}
                                       : TRegion{kDataAreaStart, kDataAreaEnd};
      std::vector<uint8_t> sum;
      PutU32(sum, Sum(r));
      Respond(code == 0x61 ? 0x71 : static_cast<uint8_t>(code + 0x10), sum);
      return;
    }
    case 0x4C:
    case 0x4D:
      if (!hostCommands) break;
      if (Blank(code == 0x4C ? TRegion{kUserBootStart, kUserBootEnd}
                             : TRegion{kUserAreaStart, kUserAreaEnd}))
        Ack();
      else
        Refuse(code, kErrNotErased);
      return;
    case 0x52:
      MemoryRead(frame);
      return;
    case 0x71:
    case 0x77:
      LockBit(frame);
      return;
    case 0x75:
    case 0x7A:
      if (!hostCommands) break;
      FLockBitsEnabled = code == 0x7A;
      Ack();
      return;
    default:
      break;
  }
  Refuse(code, kErrCommand);
}

// ---- selections -------------------------------------------------------------

void TSimMcuBootTarget::SelectDevice(const std::vector<uint8_t>& frame) {
  if (FState != TState::DeviceSelect) return Refuse(frame[0], kErrSelection);
  if (frame[1] != 4) return Refuse(frame[0], kErrLength);
  if (std::string(frame.begin() + 2, frame.begin() + 6) != FDeviceCode)
    return Refuse(frame[0], kErrDeviceCode);
  FState = TState::ClockSelect;
  Ack();
}

void TSimMcuBootTarget::SelectClockMode(const std::vector<uint8_t>& frame) {
  if (FState != TState::ClockSelect) return Refuse(frame[0], kErrSelection);
  if (frame[1] != 1) return Refuse(frame[0], kErrLength);
  if (frame[2] != FClockMode) return Refuse(frame[0], kErrClockMode);
  FState = TState::BitRateSelect;
  Ack();
}

void TSimMcuBootTarget::NewBitRate(const std::vector<uint8_t>& frame) {
  if (FState != TState::BitRateSelect) return Refuse(frame[0], kErrSelection);
  if (frame[1] != 7 || frame[6] != 2) return Refuse(frame[0], kErrLength);
  const int rate = frame[2] << 8 | frame[3];
  const uint32_t freq = static_cast<uint32_t>(frame[4] << 8 | frame[5]);
  const uint8_t ratio[2] = {frame[7], frame[8]};
  if (rate == 0) return Refuse(frame[0], kErrBitRate);
  if (FFaults.CheckClock) {
    if (freq < FInputFrequency[0] || freq > FInputFrequency[1])
      return Refuse(frame[0], kErrInputFrequency);
    for (int c = 0; c < 2; ++c)
      if (!Contains(FRatios[static_cast<size_t>(c)], ratio[c])) return Refuse(frame[0], kErrRatio);
    for (int c = 0; c < 2; ++c) {
      const uint32_t f = freq * ratio[c];
      const auto& range = FFrequencies[static_cast<size_t>(c)];
      if (f < range[0] || f > range[1]) return Refuse(frame[0], kErrOperatingFrequency);
    }
  }
  Ack();  // still at the old rate
  FDeviceRate = rate * 100;
  FState = TState::NewRateConfirm;
}

// ---- inquiries ----------------------------------------------------------------

void TSimMcuBootTarget::Inquiry(uint8_t code) {
  std::vector<uint8_t> d;
  auto area = [&d](uint32_t start, uint32_t end) {
    PutU32(d, start);
    PutU32(d, end);
  };
  switch (code) {
    case 0x20:
      d.push_back(static_cast<uint8_t>(FDevices.size()));
      for (const TDevice& dev : FDevices) {
        d.push_back(static_cast<uint8_t>(dev.Code.size() + dev.Name.size()));
        d.insert(d.end(), dev.Code.begin(), dev.Code.end());
        d.insert(d.end(), dev.Name.begin(), dev.Name.end());
      }
      break;
    case 0x21:
      d.push_back(FClockMode);
      break;
    case 0x22:
      d.push_back(static_cast<uint8_t>(FRatios.size()));
      for (const auto& ratios : FRatios) {
        d.push_back(static_cast<uint8_t>(ratios.size()));
        d.insert(d.end(), ratios.begin(), ratios.end());
      }
      break;
    case 0x23:
      d.push_back(static_cast<uint8_t>(FFrequencies.size()));
      for (const auto& range : FFrequencies)
        for (uint16_t f : range) {
          d.push_back(static_cast<uint8_t>(f >> 8));
          d.push_back(static_cast<uint8_t>(f));
        }
      break;
    case 0x24:
      d.push_back(1);
      area(kUserBootStart, kUserBootEnd);
      break;
    case 0x25:
      d.push_back(2);
      area(kUserAreaStart, kUserAreaSplit - 1);
      area(kUserAreaSplit, kUserAreaEnd);
      break;
    case 0x27:
      d.push_back(static_cast<uint8_t>(FWriteSize >> 8));
      d.push_back(static_cast<uint8_t>(FWriteSize));
      break;
    case 0x2A:
      d.push_back(FFaults.NoDataArea ? kDataAreaAbsent : kDataAreaPresent);
      break;
    case 0x2B:
      if (FFaults.NoDataArea) {
        d.push_back(0);
      } else {
        d.push_back(1);
        area(kDataAreaStart, kDataAreaEnd);
      }
      break;
    case 0x4F: {
      const uint8_t error = FLastError;  // what the command before this one left
      d.push_back(static_cast<uint8_t>(FState));
      d.push_back(error);
      break;
    }
  }
  Respond(static_cast<uint8_t>(code + 0x10), d);
}

// ---- programming and erasure ------------------------------------------------------

void TSimMcuBootTarget::Program(const std::vector<uint8_t>& frame) {
  if (FState != TState::ProgramData) return Refuse(frame[0], kErrCommand);
  const uint32_t address = U32(&frame[1]);
  if (frame.size() == kProgramEndFrame) {
    FState = TState::HostCommand;
    return Ack();
  }
  const uint32_t first = address & kAddressMask;
  const uint32_t last = first + 255;
  const bool inArea = FProgramUserBoot ? InRegion(first, last, {kUserBootStart, kUserBootEnd})
                                       : InRegion(first, last, {kUserAreaStart, kUserAreaEnd}) ||
                                             InRegion(first, last, {kDataAreaStart, kDataAreaEnd});
  if ((first & 0xFF) != 0 || !inArea) return Refuse(frame[0], kErrAddress);
  const int block = BlockOf(first);
  if (FFaults.ProgramFails || (FLockBitsEnabled && FLocked[static_cast<size_t>(block)]))
    return Refuse(frame[0], kErrProgram);
  // Flash programs only erased cells; 0xFF leaves a cell as it is.
  for (uint32_t i = 0; i < 256; ++i)
    if (frame[5 + i] != kErased && Peek(first + i) != kErased) return Refuse(frame[0], kErrProgram);
  for (uint32_t i = 0; i < 256; ++i)
    if (frame[5 + i] != kErased) *Cell(first + i) = frame[5 + i];
  Ack();
}

void TSimMcuBootTarget::Erase(const std::vector<uint8_t>& frame) {
  if (FState != TState::EraseBlock) return Refuse(frame[0], kErrCommand);
  if (frame[1] != 1) return Refuse(frame[0], kErrLength);
  const uint8_t block = frame[2];
  if (block == kEraseEnd) {
    FState = TState::HostCommand;
    return Ack();
  }
  if (block >= kBlockCount) return Refuse(frame[0], kErrBlock);
  if (FFaults.EraseFails || (FLockBitsEnabled && FLocked[block]))
    return Refuse(frame[0], kErrErase);
  const TRegion r = BlockRegion(block);
  for (uint32_t a = r.Start; a <= r.End; ++a) *Cell(a) = kErased;
  FLocked[block] = false;
  Ack();
}

void TSimMcuBootTarget::MemoryRead(const std::vector<uint8_t>& frame) {
  if (FState != TState::HostCommand) return Refuse(frame[0], kErrCommand);
  if (frame[1] != 9) return Refuse(frame[0], kErrLength);
  const uint8_t areaCode = frame[2];
  const uint32_t first = U32(&frame[3]) & kAddressMask;
  const uint32_t size = U32(&frame[7]);
  if (size == 0 || size > kUserAreaEnd - kUserAreaStart + 1) return Refuse(frame[0], kErrLength);
  const TRegion area = areaCode == 0   ? TRegion{kUserBootStart, kUserBootEnd}
                       : areaCode == 1 ? TRegion{kUserAreaStart, kUserAreaEnd}
                                       : TRegion{1, 0};  // no such area: holds nothing
  if (!InRegion(first, first + size - 1, area)) return Refuse(frame[0], kErrAddress);
  TBytes reply{0x52};
  PutU32(reply, FFaults.OversizeMemoryRead ? size + kOversize : size);
  for (uint32_t i = 0; i < size; ++i) reply.push_back(Peek(first + i));
  reply.push_back(TwosComplementSum(reply.data(), reply.size()));
  FLastError = 0;
  Send(reply);
}

void TSimMcuBootTarget::LockBit(const std::vector<uint8_t>& frame) {
  if (FState != TState::HostCommand) return Refuse(frame[0], kErrCommand);
  if (frame[1] != 4) return Refuse(frame[0], kErrLength);
  const uint32_t address =
      (static_cast<uint32_t>(frame[3]) << 16 | frame[4] << 8 | frame[5]) & kAddressMask;
  const int block = BlockOf(address);
  if (frame[2] != 0x01 || block < 0) return Refuse(frame[0], kErrAddress);
  if (frame[0] == 0x71) {
    FLastError = 0;
    Send({FLocked[static_cast<size_t>(block)] ? kLockLocked : kLockUnlocked});
    return;
  }
  FLocked[static_cast<size_t>(block)] = true;
  Ack();
}
