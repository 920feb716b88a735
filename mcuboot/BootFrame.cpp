#include "mcuboot/BootFrame.h"

#include "link/Checksums.h"

namespace {
void PutU32(TBootBytes& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 24));
  out.push_back(static_cast<uint8_t>(v >> 16));
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}
void Close(TBootBytes& frame) {
  frame.push_back(BootSum(frame.data(), frame.size()));
}
}  // namespace

uint8_t BootSum(const uint8_t* bytes, size_t count) {
  return TwosComplementSum(bytes, count);
}

TBootBytes TBootFrame::Command(uint8_t code) {
  return {code};
}

TBootBytes TBootFrame::WithData(uint8_t code, const TBootBytes& data) {
  TBootBytes frame;
  frame.reserve(data.size() + 3);
  frame.push_back(code);
  frame.push_back(static_cast<uint8_t>(data.size()));
  for (uint8_t b : data) frame.push_back(b);
  Close(frame);
  return frame;
}

TBootBytes TBootFrame::Program(uint32_t address, const uint8_t (&data)[kProgramData]) {
  if (address == TBootCode::kEndOfProgramming) return EndOfProgramming();
  TBootBytes frame{TBootCode::kProgram};
  frame.reserve(kProgramFrame);
  PutU32(frame, address);
  frame.insert(frame.end(), data, data + kProgramData);
  Close(frame);
  return frame;
}

TBootBytes TBootFrame::EndOfProgramming() {
  TBootBytes frame{TBootCode::kProgram};
  PutU32(frame, TBootCode::kEndOfProgramming);
  Close(frame);
  return frame;
}

TBootBytes TBootFrame::SelectDevice(const uint8_t (&code)[4]) {
  return WithData(TBootCode::kSelectDevice, TBootBytes(code, code + 4));
}

TBootBytes TBootFrame::NewBitRate(uint16_t rate, uint16_t freq, uint8_t ratio1, uint8_t ratio2) {
  constexpr uint8_t kClockCount = 2;  // the frame always carries two ratios
  return WithData(
      TBootCode::kNewBitRate,
      {static_cast<uint8_t>(rate >> 8), static_cast<uint8_t>(rate), static_cast<uint8_t>(freq >> 8),
       static_cast<uint8_t>(freq), kClockCount, ratio1, ratio2});
}

TBootBytes TBootFrame::ReadMemory(uint8_t area, uint32_t address, uint32_t size) {
  TBootBytes data{area};
  PutU32(data, address);
  PutU32(data, size);
  return WithData(TBootCode::kMemoryRead, data);
}

TBootBytes TBootFrame::LockBit(uint8_t code, uint32_t address) {
  return WithData(code, {TBootCode::kLockAreaUser, static_cast<uint8_t>(address >> 16),
                         static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)});
}

bool TBootFrame::ResponseSumOk(const uint8_t* response, size_t length) {
  return length >= 3 && response[length - 1] == BootSum(response, length - 1);
}

uint32_t TBootFrame::MemoryCount(const uint8_t* header) {
  return BootU32(header + 1);
}
