// The boot monitor's requests and the transfer block, built in one place.
// Requests are ASCII closed by "#"; addresses and values are 8 upper-case
// hexadecimal digits, most significant first.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

using TRequestBytes = std::vector<uint8_t>;
using TWordBytes = std::array<uint8_t, 4>;

// A ReadWord reply whose word is not hexadecimal.
class TReplyWordError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TBootRequest {
  static constexpr uint8_t kEnd = '#';
  static constexpr uint8_t kPrompt = '>';      // the monitor is ready again
  static constexpr uint8_t kCrcRequest = 'C';  // the receiver asks for CRC blocks
  static constexpr uint8_t kSoh = 0x01;        // start of a block
  static constexpr uint8_t kEot = 0x04;        // end of the transfer
  static constexpr uint8_t kAck = 0x06;
  static constexpr size_t kBlockData = 128;
  static constexpr size_t kBlockSize = 133;

  // Reply lengths and where their marker byte sits.
  static constexpr int kPromptReplyLength = 3;
  static constexpr int kWordReplyLength = 15;
  static constexpr int kGoReplyLength = 4;
  static constexpr int kMarkerIndex = 2;        // 3rd byte of a 3-byte reply
  static constexpr int kWordMarkerIndex = 14;   // 15th byte of a word reply
  static constexpr size_t kWordFieldStart = 4;  // 5th to 12th bytes: the word
  static constexpr size_t kWordFieldLength = 8;

  // Two upper-case hexadecimal characters, high nibble first.
  static void ByteToHex(uint8_t value, char out[2]);
  // Bits 31-24 first, bits 7-0 last.
  static void PutBigEndian32(uint32_t value, uint8_t out[4]);
  static TWordBytes BigEndian(uint32_t value);

  static TRequestBytes WakeUp();                                              // "#"
  static TRequestBytes WriteWord(uint32_t address, const TWordBytes& value);  // "W" a "," v "#"
  static TRequestBytes ReadWord(uint32_t address);                            // "w" a ",4#"
  static TRequestBytes SendFile(uint32_t address, uint32_t length);           // "S" a "," l "#"
  static TRequestBytes Go(uint32_t address);                                  // "G" a "#"

  // Number of blocks for size bytes (a partial block counts as one).
  static size_t BlockCount(size_t size) { return (size + kBlockData - 1) / kBlockData; }
  // Block k of data: SOH, number (k + 1) mod 256, its complement, 128 data
  // bytes (the last block filled up with 0x00), CRC-16/XMODEM high then low.
  static std::array<uint8_t, kBlockSize> Block(const uint8_t* data, size_t size, size_t k);

  // The word of a ReadWord reply: its 5th to 12th characters as hexadecimal.
  // Throws TReplyWordError when the reply is short or a character is not
  // hexadecimal; a half-read word must never pass as a number.
  static uint32_t ParseWord(std::span<const uint8_t> reply);
};
