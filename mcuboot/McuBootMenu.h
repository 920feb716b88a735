// The handlers of the hidden command menu: each sends one boot-mode command
// and logs the outcome, decoded lines as detail lines and the failure line
// as an always line. Plain C++: the window binds its menu items to these
// methods, the command line runs them by name.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "link/ComPara.h"
#include "link/FlashWrRXCont.h"

class TMcuBootMenu {
 public:
  // mainComPara: the main window's master record (port, boot-mode settings),
  // read when a handler runs.
  TMcuBootMenu(TFlashWrRXCont& cont, const tagCOMPara& mainComPara);

  // Line speed used for the bit-rate matching.
  static constexpr int kBitRateMatchBaudRate = 19200;
  // The device code SelectDevice sends.
  static constexpr uint8_t kDeviceCode[4] = {'7', '5', '0', '5'};
  // Memory read of the menu: user area, this address, 256 bytes.
  static constexpr uint8_t kMemReadArea = 1;
  static constexpr uint32_t kMemReadAddress = 0xFFFA0000;
  static constexpr uint32_t kMemReadSize = 256;
  // Lock-bit address of the menu (address bytes 0xFE, 0xFF, 0xFF).
  static constexpr uint32_t kLockBitAddress = 0xFFFEFFFF;

  void MnBitRateClick();
  void MnSupportDeviceClick();
  void MnDeviceSelectClick();
  void MnClockInfoClick();
  void MnSelectClockModeClick();
  void MnTeibaiInfoClick();
  void MnGetClockInfoClick();
  void MnBootAreaInfoClick();
  void MnUserAreaInfoClick();
  void MnEraseBlockInfoClick();
  void MnWriteSizeinfoClick();
  void MnDataAreaChkClick();
  void MnDataAreaInfoClick();
  void MnSelectBitRateClick();
  void MnEraseStatusSetClick();
  void MnBootProgInfoClick();
  void MnSelUserBootAreaClick();
  void MnSelUSerAreaClick();
  void MnWrite256BytesClick();
  void MnSelEraseClick();
  void MnBlockEraseClick();
  void MnMemReadClick();
  void MnUserBootSumCheckClick();
  void MnUserAreaSumCheckClick();
  void MnDataSumCheckClick();
  void MnUserBootBlankCheckClick();
  void MnUserAreaBlankCheckClick();
  void MnReadLockBitStatusClick();
  void MnProgLockBitClick();
  void MnEnLockBitClick();
  void MnDisaLockBitClick();

  // Items of the menu that do nothing.
  void MnReadStsClick() {}
  void MnVer1Click() {}
  void MnEraseClick() {}
  void MnClrStsClick() {}
  void MnSetProgModeClick() {}
  void MnSetReStartClick() {}
  void MnCRC1Click() {}

  // Fifteen handlers in their own order, each to its end whatever it reports.
  void MnCmdCheckClick();

  using THandler = void (TMcuBootMenu::*)();
  struct TEntry {
    const char* Name;
    THandler Handler;
  };
  // Every handler of the menu by its name ("MnBitRateClick", ...).
  static const std::vector<TEntry>& Handlers();
  // Runs the handler of that name; false when there is none.
  bool RunHandler(const std::string& name);
  // Outcome of the handler RunHandler ran: 1 every command OK, 0 one of them
  // NG, -1 none sent (the items that do nothing).
  int FLastResult = -1;
  static constexpr int kCmdCheckCount = 15;
  static const std::array<THandler, kCmdCheckCount>& CmdCheckOrder();

 private:
  // "OK: " + label as a detail line or "NG: " + label as an always line.
  bool Report(bool ok, const std::string& label);
  void LogLines(const std::vector<std::string>& lines);

  TFlashWrRXCont& FCont;
  const tagCOMPara& FMainComPara;
};

// Decoded lines of the replies (the response R, N, data, S as received).
using TBootResponse = TFlashWrRXCont::TBootResponse;
std::vector<std::string> DecodeSupportDevice(const TBootResponse& r);
std::vector<std::string> DecodeClockMode(const TBootResponse& r);
std::vector<std::string> DecodeMultiplyRatio(const TBootResponse& r);
std::vector<std::string> DecodeFrequency(const TBootResponse& r);
std::vector<std::string> DecodeAreaList(const TBootResponse& r);
std::vector<std::string> DecodeWriteSize(const TBootResponse& r);
std::vector<std::string> DecodeDataAreaExists(const TBootResponse& r);
std::vector<std::string> DecodeDataArea(const TBootResponse& r);
std::vector<std::string> DecodeBootStatus(const TBootResponse& r);
std::vector<std::string> DecodeSum(const TBootResponse& r);
std::vector<std::string> DecodeLockBitStatus(uint8_t status);

// A frequency in 0.01 MHz as "###.00": two decimals, no 0 before the point.
std::string FormatFrequency(uint16_t hundredths);
const char* BootStatusText(uint8_t status);
const char* BootErrorText(uint8_t error);
