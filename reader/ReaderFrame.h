// The reader command frame: building requests and reading answers. Every
// command of the reader protocol builds its request here and reads its answer
// through one of the three answer kinds below, so that byte positions live in
// one place.
//
//   request:  STX 00 letter LEN data... ETX SUM CR
//   answer:   STX xx status LEN data... ETX SUM CR      (status '0' = accepted)
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ReaderFrame {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kCr = 0x0D;
constexpr uint8_t kAddress = 0x00;
constexpr uint8_t kAccepted = '0';

// STX, address, letter, LEN before the data; ETX, SUM, CR after it.
constexpr int kHeadLength = 4;
constexpr int kOverhead = 7;
constexpr int kMaxData = 255;
constexpr int kMaxFrameLength = kMaxData + kOverhead;  // 262
constexpr int kFrameBufferSize = kMaxFrameLength + 1;  // 263, what ReceiveFrame callers hold

// Answer positions.
constexpr int kStatusPos = 2;
constexpr int kLenPos = 3;
constexpr int kFirstDataPos = 4;

// Command letters.
constexpr uint8_t kLetterRead = 'O';     // reads
constexpr uint8_t kLetterReadAlt = 'G';  // second letter of the model-name read
constexpr uint8_t kLetterSet = 'N';      // settings and actions
constexpr uint8_t kLetterMemory = 'U';   // program mode, parameter memory
constexpr uint8_t kLetterBoard = 'E';    // interface board

// Detail codes (first data byte).
constexpr uint8_t kDetailRomVersion = 0x90;
constexpr uint8_t kDetailModelName = 0x93;
constexpr uint8_t kDetailProgMode = 0xFE;      // with 'U'
constexpr uint8_t kDetailProgModeCode = 0x9B;  // with 'N', followed by the entry code
constexpr uint8_t kBoardModeQuery = 0x00;
constexpr uint8_t kBoardModeSet = 0x01;
constexpr uint8_t kBoardPassThrough = 0x04;
constexpr uint8_t kBoardRestart = 0x0A;
constexpr uint8_t kBoardRomVersion = 0x90;

using TBytes = std::vector<uint8_t>;

// The whole request frame; empty when the data do not fit one LEN byte.
TBytes BuildRequest(uint8_t letter, const TBytes& data);

// Status-only reading: the answer's bytes as taken from the receive buffer,
// starting at its STX, read at fixed positions. Positions that were not taken
// read as 0 and texts stop at the end of what was taken.
class TStatusAnswer {
 public:
  explicit TStatusAnswer(TBytes bytes) : FBytes(std::move(bytes)) {}
  bool Accepted() const { return At(kStatusPos) == kAccepted; }
  uint8_t At(size_t pos) const { return pos < FBytes.size() ? FBytes[pos] : 0; }
  // Word stored low byte first at pos.
  uint16_t WordLoHi(size_t pos) const;
  // Up to n bytes from pos, copied as they are (NULs included).
  std::string Text(size_t pos, size_t n) const;
  size_t Size() const { return FBytes.size(); }

 private:
  TBytes FBytes;
};

// Verified reading: accepted only when byte 0 is STX, the status is '0', the
// byte after the ETX position holds the sum of bytes 0..ETX, and (when echo
// >= 0) byte 4 repeats the request's detail code. etxPos is where the answer
// layout puts ETX; the CR is not examined.
bool VerifyAnswer(const uint8_t* answer, size_t count, size_t etxPos, int echo);

// Whole-frame reading: fed one byte at a time, skips bytes before the first
// STX and ends at LEN + 7 bytes with a verdict on ETX, CR and the sum.
class TFrameAssembler {
 public:
  enum class TResult { More, Complete, Malformed };
  TResult Push(uint8_t b);
  const uint8_t* Frame() const { return FFrame; }
  int Length() const { return FLength; }

 private:
  uint8_t FFrame[kFrameBufferSize] = {};
  int FIndex = 0;
  int FLength = 0;  // set when complete
  int FLen = 0;     // the LEN byte
};

}  // namespace ReaderFrame
