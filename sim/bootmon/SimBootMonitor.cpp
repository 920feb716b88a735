#include "sim/bootmon/SimBootMonitor.h"

#include <algorithm>
#include <cstdio>

#include "link/Checksums.h"

namespace {

constexpr uint8_t kSoh = 0x01;
constexpr uint8_t kEot = 0x04;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;
constexpr size_t kBlockData = 128;
constexpr size_t kBlockSize = 3 + kBlockData + 2;
constexpr size_t kMaxRequest = 64;  // longer lines are noise, not requests
constexpr const char* kNewLine = "\n\r";

// Mailbox layout, as offsets from kMailbox.
constexpr uint32_t kCommand = 0x0, kStatus = 0x4, kArg0 = 0x8, kArg1 = 0xC, kArg2 = 0x10;
constexpr uint32_t kInit = 0, kWrite = 2, kEnd = 6;
constexpr uint32_t kStatusOk = 0, kStatusFailed = 1, kStatusUnknown = 0xFFFFFFFF;

// 1 to 8 hexadecimal digits, either case.
bool ParseHex(const std::string& s, uint32_t& out) {
  if (s.empty() || s.size() > 8) return false;
  uint32_t v = 0;
  for (char c : s) {
    int n;
    if (c >= '0' && c <= '9')
      n = c - '0';
    else if (c >= 'A' && c <= 'F')
      n = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f')
      n = c - 'a' + 10;
    else
      return false;
    v = (v << 4) | static_cast<uint32_t>(n);
  }
  out = v;
  return true;
}

// "aaaaaaaa" or "aaaaaaaa,bbbbbbbb" after the request letter.
bool ParseFields(const std::string& s, bool twoFields, uint32_t& first, uint32_t& second) {
  const size_t comma = s.find(',');
  if (!twoFields) return comma == std::string::npos && ParseHex(s, first);
  return comma != std::string::npos && ParseHex(s.substr(0, comma), first) &&
         ParseHex(s.substr(comma + 1), second);
}

}  // namespace

TSimBootMonitor::TSimBootMonitor(ISimScheduler& scheduler, uint32_t flashSize)
    : FScheduler(scheduler), FFlash(flashSize, kErased), FRam(kRamSize, 0x00) {}

TSimBootMonitor::~TSimBootMonitor() {
  *FAlive = false;
}

void TSimBootMonitor::Enter() {
  FState = TState::Command;
  FLine.clear();
  FBlock.clear();
}

void TSimBootMonitor::PowerCycle() {
  if (FState != TState::Restarting) return;
  FState = TState::Off;
  ++FRestarts;
  if (OnRestart) OnRestart();
}

bool TSimBootMonitor::SeedRomVersion(const std::string& version) {
  return PutRomVersionMark(FFlash.data(), FFlash.size(), kRomVersionFlashOffset, version);
}

void TSimBootMonitor::Emit(const std::string& text, uint32_t extraMs) {
  if (OnEmit) OnEmit(TBytes(text.begin(), text.end()), extraMs);
}

void TSimBootMonitor::EmitByte(uint8_t b) {
  if (OnEmit) OnEmit(TBytes{b}, 0);
}

// ---- memory ---------------------------------------------------------------

bool TSimBootMonitor::InRam(uint32_t address, uint32_t count) const {
  return address >= kRamBase && uint64_t{address} - kRamBase + count <= kRamSize;
}

void TSimBootMonitor::WriteWord(uint32_t address, uint32_t value) {
  if (InRam(address, 4)) {
    for (int i = 0; i < 4; ++i)
      FRam[address - kRamBase + i] = static_cast<uint8_t>(value >> (8 * i));
    return;
  }
  FRegisters[address] = value;  // the flash is written by the applet only
}

uint32_t TSimBootMonitor::ReadWord(uint32_t address) const {
  const uint8_t* p = nullptr;
  if (InRam(address, 4))
    p = &FRam[address - kRamBase];
  else if (address >= kFlashBase && uint64_t{address} - kFlashBase + 4 <= FFlash.size())
    p = &FFlash[address - kFlashBase];
  if (p) return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
  auto it = FRegisters.find(address);
  return it == FRegisters.end() ? 0 : it->second;
}

uint32_t TSimBootMonitor::PeekWord(uint32_t address) const {
  return ReadWord(address);
}

// ---- requests -------------------------------------------------------------

void TSimBootMonitor::Receive(const uint8_t* data, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (FFaults.Silent) return;
    switch (FState) {
      case TState::Command:
        CommandByte(data[i]);
        break;
      case TState::Receiving:
        ReceiveByte(data[i]);
        break;
      default:
        break;  // running, restarting, off or crashed: nobody listens
    }
  }
}

void TSimBootMonitor::CommandByte(uint8_t b) {
  if (b == '#') {
    const std::string line = FLine;
    FLine.clear();
    Request(line);
    return;
  }
  if (b < 0x20 || b > 0x7E) return;  // line noise between requests
  if (FLine.size() >= kMaxRequest) FLine.clear();
  FLine += static_cast<char>(b);
}

void TSimBootMonitor::Request(const std::string& text) {
  const std::string prompt = std::string(kNewLine) + ">";
  if (text.empty()) {
    if (FWakeUps++ >= FFaults.IgnoreWakeUps) Emit(prompt);
    return;
  }
  const char letter = text[0];
  const std::string fields = text.substr(1);
  uint32_t a = 0, b = 0;
  switch (letter) {
    case 'W':
      if (!ParseFields(fields, true, a, b)) break;
      if (a == kRestartRegister && b == kRestartKey) {
        Restart();  // no prompt: the microcontroller is gone
        return;
      }
      WriteWord(a, b);
      Emit(prompt);
      return;
    case 'w': {
      if (!ParseFields(fields, true, a, b)) break;
      char word[9];
      std::snprintf(word, sizeof word, "%08X", static_cast<unsigned>(ReadWord(a)));
      if (FFaults.GarbledWordAddress != 0 && a == FFaults.GarbledWordAddress) word[3] = 'G';
      Emit(std::string(kNewLine) + "0x" + word + kNewLine + ">");
      return;
    }
    case 'S':
      if (!ParseFields(fields, true, a, b)) break;
      FRxAddress = a;
      FRxLength = b;
      FRxBlock = 0;
      FBlock.clear();
      FState = TState::Receiving;
      Emit(std::string(kNewLine) + "C");
      return;
    case 'G':
      if (!ParseFields(fields, false, a, b)) break;
      Go(a);
      return;
    default:
      break;
  }
  ++FBadRequests;
  FBadRequestLines.push_back(text);
  Emit(prompt);
}

// ---- block receiver -------------------------------------------------------

void TSimBootMonitor::ReceiveByte(uint8_t b) {
  if (FBlock.empty()) {
    if (b == kEot) {
      EndTransfer();
      return;
    }
    if (b != kSoh) {
      // Not a block: the sender gave up; the byte starts a request.
      FState = TState::Command;
      CommandByte(b);
      return;
    }
    // A block that stays incomplete is dropped, as a receiver's time-out would.
    const uint64_t generation = ++FBlockGeneration;
    FScheduler.After(FBlockStallMs, [this, generation, alive = FAlive] {
      if (*alive && generation == FBlockGeneration && !FBlock.empty()) {
        FBlock.clear();
        EmitByte(kNak);
      }
    });
  }
  FBlock.push_back(b);
  if (FBlock.size() == kBlockSize) BlockComplete();
}

void TSimBootMonitor::BlockComplete() {
  TBytes block;
  block.swap(FBlock);
  ++FBlockGeneration;
  const int index = FBlocksReceived++;
  if (index == FFaults.HangupAtBlock) {
    FState = TState::Command;
    if (OnHangup) OnHangup();
    return;
  }
  if (index == FFaults.CorruptBlock) block[3] ^= 0x01;
  const uint8_t expected = static_cast<uint8_t>(FRxBlock + 1);
  const uint16_t crc = Crc16Xmodem(block.data() + 3, kBlockData);
  const bool crcOk = block[131] == (crc >> 8) && block[132] == (crc & 0xFF);
  const bool numberOk = static_cast<uint8_t>(block[1] ^ block[2]) == 0xFF;
  if (index == FFaults.RefuseBlock || !crcOk || !numberOk) {
    EmitByte(kNak);
    return;
  }
  if (block[1] == static_cast<uint8_t>(FRxBlock) && FRxBlock > 0) {
    EmitByte(kAck);  // a repeated block: acknowledged, not stored again
    return;
  }
  const uint64_t offset = uint64_t{FRxBlock} * kBlockData;
  if (block[1] != expected || offset >= FRxLength) {
    // Out of sequence, or more data than announced.
    EmitByte(kNak);
    return;
  }
  const uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(kBlockData, FRxLength - offset));
  const uint32_t at = FRxAddress + static_cast<uint32_t>(offset);
  if (!InRam(at, take)) {
    EmitByte(kNak);
    return;
  }
  std::copy_n(block.begin() + 3, take, FRam.begin() + (at - kRamBase));
  ++FRxBlock;
  EmitByte(kAck);
}

void TSimBootMonitor::EndTransfer() {
  FState = TState::Command;
  ++FTransfersDone;
  if (FRxAddress == kAppletAddress && FRxBlock > 0) {
    FAppletLoaded = true;
    FAppletLength = std::min<uint32_t>(FRxLength, FRxBlock * static_cast<uint32_t>(kBlockData));
    FAppletInitialised = false;
    FAppletEnded = false;
  }
  EmitByte(kAck);
}

// ---- applet ---------------------------------------------------------------

void TSimBootMonitor::Go(uint32_t address) {
  // Only a loaded applet whose vector pair points into RAM and into itself
  // (Thumb entry) runs; a jump anywhere else never comes back.
  const uint32_t sp = ReadWord(address);
  const uint32_t entry = ReadWord(address + 4);
  const bool runs = address == kAppletAddress && FAppletLoaded && sp > kRamBase &&
                    sp <= kRamBase + kRamSize && (entry & 1) && entry > address &&
                    entry < address + FAppletLength;
  if (!runs) {
    FState = TState::Crashed;
    return;
  }
  const uint32_t ms = RunApplet();
  FState = TState::Running;
  FScheduler.After(ms, [this, alive = FAlive] {
    if (!*alive || FState != TState::Running) return;
    FState = TState::Command;
    Emit(std::string(kNewLine) + ">");
  });
}

// Carries out the mailbox command; returns how long it takes.
uint32_t TSimBootMonitor::RunApplet() {
  const uint32_t command = ReadWord(kMailbox + kCommand);
  const uint32_t arg0 = ReadWord(kMailbox + kArg0);
  const uint32_t arg1 = ReadWord(kMailbox + kArg1);
  const uint32_t arg2 = ReadWord(kMailbox + kArg2);
  uint32_t status = kStatusOk;
  uint32_t ms = FAppletRunMs;
  switch (command) {
    case kInit:
      if (arg0 == 1) {
        WriteWord(kMailbox + kArg1, FBufferAddress);
        WriteWord(kMailbox + kArg2, FBufferSize);
        FAppletInitialised = true;
      } else {
        status = kStatusFailed;
      }
      break;
    case kWrite: {
      // arg0 buffer address, arg1 byte count, arg2 flash offset.
      FWriteLog.emplace_back(arg2, arg1);
      const bool valid = FAppletInitialised && !FAppletEnded && arg1 <= FBufferSize &&
                         InRam(arg0, arg1) && uint64_t{arg2} + arg1 <= FFlash.size();
      uint32_t written = 0;
      if (valid) {
        std::copy_n(FRam.begin() + (arg0 - kRamBase), arg1, FFlash.begin() + arg2);
        written = arg1;
        ms += arg1 / 1024;
      } else {
        status = kStatusFailed;
      }
      if (FAppletWrites++ == FFaults.BadByteCountAt) written = FFaults.BadByteCount;
      WriteWord(kMailbox + kArg0, written);
      break;
    }
    case kEnd:
      if (arg0 == 1 && arg1 == 1)
        FAppletEnded = true;
      else
        status = kStatusFailed;
      break;
    default:
      status = kStatusUnknown;
      break;
  }
  WriteWord(kMailbox + kStatus, status);
  return ms;
}

// ---- restart --------------------------------------------------------------

void TSimBootMonitor::Restart() {
  FState = TState::Restarting;
  std::fill(FRam.begin(), FRam.end(), 0x00);
  FRegisters.clear();
  FAppletLoaded = FAppletInitialised = false;
  if (FFaults.SilentAfterRestart) return;  // until PowerCycle
  FScheduler.After(FRestartDelayMs, [this, alive = FAlive] {
    if (*alive) PowerCycle();
  });
}

// ---- standalone device ----------------------------------------------------

TSimBootMonitorDevice::TSimBootMonitorDevice(ISimScheduler& scheduler, uint32_t flashSize)
    : FMonitor(scheduler, flashSize) {
  FMonitor.OnEmit = [this](const TBytes& bytes, uint32_t extraMs) { Send(bytes, extraMs); };
  FMonitor.OnHangup = [this] { Hangup(); };
}

void TSimBootMonitorDevice::LinkOpened() {
  if (FClosed) FMonitor.PowerCycle();
  FClosed = false;
}
