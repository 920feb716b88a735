// Identification, program-mode and interface-board commands of the reader.
#include <algorithm>
#include <cstring>
#include <optional>

#include "link/FlashWrRXCont.h"
#include "link/TimeOut.h"
#include "reader/ReaderFrame.h"

using namespace ReaderFrame;

namespace {

// Answer lengths the commands wait for, and where their payload sits.
constexpr int kVersionAnswerLength = 17;  // STX xx st 0A 90 + 9 chars + ETX SUM CR
constexpr int kVersionTextPos = 5;
constexpr int kVersionTextLength = 9;
constexpr int kModelNameMinimum = 17;
constexpr int kModelNamePos = 5;   // after LEN and one unexamined data byte
constexpr int kEchoAckLength = 8;  // STX xx st 01 detail ETX SUM CR
constexpr int kOpModeAckLength = 7;
constexpr int kProgModeCodeTaken = 6;
constexpr int kPassThroughAnswerLength = 9;
constexpr int kIfbModeAnswerLength = 10;
constexpr int kIfbModeWordPos = 5;

// The entry code that opens program mode from the hidden menu.
constexpr char kProgModeEntryCode[] = "583914207";
// Operation-mode command: flag byte values and the fixed fifth data byte.
constexpr uint8_t kOpModeFlagSet = 0x10;
constexpr uint8_t kOpModeFixed = 0x01;
// Pass-through request data after its detail code.
constexpr uint8_t kPassThroughChannel = 0x08;
constexpr uint8_t kPassThroughOn = 0x01;

constexpr char kTimeOverLine[] = "Time Over(10)";
constexpr char kRomVersionLabel[] = "ＲＯＭのバージョン情報";

// Sends the request, waits up to timeoutMs for count bytes and takes them.
std::optional<TStatusAnswer> Exchange(TFlashWrRXCont& c, const TBytes& request,
                                      const std::string& label, bool hexAlways, int count,
                                      uint32_t timeoutMs) {
  c.SendReaderRequest(request.data(), static_cast<int>(request.size()), label, hexAlways,
                      timeoutMs);
  if (!c.WaitRxBytes(count, timeoutMs)) return std::nullopt;
  TBytes answer(static_cast<size_t>(count));
  c.TakeRxBytes(answer.data(), count);
  return TStatusAnswer(std::move(answer));
}

void StoreText(char* field, size_t fieldSize, const std::string& text) {
  const size_t n = std::min(text.size(), fieldSize - 1);
  std::memcpy(field, text.data(), n);
  field[n] = '\0';
}

TBytes WordLoHi(uint8_t detail, uint16_t word) {
  return {detail, static_cast<uint8_t>(word & 0xFF), static_cast<uint8_t>(word >> 8)};
}

}  // namespace

int TFlashWrRXCont::ReadRomVersion(bool logResult) {
  const auto answer = Exchange(*this, BuildRequest(kLetterRead, {kDetailRomVersion, 0x00}),
                               kRomVersionLabel, true, kVersionAnswerLength, kReaderReplyTimeoutMs);
  if (!answer) {
    AddLog(kTimeOverLine, false);
    return 0;
  }
  // The status is not looked at: the version stands at its place either way.
  StoreText(FRomVersion, sizeof FRomVersion, answer->Text(kVersionTextPos, kVersionTextLength));
  if (logResult) AddLog("ROM Version : " + std::string(FRomVersion), true);
  return 1;
}

int TFlashWrRXCont::ReadModelName(bool useLetterG, bool logResult) {
  const TBytes request =
      BuildRequest(useLetterG ? kLetterReadAlt : kLetterRead, {kDetailModelName});
  SendReaderRequest(request.data(), static_cast<int>(request.size()), "機種名（ModelName）の取得",
                    false, kReaderReplyTimeoutMs);
  if (!WaitRxBytes(kModelNameMinimum, kReaderReplyTimeoutMs)) return 0;
  TBytes answer(kModelNameMinimum);
  TakeRxBytes(answer.data(), kModelNameMinimum);
  // LEN counts the data byte before the name. A name longer than the minimum
  // read is waited for on the same clock rather than read before it arrives.
  const int nameLength = std::max(0, answer[kLenPos] - 1);
  const int needed = kModelNamePos + nameLength;
  if (needed > kModelNameMinimum) {
    const int more = needed - kModelNameMinimum;
    if (!WaitRxBytes(more, kReaderReplyTimeoutMs)) return 0;
    answer.resize(static_cast<size_t>(needed));
    TakeRxBytes(answer.data() + kModelNameMinimum, more);
  }
  const TStatusAnswer name(std::move(answer));
  StoreText(FModelName, sizeof FModelName,
            name.Text(kModelNamePos, static_cast<size_t>(nameLength)));
  if (logResult) AddLog("Module : " + std::string(FModelName), true);
  return 1;
}

int TFlashWrRXCont::SetProgMode() {
  const auto answer = Exchange(*this, BuildRequest(kLetterMemory, {kDetailProgMode, 0x00}),
                               "ST_PROG_MODE QVX: ", false, kEchoAckLength, kReaderReplyTimeoutMs);
  const bool ok = answer && answer->Accepted();
  AddLog(ok ? "OK：SetProgMode_QVX" : "NG：SetProgMode_QVX", false);
  return ok ? 1 : 0;
}

int TFlashWrRXCont::SetProgModeWithCode() {
  constexpr size_t kCodeLength = sizeof kProgModeEntryCode - 1;
  TBytes data(1 + kCodeLength);
  data[0] = kDetailProgModeCode;
  std::copy_n(kProgModeEntryCode, kCodeLength, data.begin() + 1);
  const auto answer = Exchange(*this, BuildRequest(kLetterSet, data), "ST_PROG_MODE: ", false,
                               kProgModeCodeTaken, kProgModeCodeTimeoutMs);
  int result = 0;
  if (!answer) {
    AddLog(kTimeOverLine, false);
  } else if (answer->Accepted()) {
    AddLog("ACK Recieve", false);
    result = 1;
  } else {
    AddLog("Error", false);
  }
  // The reader's program mode runs at this rate, answered or not.
  CommX1->SetBaudRate(kProgModeBaudRate);
  return result;
}

int TFlashWrRXCont::DousaModeSet(bool flag, uint8_t b1, uint8_t b2, uint8_t b3, uint16_t word) {
  const TBytes data{flag ? kOpModeFlagSet : uint8_t{0x00},
                    b1,
                    b2,
                    b3,
                    kOpModeFixed,
                    static_cast<uint8_t>(word >> 8),
                    static_cast<uint8_t>(word & 0xFF)};
  const auto answer = Exchange(*this, BuildRequest(kLetterSet, data), "DousaModeSet: ", false,
                               kOpModeAckLength, kReaderReplyTimeoutMs);
  return answer && answer->Accepted() ? 1 : 0;
}

int TFlashWrRXCont::IfbDousaModeSet(uint16_t word) {
  const auto answer =
      Exchange(*this, BuildRequest(kLetterBoard, WordLoHi(kBoardModeSet, word)),
               "ESP32_DousaModeSet_Cmd2: ", false, kEchoAckLength, kReaderReplyTimeoutMs);
  return answer && answer->Accepted() ? 1 : 0;
}

void TFlashWrRXCont::IfbCmdThrough() {
  const TBytes data{kBoardPassThrough, kPassThroughChannel, kPassThroughOn};
  // The answer is taken out of the buffer; nobody looks at it.
  Exchange(*this, BuildRequest(kLetterBoard, data), "ESP32IFBCmdThrough: ", false,
           kPassThroughAnswerLength, kReaderReplyTimeoutMs);
}

int TFlashWrRXCont::SetIFBMode(uint16_t word, bool logResult) {
  const auto answer = Exchange(*this, BuildRequest(kLetterBoard, WordLoHi(kBoardModeSet, word)), "",
                               true, kEchoAckLength, kReaderReplyTimeoutMs);
  if (!answer) {
    AddLog(kTimeOverLine, false);
    return 0;
  }
  if (!answer->Accepted()) return 0;
  if (logResult) AddLog("SetIFBMode : OK", true);
  return 1;
}

int TFlashWrRXCont::GetIFBMode(uint16_t& word, bool logResult) {
  const auto answer = Exchange(*this, BuildRequest(kLetterBoard, {kBoardModeQuery}), "", true,
                               kIfbModeAnswerLength, kReaderReplyTimeoutMs);
  if (!answer) {
    AddLog(kTimeOverLine, false);
    return 0;
  }
  if (!answer->Accepted()) return 0;
  word = answer->WordLoHi(kIfbModeWordPos);
  if (logResult) AddLog("GetIFBMode : OK", true);
  return 1;
}

int TFlashWrRXCont::ReadIfbRomVersion(bool logResult) {
  const auto answer = Exchange(*this, BuildRequest(kLetterBoard, {kBoardRomVersion, 0x00}),
                               kRomVersionLabel, true, kVersionAnswerLength, kReaderReplyTimeoutMs);
  if (!answer) {
    AddLog(kTimeOverLine, false);
    return 0;
  }
  if (!answer->Accepted()) return 0;
  StoreText(FRomVersion, sizeof FRomVersion, answer->Text(kVersionTextPos, kVersionTextLength));
  if (logResult) AddLog("IFBROM Version : " + std::string(FRomVersion), true);
  return 1;
}

int TFlashWrRXCont::RestartIfb() {
  const TBytes request = BuildRequest(kLetterBoard, {kBoardRestart});
  SendReaderRequest(request.data(), static_cast<int>(request.size()), "IF_RESTART_CMD: ", false,
                    kReaderReplyTimeoutMs);
  // The board answers once it has begun to restart; its time-out counts from here.
  FHost.Sleep(kIfbRestartSettleMs);
  TimeOutCheck(0, kReaderReplyTimeoutMs);
  if (!WaitRxBytes(kEchoAckLength, kReaderReplyTimeoutMs)) return 0;
  TBytes answer(kEchoAckLength);
  TakeRxBytes(answer.data(), kEchoAckLength);
  return TStatusAnswer(std::move(answer)).Accepted() ? 1 : 0;
}
