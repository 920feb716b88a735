// The device side of the reader command frame, written apart from the tool's
// own frame code so that a misreading on either side shows up in tests.
//
//   request:  02 00 letter LEN data... 03 SUM 0D
//   answer:   02 00 status LEN data... 03 SUM 0D
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "sim/SimDevice.h"

namespace SimFrame {
constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kCr = 0x0D;
constexpr uint8_t kAccepted = '0';
constexpr uint8_t kRefused = '1';
constexpr size_t kOverhead = 7;
}  // namespace SimFrame

struct TSimRequest {
  uint8_t Letter = 0;
  TBytes Data;
  // The first data byte, which names the operation for most letters; -1 when
  // there is no data.
  int Detail() const { return Data.empty() ? -1 : Data[0]; }
};

// An answer frame; badSum spoils its checksum.
TBytes SimAnswerFrame(uint8_t status, const TBytes& data, bool badSum = false);

// Collects request frames from a byte stream. Bytes before an STX are
// dropped; a frame whose ETX, CR or sum is wrong is dropped and the search
// for the next STX resumes right after its first byte.
class TSimFrameParser {
 public:
  // Feeds bytes; returns the frames completed by them.
  std::vector<TSimRequest> Push(const uint8_t* data, size_t count);
  void Reset() { FBuf.clear(); }
  bool Idle() const { return FBuf.empty(); }
  int BadFrames() const { return FBadFrames; }

 private:
  TBytes FBuf;
  int FBadFrames = 0;
};

// The interface board's view of the byte stream: frames for the board
// (letter E) are cut out; every other byte goes on to the reader, held back
// only while it could still be the start of a board frame.
class TSimBoardTap {
 public:
  using TBoardFrameFn = std::function<void(const TSimRequest&)>;
  using TReaderBytesFn = std::function<void(const TBytes&)>;
  // Feeds bytes; board frames and bytes for the reader come out in order.
  void Push(const uint8_t* data, size_t count, const TBoardFrameFn& onBoardFrame,
            const TReaderBytesFn& onReaderBytes);
  // Gives up on a held partial board frame: its bytes go to the reader.
  TBytes Flush();
  bool Holding() const { return !FHeld.empty(); }
  int BadFrames() const { return FBadFrames; }

 private:
  bool HeldCouldBeBoardFrame() const;
  TBytes FHeld;
  int FBadFrames = 0;
};
