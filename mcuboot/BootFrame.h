// Frames of the microcontroller's serial boot mode, built and checked in one
// place. Multi-byte fields go most significant byte first; every frame with
// data ends in the two's-complement sum of the bytes before it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using TBootBytes = std::vector<uint8_t>;

// The byte that makes the 8-bit sum of the covered bytes plus itself 0.
uint8_t BootSum(const uint8_t* bytes, size_t count);

struct TBootCode {
  // Bit-rate matching.
  static constexpr uint8_t kMatchZero = 0x00;      // sent until the target echoes it
  static constexpr uint8_t kMatchConfirm = 0x55;   // sent once the target echoed 0x00
  static constexpr uint8_t kMatchAccepted = 0xE6;  // the target locked on the bit rate
  static constexpr uint8_t kAck = 0x06;
  static constexpr uint8_t kAckKind5 = 0x46;  // device selection acknowledge of kind 5

  // Selections.
  static constexpr uint8_t kSelectDevice = 0x10;
  static constexpr uint8_t kSelectClockMode = 0x11;
  static constexpr uint8_t kNewBitRate = 0x3F;
  static constexpr uint8_t kProgEraseState = 0x40;
  // Replies to kProgEraseState that mean success.
  static constexpr uint8_t kProgEraseReady = 0x26;
  static constexpr uint8_t kProgEraseReadyKind5 = 0x06;
  static constexpr uint8_t kProgEraseReadyAlt = 0x16;

  // Inquiries: each is answered with code + 0x10, N, N data bytes, sum.
  static constexpr uint8_t kSupportDevice = 0x20;
  static constexpr uint8_t kClockMode = 0x21;
  static constexpr uint8_t kMultiplyRatio = 0x22;
  static constexpr uint8_t kFrequency = 0x23;
  static constexpr uint8_t kUserBootArea = 0x24;
  static constexpr uint8_t kUserArea = 0x25;
  static constexpr uint8_t kWriteSize = 0x27;
  static constexpr uint8_t kDataAreaExists = 0x2A;
  static constexpr uint8_t kDataArea = 0x2B;
  static constexpr uint8_t kBootStatus = 0x4F;
  static constexpr uint8_t kInquiryReplyOffset = 0x10;

  // Programming and erasure.
  static constexpr uint8_t kUserBootAreaProgram = 0x42;
  static constexpr uint8_t kUserAreaProgram = 0x43;
  static constexpr uint8_t kSelectErase = 0x48;
  static constexpr uint8_t kProgram = 0x50;
  static constexpr uint8_t kEraseBlock = 0x58;
  static constexpr uint8_t kEraseEnd = 0xFF;  // block number that ends the erasure

  // Checks: sums are answered like inquiries (code + 0x10), the data area's
  // with 0x71.
  static constexpr uint8_t kSumUserBoot = 0x4A;
  static constexpr uint8_t kSumUserArea = 0x4B;
  static constexpr uint8_t kBlankUserBoot = 0x4C;
  static constexpr uint8_t kBlankUserArea = 0x4D;
  static constexpr uint8_t kSumDataArea = 0x61;
  static constexpr uint8_t kSumDataAreaReply = 0x71;

  // Memory read: answered with 0x52, N (4 bytes), N data bytes, sum.
  static constexpr uint8_t kMemoryRead = 0x52;

  // Lock bits.
  static constexpr uint8_t kReadLockBit = 0x71;
  static constexpr uint8_t kDisableLockBit = 0x75;
  static constexpr uint8_t kProgramLockBit = 0x77;
  static constexpr uint8_t kEnableLockBit = 0x7A;
  static constexpr uint8_t kStatusError = 0xF1;  // a status byte that announces an error code
  static constexpr uint8_t kLockAreaUser = 0x01;

  static constexpr uint32_t kEndOfProgramming = 0xFFFFFFFF;
};

struct TBootFrame {
  static constexpr size_t kProgramData = 256;
  static constexpr size_t kProgramFrame = 262;
  static constexpr size_t kMemoryHeader = 5;  // 0x52 and the 4-byte count

  // One command byte.
  static TBootBytes Command(uint8_t code);
  // Code, N, N data bytes, sum.
  static TBootBytes WithData(uint8_t code, const TBootBytes& data);
  // 0x50, address, 256 data bytes, sum.
  static TBootBytes Program(uint32_t address, const uint8_t (&data)[kProgramData]);
  // 0x50, 0xFF x 4, sum.
  static TBootBytes EndOfProgramming();
  static TBootBytes SelectDevice(const uint8_t (&code)[4]);
  static TBootBytes NewBitRate(uint16_t rate, uint16_t freq, uint8_t ratio1, uint8_t ratio2);
  static TBootBytes ReadMemory(uint8_t area, uint32_t address, uint32_t size);
  // Lock-bit commands carry the area and address bits 23-0.
  static TBootBytes LockBit(uint8_t code, uint32_t address);

  // A whole inquiry response R, N, N data bytes, S: true when S is right.
  static bool ResponseSumOk(const uint8_t* response, size_t length);
  // The byte count of a memory-read response from its first five bytes.
  static uint32_t MemoryCount(const uint8_t* header);
};

// Big-endian helpers for the decoders.
inline uint16_t BootU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}
inline uint32_t BootU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}
