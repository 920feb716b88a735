#include "reader/MaintenanceMenu.h"

#include <algorithm>
#include <cstring>

#include "link/FlashWrRXCont.h"
#include "reader/MaintenanceCommands.h"
#include "reader/ReaderFrame.h"

using namespace Maintenance;

namespace {

// Byte positions of the images that hold the reader's own values; the
// factory setting carries them over from the factory data read after the
// initialisation.
constexpr int kCarriedPairs[] = {50, 62, 78};
constexpr int kCarriedTailFirst = 80;

// The all-data image area by area: bytes 60-75 are area 2's eight words, so
// its write stops where area 3 begins.
struct TArea {
  uint8_t Selector;
  int FirstByte;
  int Words;
};
constexpr TArea kAreas[] = {
    {kSelArea0, 0, 20},
    {kSelArea1, 40, 10},
    {kSelArea2, 60, 8},
    {kSelArea3, 76, 24},
};
static_assert(kAreas[3].FirstByte + 2 * kAreas[3].Words == TReaderMaintMenu::kImageBytes);

void CarryOver(const uint8_t* from, uint8_t* to) {
  for (int pos : kCarriedPairs) {
    to[pos] = from[pos];
    to[pos + 1] = from[pos + 1];
  }
  std::copy(from + kCarriedTailFirst, from + TReaderMaintMenu::kImageBytes, to + kCarriedTailFirst);
}

const char* Outcome(int ok) {
  return ok ? " : OK" : " : NG";
}

}  // namespace

TReaderMaintMenu::TReaderMaintMenu(TFlashWrRXCont& cont, tagCOMPara& mainComPara,
                                   TAppendLog appendLog)
    : FCont(cont), FMainComPara(mainComPara), FAppendLog(std::move(appendLog)) {}

void TReaderMaintMenu::Log(const std::string& text, bool force) {
  if (FAppendLog)
    FAppendLog(text, force);
  else
    FCont.AddLog(text, force);
}

int TReaderMaintMenu::ReadImage(uint8_t selector, uint8_t* image) {
  return FCont.EepromReadCmd(selector, kImageIndex, kImageWords, image, kImageBytes);
}

// ---- handlers ----------------------------------------------------------------

void TReaderMaintMenu::Open1Click() {
  // The reader's program mode talks at this rate, whatever the settings say.
  FCont.CommX1->SetBaudRate(kMaintBaudRate);
  FLastResult = FCont.OpenComPort(FMainComPara.Port) ? 1 : 0;
  FCont.ClearRxBuffer();
  Log("Open " + FCont.CommX1->PortName() + Outcome(FLastResult));
}

void TReaderMaintMenu::Clsoe1Click() {
  FCont.CloseLink();
  FLastResult = -1;
  Log("Clse COM Port");
}

void TReaderMaintMenu::Rom1Click() {
  FLastResult = FCont.ReadRomVersion(false);
  if (FLastResult) Log("ROM Version : " + std::string(FCont.FRomVersion));
}

void TReaderMaintMenu::Boot1Click() {
  FLastResult = FCont.SetProgModeWithCode();
  Log(std::string("SetProgMode : ") + Outcome(FLastResult));
}

void TReaderMaintMenu::MnInitClick() {
  FLastResult = FCont.EepromInitCmd();
  Log(std::string("TxInitEEPROM") + Outcome(FLastResult));
}

void TReaderMaintMenu::MngetInitDataClick() {
  uint8_t image[kImageBytes];
  FLastResult = ReadImage(kSelFactory, image);
  Log(std::string("EEPROM_FACTALLDATA") + Outcome(FLastResult));
  if (FLastResult) Log(HexTrace("", image, kImageBytes));
}

void TReaderMaintMenu::mnSetFactInitClick() {
  FLastResult = FactorySetting();
  Log(Outcome(FLastResult));
}

void TReaderMaintMenu::MnGetPowerClick() {
  FLastResult = PowerRefSet();
  Log(std::string("Set PowerRef") + Outcome(FLastResult));
}

// ---- procedures --------------------------------------------------------------

int TReaderMaintMenu::FactorySetting() {
  uint8_t factory[kImageBytes];
  uint8_t allData[kImageBytes];
  uint8_t current[kImageBytes];
  if (!ReadImage(kSelFactory, factory)) return 0;
  if (!ReadImage(kSelAllData, allData)) return 0;
  if (!FCont.EepromInitCmd()) return 0;
  if (!ReadImage(kSelFactory, current)) return 0;
  CarryOver(current, factory);
  CarryOver(current, allData);

  if (!FCont.EepromWriteCmd(kSelAllData, kImageIndex, kImageWords, factory, kWriteAnswerLength))
    return 0;
  // Area by area, each write sending only bytes that were read.
  for (const TArea& area : kAreas) {
    if (!FCont.EepromWriteCmd(area.Selector, kImageIndex, area.Words, allData + area.FirstByte,
                              kWriteAnswerLength))
      return 0;
  }

  uint8_t check[kImageBytes];
  if (!ReadImage(kSelFactory, check) || std::memcmp(check, factory, kImageBytes) != 0) return 0;
  if (!ReadImage(kSelAllData, check) || std::memcmp(check, allData, kImageBytes) != 0) return 0;
  return 1;
}

int TReaderMaintMenu::PowerRefSet() {
  if (!FCont.TxOnOff(true)) return 0;  // left on afterwards
  const uint8_t request[] = {kDetailPower, 0x00};
  int length = kPowerAnswerLength;
  // Answer bytes 3 to 14: copy[k - 3] is answer byte k.
  uint8_t copy[kPowerAnswerLength - 3] = {};
  if (!FCont.PassThroughCmd(ReaderFrame::kLetterRead, sizeof request, request, length, copy,
                            sizeof copy))
    return 0;
  FPower = static_cast<uint16_t>(copy[6 - 3] | copy[7 - 3] << 8);
  FRefPower = static_cast<uint16_t>(copy[8 - 3] | copy[9 - 3] << 8);
  Log("POWER       : " + std::to_string(FPower), false);
  Log("REF POWER   : " + std::to_string(FRefPower), false);

  uint16_t ref = FRefPower;
  if (ref < kRefPowerMin || ref > kRefPowerMax) ref = kRefPowerReplacement;
  const uint8_t value[] = {static_cast<uint8_t>(ref & 0xFF), static_cast<uint8_t>(ref >> 8)};
  return FCont.EepromWriteCmd(kSelAllData, kRefPowerIndex, 1, value, kWriteAnswerLength);
}

// ---- by name -----------------------------------------------------------------

const std::vector<TReaderMaintMenu::THandler>& TReaderMaintMenu::Handlers() {
  using M = TReaderMaintMenu;
  static const std::vector<THandler> handlers = {
      {"MnSetConfigClick", "環境設定...", &M::MnSetConfigClick},
      {"Open1Click", "Open", &M::Open1Click},
      {"Clsoe1Click", "Clsoe", &M::Clsoe1Click},
      {"Rom1Click", "Romバージョン取得", &M::Rom1Click},
      {"Boot1Click", "Bootモードへ", &M::Boot1Click},
      {"MnInitClick", "初期化", &M::MnInitClick},
      {"MngetInitDataClick", "工場出荷時設定取得", &M::MngetInitDataClick},
      {"mnSetFactInitClick", "工場出荷時設定", &M::mnSetFactInitClick},
      {"MnGetPowerClick", "パワー値の取得", &M::MnGetPowerClick},
  };
  return handlers;
}

bool TReaderMaintMenu::RunHandler(const std::string& name) {
  for (const THandler& h : Handlers()) {
    if (name != h.Name) continue;
    FLastResult = -1;
    (this->*h.Click)();
    return true;
  }
  return false;
}
