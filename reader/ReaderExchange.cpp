// The exchange every reader command follows: discard what was received,
// send one request frame, wait for the answer's bytes until the deadline.
#include <cstring>

#include "link/Checksums.h"
#include "link/FlashWrRXCont.h"
#include "link/TimeOut.h"
#include "reader/ReaderFrame.h"

using namespace ReaderFrame;

uint8_t TFlashWrRXCont::FrameSum(const uint8_t* frame) {
  return RangeSum(frame, 0, static_cast<uint16_t>(frame[kLenPos] + kHeadLength + 1));
}

void TFlashWrRXCont::DumpFrame(const std::string& label, const uint8_t* frame, int length,
                               bool forceHex) {
  if (!FTxTrace) return;
  if (!label.empty()) AddLog(label, false);
  AddLog(HexTrace("", frame, length), forceHex);
}

void TFlashWrRXCont::SendReaderRequest(const uint8_t* frame, int length, const std::string& label,
                                       bool hexAlways, uint32_t timeoutMs) {
  DumpFrame(label, frame, length, hexAlways);
  // A send on a closed link goes unnoticed here: the wait then times out.
  SendData(frame, length, true);
  TimeOutCheck(0, timeoutMs);
}

bool TFlashWrRXCont::WaitRxBytes(int count, uint32_t timeoutMs) {
  for (;;) {
    FHost.ProcessMessages();
    if (GetRxCount() >= count) return true;
    if (TimeOutCheck(1, timeoutMs)) return false;
    FHost.WaitForActivity(TimeOutRemaining(timeoutMs));
  }
}

void TFlashWrRXCont::TakeRxBytes(uint8_t* out, int count) {
  for (int i = 0; i < count; ++i) out[i] = GetRxByte();
}

uint16_t TFlashWrRXCont::ReceiveFrame(uint8_t* out, uint16_t timeoutMs) {
  // Takes every byte that is there in one pass, but stops at the end of the
  // frame, so the outcome is that of reading one byte per poll.
  TFrameAssembler frame;
  TimeOutCheck(0, timeoutMs);
  while (!TimeOutCheck(1, timeoutMs)) {
    FHost.ProcessMessages();
    while (GetRxCount() > 0) {
      switch (frame.Push(GetRxByte())) {
        case TFrameAssembler::TResult::More:
          continue;
        case TFrameAssembler::TResult::Malformed:
          return 0;
        case TFrameAssembler::TResult::Complete:
          if (out) std::memcpy(out, frame.Frame(), static_cast<size_t>(frame.Length()));
          return static_cast<uint16_t>(frame.Length());
      }
    }
    FHost.WaitForActivity(TimeOutRemaining(timeoutMs));
  }
  return 0;
}
