// The boot monitor's requests, the block transfer and the applet mailbox.
#include <algorithm>

#include "bootmonitor/BootRequests.h"
#include "link/FlashWrRXCont.h"

namespace {
constexpr int kAckLength = 1;
}  // namespace

uint32_t TFlashWrRXCont::ParseReplyWordOf(const uint8_t* reply) {
  return TBootRequest::ParseWord(std::span<const uint8_t>(
      reply, TBootRequest::kWordFieldStart + TBootRequest::kWordFieldLength));
}

void TFlashWrRXCont::PutBigEndian32(uint32_t value, uint8_t out[4]) {
  TBootRequest::PutBigEndian32(value, out);
}

void TFlashWrRXCont::ByteToHex(uint8_t value, char out[2]) {
  TBootRequest::ByteToHex(value, out);
}

bool TFlashWrRXCont::BootExchange(const uint8_t* request, size_t length, uint8_t* reply,
                                  size_t capacity, int count, uint32_t timeoutMs, int markerIndex,
                                  uint8_t marker) {
  SendData(request, static_cast<int>(length), true);
  FHost.ProcessMessages();
  const bool arrived = WaitResponse(reply, static_cast<int>(capacity), count, timeoutMs);
  return arrived && static_cast<size_t>(markerIndex) < capacity && reply[markerIndex] == marker;
}

bool TFlashWrRXCont::RunBoot() {
  const TRequestBytes request = TBootRequest::WakeUp();
  uint8_t reply[TBootRequest::kPromptReplyLength] = {};
  const bool ok = BootExchange(request.data(), request.size(), reply, sizeof reply,
                               TBootRequest::kPromptReplyLength, kBootReplyTimeoutMs,
                               TBootRequest::kMarkerIndex, TBootRequest::kPrompt);
  AddLog(ok ? "OK: RunBoot" : "NG: RunBoot", false);
  return ok;
}

bool TFlashWrRXCont::WriteWordInto(uint32_t address, const uint8_t value[4], uint8_t* reply,
                                   size_t capacity) {
  const TRequestBytes request =
      TBootRequest::WriteWord(address, {value[0], value[1], value[2], value[3]});
  const bool ok = BootExchange(request.data(), request.size(), reply, capacity,
                               TBootRequest::kPromptReplyLength, kBootReplyTimeoutMs,
                               TBootRequest::kMarkerIndex, TBootRequest::kPrompt);
  AddLog(ok ? "OK: Write a Word" : "NG: Write a Word", false);
  return ok;
}

bool TFlashWrRXCont::ReadWordInto(uint32_t address, uint8_t* reply, size_t capacity) {
  std::fill_n(reply, capacity, 0x00);
  const TRequestBytes request = TBootRequest::ReadWord(address);
  const bool ok =
      BootExchange(request.data(), request.size(), reply, capacity, TBootRequest::kWordReplyLength,
                   kBootReplyTimeoutMs, TBootRequest::kWordMarkerIndex, TBootRequest::kPrompt);
  if (ok) {
    AddLog("", false);
    AddLog("OK: Read a Word", false);
  } else {
    AddLog("NG: Read a Word", false);
  }
  return ok;
}

bool TFlashWrRXCont::SendFileInto(uint32_t address, uint32_t length, uint8_t* reply,
                                  size_t capacity) {
  const TRequestBytes request = TBootRequest::SendFile(address, length);
  const bool ok = BootExchange(request.data(), request.size(), reply, capacity,
                               TBootRequest::kPromptReplyLength, kBootReplyTimeoutMs,
                               TBootRequest::kMarkerIndex, TBootRequest::kCrcRequest);
  AddLog(ok ? "Get C: Send a File " : "NG: Send a File", false);
  return ok;
}

bool TFlashWrRXCont::GoInto(uint32_t address, uint8_t* reply, size_t capacity) {
  const TRequestBytes request = TBootRequest::Go(address);
  SendData(request.data(), static_cast<int>(request.size()), true);
  FHost.ProcessMessages();
  WaitResponse(reply, static_cast<int>(capacity), TBootRequest::kGoReplyLength, kGoReplyTimeoutMs);
  FHost.Sleep(kGoPauseMs);
  AddLog("OK: Go", false);
  return true;
}

bool TFlashWrRXCont::TransferFile(const uint8_t* data, uint32_t size) {
  const size_t blocks = TBootRequest::BlockCount(size);
  uint8_t ack[kAckLength] = {};
  for (size_t k = 0; k < blocks; ++k) {
    const auto block = TBootRequest::Block(data, size, k);
    SendData(block.data(), static_cast<int>(block.size()), true);
    FHost.ProcessMessages();
    ack[0] = 0;
    // A refused or unanswered block ends the transfer: no retry, no EOT.
    if (!WaitResponse(ack, kAckLength, kAckLength, kBlockAckTimeoutMs) ||
        ack[0] != TBootRequest::kAck)
      return false;
    FProgressCount += static_cast<int32_t>(TBootRequest::kBlockData);
    if (FProgressCount > FGaugePosition) SetGaugePosition(FProgressCount);
  }
  const uint8_t eot = TBootRequest::kEot;
  SendData(&eot, 1, true);
  FHost.ProcessMessages();
  ack[0] = 0;
  const bool ok =
      WaitResponse(ack, kAckLength, kAckLength, kBlockAckTimeoutMs) && ack[0] == TBootRequest::kAck;
  AddLog(ok ? "OK : Send a File " : "NG : Send a File ", false);
  return ok;
}

bool TFlashWrRXCont::RunAppletInto(uint8_t* reply, size_t capacity) {
  GoInto(kAppletAddress, reply, capacity);
  // The command word is read twice at most; the values are not examined.
  if (!ReadWordInto(kMailboxCommand, reply, capacity) &&
      !ReadWordInto(kMailboxCommand, reply, capacity))
    return false;
  return ReadWordInto(kMailboxStatus, reply, capacity);
}

void TFlashWrRXCont::SetGaugeMax(int32_t max) {
  FGaugeMax = std::max<int32_t>(max, 0);
  SetGaugePosition(FGaugePosition);
}

void TFlashWrRXCont::SetGaugePosition(int32_t position) {
  // Like the gauge control, the position stays within its range.
  FGaugePosition = std::clamp<int32_t>(position, 0, FGaugeMax);
  const int percent =
      FGaugeMax > 0 ? static_cast<int>(int64_t{FGaugePosition} * 100 / FGaugeMax) : 0;
  FUi.SetGauge(percent);
}

bool TFlashWrRXCont::EndProcessing() {
  uint8_t reply[kBootReplyBufferSize] = {};
  bool ok = false;
  for (int attempt = 0; attempt < kEndAttempts; ++attempt) {
    // Mailbox command 6 ends the applet; Go runs it instead of RunApplet.
    ok = WriteWord(kMailboxCommand, kAppletEnd, reply) && WriteWord(kMailboxArg0, 1u, reply) &&
         WriteWord(kMailboxArg1, 1u, reply);
    if (!ok) continue;
    Go(kAppletAddress, reply);
    FHost.Sleep(kEndPauseMs);
    // A restarting reader lets this reply time out.
    WriteWord(kRestartAddress, kRestartWord, reply);
    ok = ReadRomVersion(false) != 0;
    if (ok) break;
    AddLog("リトライ", false);
    FHost.Sleep(kEndPauseMs);
  }
  AddLog(ok ? "OK：終了処理" : "NG：終了処理", true);
  return ok;
}
