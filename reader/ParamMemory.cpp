// The reader's parameter memory commands: block and word reads and writes,
// the factory default load, the preparation and the concluding command.
#include <algorithm>
#include <cstring>

#include "link/FlashWrRXCont.h"
#include "link/TimeOut.h"
#include "reader/ReaderFrame.h"

using namespace ReaderFrame;

namespace {

constexpr uint8_t kDetailBlockRead = 0x74;   // 't'
constexpr uint8_t kDetailBlockWrite = 0x75;  // 'u'
constexpr uint8_t kDetailWordRead = 0xA5;
constexpr uint8_t kDetailWordWrite = 0xB5;
constexpr uint8_t kDetailPrepare = 0x71;
constexpr uint8_t kDetailFactoryLoad = 0x6F;
constexpr uint8_t kDetailConclude = 0x9D;
constexpr uint8_t kWordCommandEnd = 0x02;  // last data byte of the word commands
// The preparation command's data after its detail code.
constexpr uint8_t kPrepareData[] = {0xFF, 0x00, 0x00, 0x00};

// Block answers: STX xx st LEN 74 hi lo c, c bytes, ETX SUM CR.
constexpr int kBlockCountPos = 7;
constexpr int kBlockDataPos = 8;
constexpr int kBlockAnswerOverhead = 11;
constexpr int kBlockWriteOverhead = 4;                            // 75 hi lo n before the data
constexpr int kMaxFramedBlock = 64;                               // ReadParamBlock, WriteParamBlock
constexpr int kMaxCheckedBlock = 255;                             // ReadParamBlockChecked
constexpr int kMaxWrittenBlock = kMaxData - kBlockWriteOverhead;  // 251: LEN is n + 4

// Acknowledgements: STX xx st 00 ETX SUM CR, or STX xx st 01 detail ETX SUM CR.
constexpr int kAckLength = 7;
constexpr int kPlainAckEtxPos = 4;
constexpr int kEchoAckEtxPos = 5;
constexpr int kWordWriteAckLength = 8;
// Word read answer: STX xx st 05 A5 v0 v1 v2 v3 ETX SUM CR.
constexpr int kWordAnswerLength = 12;
constexpr int kWordValuePos = 5;
constexpr int kWordAnswerEtxPos = 9;

bool BlockFits(int word, int n, int maxBytes) {
  return word >= 0 && n >= 1 && n <= maxBytes &&
         word * TFlashWrRXCont::kParamWordBytes + n <= TFlashWrRXCont::kParamBytes;
}

TBytes BlockRequest(uint8_t detail, int word, int n, const uint8_t* data) {
  const int address = word * TFlashWrRXCont::kParamWordBytes;
  TBytes d{detail, static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address & 0xFF),
           static_cast<uint8_t>(n)};
  if (data) d.insert(d.end(), data, data + n);
  return BuildRequest(kLetterMemory, d);
}

TBytes WordRequest(uint8_t detail, int word, const uint8_t* value) {
  TBytes d{detail,
           static_cast<uint8_t>(word & 0xFF),
           static_cast<uint8_t>(word >> 8),
           0,
           0,
           0,
           0,
           kWordCommandEnd};
  if (value) std::copy_n(value, 4, d.begin() + 3);
  return BuildRequest(kLetterMemory, d);
}

// Sends after discarding what was received and starts the clock; false when
// the link refused the bytes.
bool Send(TFlashWrRXCont& c, const TBytes& request, uint32_t timeoutMs) {
  const int sent = c.SendData(request.data(), static_cast<int>(request.size()), true);
  TimeOutCheck(0, timeoutMs);
  return sent > 0;
}

// Waits on the running clock for count bytes and takes them into out.
bool Take(TFlashWrRXCont& c, uint8_t* out, int count, uint32_t timeoutMs) {
  if (!c.WaitRxBytes(count, timeoutMs)) return false;
  c.TakeRxBytes(out, count);
  return true;
}

// A verified acknowledgement of count bytes with the detail code echoed at byte 4.
bool EchoAck(TFlashWrRXCont& c, uint8_t detail, int count, uint32_t timeoutMs) {
  uint8_t ack[kWordWriteAckLength] = {};
  return Take(c, ack, count, timeoutMs) && VerifyAnswer(ack, count, kEchoAckEtxPos, detail);
}

}  // namespace

int TFlashWrRXCont::ReadParamBlock(int word, uint8_t* buffer, int n) {
  if (!BlockFits(word, n, kMaxFramedBlock)) return 0;
  if (!Send(*this, BlockRequest(kDetailBlockRead, word, n, nullptr), kReceiveFrameTimeoutMs))
    return 0;
  uint8_t frame[kFrameBufferSize];
  const int length = ReceiveFrame(frame, kReceiveFrameTimeoutMs);
  if (length == 0 || frame[kStatusPos] != kAccepted || frame[kFirstDataPos] != kDetailBlockRead)
    return 0;
  // Only bytes the answer carries are taken, never its tail or stale buffer.
  if (length < n + kBlockAnswerOverhead) return 0;
  std::memcpy(buffer, frame + kBlockDataPos, static_cast<size_t>(n));
  return 1;
}

int TFlashWrRXCont::WriteParamBlock(int word, const uint8_t* data, int n) {
  if (!BlockFits(word, n, kMaxFramedBlock)) return 0;
  if (!Send(*this, BlockRequest(kDetailBlockWrite, word, n, data), kReceiveFrameTimeoutMs))
    return 0;
  uint8_t frame[kFrameBufferSize];
  const int length = ReceiveFrame(frame, kReceiveFrameTimeoutMs);
  if (length == 0 || frame[kStatusPos] != kAccepted) return 0;
  // The reader acknowledges a block write with or without echoing its detail code.
  return frame[kLenPos] == 0 || frame[kFirstDataPos] == kDetailBlockWrite ? 1 : 0;
}

int TFlashWrRXCont::ReadParamBlockChecked(int word, uint8_t* buffer, int n, int* copied) {
  if (copied) *copied = 0;
  if (!BlockFits(word, n, kMaxCheckedBlock)) return 0;
  Send(*this, BlockRequest(kDetailBlockRead, word, n, nullptr), kParamReplyTimeoutMs);
  // The count byte tells how long the answer is; a refusal ends the wait at once.
  uint8_t answer[kBlockAnswerOverhead + kMaxData] = {};
  if (!Take(*this, answer, kBlockDataPos, kParamReplyTimeoutMs)) return 0;
  if (answer[0] != kStx || answer[kStatusPos] != kAccepted ||
      answer[kFirstDataPos] != kDetailBlockRead)
    return 0;
  const int count = answer[kBlockCountPos];
  if (!Take(*this, answer + kBlockDataPos, count + kBlockAnswerOverhead - kBlockDataPos,
            kParamReplyTimeoutMs))
    return 0;
  if (!VerifyAnswer(answer, static_cast<size_t>(count + kBlockAnswerOverhead),
                    static_cast<size_t>(kBlockDataPos + count), kDetailBlockRead))
    return 0;
  // Never more than asked for: the caller's buffer holds n bytes.
  const int take = std::min(count, n);
  std::memcpy(buffer, answer + kBlockDataPos, static_cast<size_t>(take));
  if (copied) *copied = take;
  return 1;
}

int TFlashWrRXCont::WriteParamBlockAck(int word, const uint8_t* data, int n,
                                       uint32_t ackTimeoutMs) {
  if (!BlockFits(word, n, kMaxWrittenBlock)) return 0;
  Send(*this, BlockRequest(kDetailBlockWrite, word, n, data), ackTimeoutMs);
  uint8_t ack[kFrameBufferSize] = {};
  if (!Take(*this, ack, kAckLength, ackTimeoutMs)) return 0;
  // The plain acknowledgement, or one that echoes the detail code (and is
  // as long as its LEN says).
  const int len = ack[kLenPos];
  if (len == 0) return VerifyAnswer(ack, kAckLength, kPlainAckEtxPos, -1) ? 1 : 0;
  if (ack[0] != kStx || ack[kStatusPos] != kAccepted) return 0;
  const int sumPos = kFirstDataPos + len + 1;
  if (sumPos >= kAckLength && !Take(*this, ack + kAckLength, sumPos + 1 - kAckLength, ackTimeoutMs))
    return 0;
  return VerifyAnswer(ack, static_cast<size_t>(sumPos + 1), static_cast<size_t>(sumPos - 1),
                      kDetailBlockWrite)
             ? 1
             : 0;
}

int TFlashWrRXCont::WriteParamBlockVerified(int word, const uint8_t* data, int n,
                                            uint32_t ackTimeoutMs) {
  if (!WriteParamBlockAck(word, data, n, ackTimeoutMs)) return 0;
  uint8_t back[kMaxData] = {};
  int copied = 0;
  if (!ReadParamBlockChecked(word, back, n, &copied) || copied != n) return 0;
  return std::memcmp(back, data, static_cast<size_t>(n)) == 0 ? 1 : 0;
}

int TFlashWrRXCont::ReadParamWord(int word, uint8_t* value) {
  if (word < 0 || word >= kParamWords) return 0;
  Send(*this, WordRequest(kDetailWordRead, word, nullptr), kParamReplyTimeoutMs);
  uint8_t answer[kWordAnswerLength];
  if (!Take(*this, answer, kWordAnswerLength, kParamReplyTimeoutMs) ||
      !VerifyAnswer(answer, kWordAnswerLength, kWordAnswerEtxPos, kDetailWordRead))
    return 0;
  std::memcpy(value, answer + kWordValuePos, kParamWordBytes);
  return 1;
}

int TFlashWrRXCont::WriteParamWordVerified(int word, const uint8_t* value) {
  if (word < 0 || word >= kParamWords) return 0;
  Send(*this, WordRequest(kDetailWordWrite, word, value), kParamWriteAckTimeoutMs);
  if (!EchoAck(*this, kDetailWordWrite, kWordWriteAckLength, kParamWriteAckTimeoutMs)) return 0;
  uint8_t back[kParamWordBytes];
  return ReadParamWord(word, back) && std::memcmp(back, value, kParamWordBytes) == 0 ? 1 : 0;
}

int TFlashWrRXCont::LoadFactoryDefaults() {
  Send(*this, BuildRequest(kLetterSet, {kDetailFactoryLoad}), kParamReplyTimeoutMs);
  return EchoAck(*this, kDetailFactoryLoad, kAckLength, kParamReplyTimeoutMs) ? 1 : 0;
}

int TFlashWrRXCont::PrepareParamMemory() {
  TBytes data{kDetailPrepare};
  data.insert(data.end(), std::begin(kPrepareData), std::end(kPrepareData));
  Send(*this, BuildRequest(kLetterMemory, data), kParamReplyTimeoutMs);
  return EchoAck(*this, kDetailPrepare, kAckLength, kParamReplyTimeoutMs) ? 1 : 0;
}

int TFlashWrRXCont::ConcludeRestore() {
  // The reader does not answer this one.
  const TBytes request = BuildRequest(kLetterSet, {kDetailConclude});
  SendData(request.data(), static_cast<int>(request.size()), true);
  return 1;
}

int TFlashWrRXCont::CheckSavedVariant() {
  static constexpr char kVariant[] = "KRV07";
  constexpr size_t kLength = sizeof kVariant - 1;
  constexpr size_t kLastStart = 8;
  for (size_t i = 0; i <= kLastStart; ++i)
    if (std::memcmp(FSavedRomVersion + i, kVariant, kLength) == 0) return 1;
  return 0;
}
