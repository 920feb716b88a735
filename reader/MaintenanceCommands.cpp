// Maintenance commands of the reader: transmitter on/off, the pass-through
// command and the settings memory's read, write and initialisation.
#include "reader/MaintenanceCommands.h"

#include <algorithm>
#include <optional>

#include "link/FlashWrRXCont.h"
#include "reader/ReaderFrame.h"

using namespace ReaderFrame;
using namespace Maintenance;

namespace {

constexpr int kTxOnOffAnswerLength = 9;  // STX xx st 02 9E on ETX SUM CR
constexpr int kInitAnswerLength = 8;     // STX xx st 01 71 ETX SUM CR
constexpr int kStatusOnlyTaken = 3;      // STX, second byte, status
constexpr int kReadAnswerOverhead = 10;  // STX xx st LEN detail index count ... ETX SUM CR
constexpr int kReadIndexPos = 5;
constexpr int kReadCountPos = 6;
constexpr int kReadDataPos = 7;
constexpr int kWriteHead = 4;  // 83 selector index count

const TEepromSelector kSelectors[] = {
    {kDetailAreaRead0, "EEPROM_RDWR_CMD RX: ", "EEPROM_RDWR_CMD TX: "},
    {kDetailAreaRead1, "EEPROM_RDWR_CMD2 RX: ", "EEPROM_RDWR_CMD2 TX: "},
    {kDetailAreaRead2, "EEPROM_RDWR_CMD3 RX: ", "EEPROM_RDWR_CMD3 TX: "},
    {kDetailSelectorRW, "EEPROM_RDWR_CMD4 RX: ", "EEPROM_RDWR_CMD4 TX: "},
};
const TEepromSelector kFactorySelector{kDetailSelectorRW,
                                       "Read Factory Init Data RX: ", "??????? TX: "};
const TEepromSelector kAllDataSelector{kDetailSelectorRW,
                                       "Read All EEPROM RX: ", "EEPROM_ALLDATA TX: "};
const TEepromSelector kChipSelector{kDetailChipRead, "RC663_EEPROM_RDWR RX: ", "??????? TX: "};

// Sends the request and takes count answer bytes; nothing on time-out.
std::optional<TStatusAnswer> Exchange(TFlashWrRXCont& c, const TBytes& request,
                                      const std::string& label, int count) {
  c.SendReaderRequest(request.data(), static_cast<int>(request.size()), label, false,
                      TFlashWrRXCont::kMaintReplyTimeoutMs);
  if (!c.WaitRxBytes(count, TFlashWrRXCont::kMaintReplyTimeoutMs)) return std::nullopt;
  TBytes answer(static_cast<size_t>(count));
  c.TakeRxBytes(answer.data(), count);
  return TStatusAnswer(std::move(answer));
}

bool Accepted(const std::optional<TStatusAnswer>& answer) {
  return answer && answer->Accepted();
}

}  // namespace

const TEepromSelector& Maintenance::EepromSelector(uint8_t selector) {
  if (selector <= kSelArea3) return kSelectors[selector];
  if (selector == kSelFactory) return kFactorySelector;
  if (selector == kSelAllData) return kAllDataSelector;
  return kChipSelector;
}

int TFlashWrRXCont::TxOnOff(bool on) {
  const TBytes request =
      BuildRequest(kLetterSet, {kDetailTxOnOff, static_cast<uint8_t>(on ? 0x01 : 0x00)});
  return Accepted(Exchange(*this, request, "TXON_OFF_CMD: ", kTxOnOffAnswerLength)) ? 1 : 0;
}

int TFlashWrRXCont::PassThroughCmd(uint8_t letter, int n, const uint8_t* data, int& answerLength,
                                   uint8_t* output, int outputCapacity) {
  if (n < 0 || n > kMaxData || (n > 0 && !data)) return 0;
  if (answerLength < kStatusOnlyTaken) return 0;
  const int payload = answerLength - kStatusOnlyTaken;
  if (payload > 0 && (!output || payload > outputCapacity)) return 0;
  const TBytes request = BuildRequest(letter, TBytes(data, data + n));
  const auto answer = Exchange(*this, request, "PassThroughCmd: ", answerLength);
  if (!Accepted(answer)) return 0;
  for (int i = 0; i < payload; ++i)
    output[i] = answer->At(static_cast<size_t>(kStatusOnlyTaken + i));
  answerLength = payload;
  return 1;
}

int TFlashWrRXCont::EepromWriteCmd(uint8_t selector, uint8_t index, int count, const uint8_t* data,
                                   int answerLength) {
  if (count < 1 || count > kEepromMaxWriteWords || !data) return 0;
  if (answerLength < kStatusOnlyTaken) return 0;
  TBytes d(static_cast<size_t>(kWriteHead + 2 * count));
  d[0] = kDetailSelectorRW;
  d[1] = selector;
  d[2] = index;
  d[3] = static_cast<uint8_t>(count);
  std::copy_n(data, 2 * count, d.begin() + kWriteHead);
  const auto answer = Exchange(*this, BuildRequest(kLetterSet, d),
                               EepromSelector(selector).WriteLabel, answerLength);
  return Accepted(answer) ? 1 : 0;
}

int TFlashWrRXCont::EepromReadCmd(uint8_t selector, uint8_t index, int count, uint8_t* output,
                                  int outputCapacity) {
  if (count < 1 || count > kEepromMaxReadWords || !output || outputCapacity < 2 * count) return 0;
  const TEepromSelector& sel = EepromSelector(selector);
  TBytes d{sel.ReadDetail};
  if (ReadCarriesSelector(sel.ReadDetail)) d.push_back(selector);
  d.push_back(index);
  d.push_back(static_cast<uint8_t>(count));
  const auto answer =
      Exchange(*this, BuildRequest(kLetterRead, d), sel.ReadLabel, 2 * count + kReadAnswerOverhead);
  if (!Accepted(answer)) return 0;
  // LEN (byte 3) is taken but not looked at.
  if (answer->At(kFirstDataPos) != sel.ReadDetail || answer->At(kReadIndexPos) != index ||
      answer->At(kReadCountPos) != count)
    return 0;
  for (int i = 0; i < 2 * count; ++i) output[i] = answer->At(static_cast<size_t>(kReadDataPos + i));
  return 1;
}

int TFlashWrRXCont::EepromInitCmd() {
  return Accepted(Exchange(*this, BuildRequest(kLetterSet, {kDetailInit}),
                           "EEPROM_INIT_CMD: ", kInitAnswerLength))
             ? 1
             : 0;
}
