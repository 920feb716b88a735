// The serial boot-mode command set: frames out, acknowledges, inquiry,
// memory-read and status replies in, each wait on the time-out clock.
#include <cstdio>

#include "link/FlashWrRXCont.h"
#include "link/PortNames.h"
#include "link/TimeOut.h"
#include "mcuboot/BootFrame.h"

namespace {
std::string Hex2(uint8_t v) {
  char s[3];
  std::snprintf(s, sizeof s, "%02X", v);
  return s;
}
}  // namespace

// ---- reply waits ------------------------------------------------------------

bool TFlashWrRXCont::WaitRxOnClock(int n, uint32_t ms) {
  for (;;) {
    FHost.ProcessMessages();
    if (GetRxCount() >= n) return true;
    if (TimeOutCheck(1, ms)) return false;
    FHost.WaitForActivity(TimeOutRemaining(ms));
  }
}

uint8_t TFlashWrRXCont::PeekRxByte(int index) const {
  return FRxBuf[(FRxReadPos + index) % kRxBufSize];
}

bool TFlashWrRXCont::WaitRxCount(uint32_t ms, int n) {
  TimeOutCheck(0, ms);
  return WaitRxOnClock(n, ms);
}

void TFlashWrRXCont::LogBootErrorCode(uint32_t ms) {
  if (!WaitRxOnClock(1, ms)) return;
  AddLog("エラーコード: " + Hex2(GetRxByte()), false);
}

bool TFlashWrRXCont::WaitBootAck(uint8_t expected, uint32_t ms) {
  TimeOutCheck(0, ms);
  if (!WaitRxOnClock(1, ms)) return false;
  if (GetRxByte() == expected) return true;
  LogBootErrorCode(ms);
  return false;
}

bool TFlashWrRXCont::ReadBootResponse(uint8_t code, uint32_t ms, TBootResponse& response) {
  response.Length = 0;
  TimeOutCheck(0, ms);
  if (!WaitRxOnClock(2, ms) || PeekRxByte(0) != code) return false;
  const int total = PeekRxByte(1) + 3;
  if (!WaitRxOnClock(total, ms)) return false;
  for (int i = 0; i < total; ++i) response.Bytes[i] = GetRxByte();
  response.Length = total;
  return TBootFrame::ResponseSumOk(response.Bytes, static_cast<size_t>(total));
}

bool TFlashWrRXCont::ReadMemoryResponse(uint32_t ms, int& count) {
  count = 0;
  FMemReadLength = 0;
  TimeOutCheck(0, ms);
  constexpr int kHeader = static_cast<int>(TBootFrame::kMemoryHeader);
  if (!WaitRxOnClock(kHeader, ms) || PeekRxByte(0) != TBootCode::kMemoryRead) return false;
  uint8_t header[kHeader];
  for (int i = 0; i < kHeader; ++i) header[i] = PeekRxByte(i);
  const uint64_t total = uint64_t{TBootFrame::MemoryCount(header)} + kHeader + 1;
  if (total > static_cast<uint64_t>(kMemReadBufSize)) {
    // More than the buffer holds: fail now rather than wait for bytes that
    // have nowhere to go. The next request discards what is left.
    AddLog("Memory read: " + std::to_string(total) + " bytes announced, " +
               std::to_string(kMemReadBufSize) + " fit",
           false);
    return false;
  }
  const int n = static_cast<int>(total);
  if (!WaitRxOnClock(n, ms)) return false;
  for (int i = 0; i < n; ++i) FMemReadBuf[i] = GetRxByte();
  FMemReadLength = count = n;
  return FMemReadBuf[n - 1] == BootSum(FMemReadBuf, static_cast<size_t>(n - 1));
}

bool TFlashWrRXCont::ReadStatusByte(uint32_t ms, uint8_t& status) {
  TimeOutCheck(0, ms);
  if (!WaitRxOnClock(1, ms)) return false;
  status = GetRxByte();
  if (status != TBootCode::kStatusError) return true;
  LogBootErrorCode(ms);
  return false;
}

// ---- request helpers ----------------------------------------------------------

bool TFlashWrRXCont::SendBoot(const std::vector<uint8_t>& frame) {
  return SendData(frame.data(), static_cast<int>(frame.size()), true) > 0;
}

bool TFlashWrRXCont::BootAckCommand(const std::vector<uint8_t>& frame, uint8_t expected) {
  return SendBoot(frame) && WaitBootAck(expected, kMcuReplyTimeoutMs);
}

bool TFlashWrRXCont::BootInquiry(uint8_t code, uint8_t replyCode, TBootResponse& response) {
  response.Length = 0;
  return SendBoot(TBootFrame::Command(code)) &&
         ReadBootResponse(replyCode, kMcuReplyTimeoutMs, response);
}

// ---- bit-rate matching and selections -------------------------------------------

bool TFlashWrRXCont::BitRateMatch() {
  FHost.Sleep(kBitRateMatchPauseMs);
  const uint8_t zero = TBootCode::kMatchZero;
  bool answered = false;
  for (int i = 0; i < kBitRateMatchTries && !answered; ++i) {
    SendData(&zero, 1, false);
    // Keeps the 50 ms pace on a silent line, ends early once a byte is in.
    TimeOutCheck(0, kBitRateMatchStepMs);
    answered = WaitRxOnClock(1, kBitRateMatchStepMs);
  }
  if (!answered || GetRxByte() != TBootCode::kMatchZero) return false;
  ClearRxBuffer();
  const uint8_t confirm = TBootCode::kMatchConfirm;
  SendData(&confirm, 1, true);
  if (!WaitRxCount(kMcuReplyTimeoutMs, 1)) return false;
  return GetRxByte() == TBootCode::kMatchAccepted;
}

bool TFlashWrRXCont::SelectDevice(const uint8_t (&code)[4]) {
  return BootAckCommand(TBootFrame::SelectDevice(code),
                        FDeviceKind == 5 ? TBootCode::kAckKind5 : TBootCode::kAck);
}

bool TFlashWrRXCont::SelectClockMode(uint8_t mode) {
  return BootAckCommand(TBootFrame::WithData(TBootCode::kSelectClockMode, {mode}), TBootCode::kAck);
}

bool TFlashWrRXCont::SelectNewBitRate(uint16_t rate, uint16_t freq, uint8_t ratio1,
                                      uint8_t ratio2) {
  const bool acknowledged = SendBoot(TBootFrame::NewBitRate(rate, freq, ratio1, ratio2)) &&
                            WaitBootAck(TBootCode::kAck, kMcuReplyTimeoutMs);
  FHost.Sleep(kNewBitRatePauseMs);
  if (!acknowledged) return false;
  if (CommX1->IsOpen()) CommX1->Close();
  CommX1->SetBaudRate(static_cast<int>(rate) * 100);
  if (!OpenComPort(ComPortNumber(CommX1->PortName()))) return false;
  ClearRxBuffer();
  return BootAckCommand(TBootFrame::Command(TBootCode::kAck), TBootCode::kAck);
}

bool TFlashWrRXCont::EnterProgEraseState(uint8_t& reply) {
  if (!SendBoot(TBootFrame::Command(TBootCode::kProgEraseState))) return false;
  if (!WaitRxCount(kMcuReplyTimeoutMs, 1)) return false;
  reply = GetRxByte();
  const uint8_t ready =
      FDeviceKind == 5 ? TBootCode::kProgEraseReadyKind5 : TBootCode::kProgEraseReady;
  return reply == ready || reply == TBootCode::kProgEraseReadyAlt;
}

// ---- inquiries ------------------------------------------------------------------

namespace {
// Every inquiry of the table is answered with its code + 0x10.
constexpr uint8_t ReplyTo(uint8_t code) {
  return static_cast<uint8_t>(code + TBootCode::kInquiryReplyOffset);
}
}  // namespace

bool TFlashWrRXCont::InquireSupportDevice(TBootResponse& response) {
  return BootInquiry(TBootCode::kSupportDevice, ReplyTo(TBootCode::kSupportDevice), response);
}

bool TFlashWrRXCont::InquireClockMode(TBootResponse& response) {
  return BootInquiry(TBootCode::kClockMode, ReplyTo(TBootCode::kClockMode), response);
}

bool TFlashWrRXCont::InquireMultiplyRatio(TBootResponse& response) {
  return BootInquiry(TBootCode::kMultiplyRatio, ReplyTo(TBootCode::kMultiplyRatio), response);
}

bool TFlashWrRXCont::InquireFrequency(TBootResponse& response) {
  return BootInquiry(TBootCode::kFrequency, ReplyTo(TBootCode::kFrequency), response);
}

bool TFlashWrRXCont::InquireUserBootArea(TBootResponse& response) {
  return BootInquiry(TBootCode::kUserBootArea, ReplyTo(TBootCode::kUserBootArea), response);
}

bool TFlashWrRXCont::InquireUserArea(TBootResponse& response) {
  return BootInquiry(TBootCode::kUserArea, ReplyTo(TBootCode::kUserArea), response);
}

bool TFlashWrRXCont::InquireWriteSize(TBootResponse& response) {
  return BootInquiry(TBootCode::kWriteSize, ReplyTo(TBootCode::kWriteSize), response);
}

bool TFlashWrRXCont::InquireDataAreaExists(TBootResponse& response) {
  return BootInquiry(TBootCode::kDataAreaExists, ReplyTo(TBootCode::kDataAreaExists), response);
}

bool TFlashWrRXCont::InquireDataArea(TBootResponse& response) {
  return BootInquiry(TBootCode::kDataArea, ReplyTo(TBootCode::kDataArea), response);
}

bool TFlashWrRXCont::InquireBootStatus(TBootResponse& response) {
  return BootInquiry(TBootCode::kBootStatus, ReplyTo(TBootCode::kBootStatus), response);
}

bool TFlashWrRXCont::SumCheckUserBoot(TBootResponse& response) {
  return BootInquiry(TBootCode::kSumUserBoot, ReplyTo(TBootCode::kSumUserBoot), response);
}

bool TFlashWrRXCont::SumCheckUserArea(TBootResponse& response) {
  return BootInquiry(TBootCode::kSumUserArea, ReplyTo(TBootCode::kSumUserArea), response);
}

bool TFlashWrRXCont::SumCheckDataArea(TBootResponse& response) {
  return BootInquiry(TBootCode::kSumDataArea, TBootCode::kSumDataAreaReply, response);
}

// ---- programming, erasure, checks ---------------------------------------------

bool TFlashWrRXCont::SelectUserBootAreaProgram() {
  return BootAckCommand(TBootFrame::Command(TBootCode::kUserBootAreaProgram), TBootCode::kAck);
}

bool TFlashWrRXCont::SelectUserAreaProgram() {
  return BootAckCommand(TBootFrame::Command(TBootCode::kUserAreaProgram), TBootCode::kAck);
}

bool TFlashWrRXCont::SelectErase() {
  return BootAckCommand(TBootFrame::Command(TBootCode::kSelectErase), TBootCode::kAck);
}

bool TFlashWrRXCont::BlankCheckUserBoot() {
  return BootAckCommand(TBootFrame::Command(TBootCode::kBlankUserBoot), TBootCode::kAck);
}

bool TFlashWrRXCont::BlankCheckUserArea() {
  return BootAckCommand(TBootFrame::Command(TBootCode::kBlankUserArea), TBootCode::kAck);
}

bool TFlashWrRXCont::Program256(uint32_t address, const uint8_t (&data)[256]) {
  return BootAckCommand(TBootFrame::Program(address, data), TBootCode::kAck);
}

bool TFlashWrRXCont::EraseBlock(uint8_t block) {
  return BootAckCommand(TBootFrame::WithData(TBootCode::kEraseBlock, {block}), TBootCode::kAck);
}

bool TFlashWrRXCont::ReadMemory(uint8_t area, uint32_t address, uint32_t size) {
  FMemReadLength = 0;
  if (!SendBoot(TBootFrame::ReadMemory(area, address, size))) return false;
  int count = 0;
  return ReadMemoryResponse(kMemoryReadTimeoutMs, count);
}

// ---- lock bits -------------------------------------------------------------------

bool TFlashWrRXCont::ReadLockBit(uint32_t address, uint8_t& status) {
  return SendBoot(TBootFrame::LockBit(TBootCode::kReadLockBit, address)) &&
         ReadStatusByte(kMcuReplyTimeoutMs, status);
}

bool TFlashWrRXCont::ProgramLockBit(uint32_t address) {
  return BootAckCommand(TBootFrame::LockBit(TBootCode::kProgramLockBit, address), TBootCode::kAck);
}

bool TFlashWrRXCont::EnableLockBit() {
  return BootAckCommand(TBootFrame::Command(TBootCode::kEnableLockBit), TBootCode::kAck);
}

bool TFlashWrRXCont::DisableLockBit() {
  return BootAckCommand(TBootFrame::Command(TBootCode::kDisableLockBit), TBootCode::kAck);
}
