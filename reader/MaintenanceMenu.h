// The reader items of the hidden configuration menu "設定": open and close
// the port at the reader's program-mode rate, ROM version, program mode by
// entry code, settings initialisation, factory data, transmit and reference
// power. Each handler runs to its end and writes its result line to the main
// window's log; nothing is retried and no message box is shown (except the
// port's own when it cannot be opened).
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/ComPara.h"

class TFlashWrRXCont;

class TReaderMaintMenu {
 public:
  // The main window's AppendLog(text, force): force writes an always line,
  // otherwise a detail line under the main window's own detail switch.
  using TAppendLog = std::function<void(const std::string& text, bool force)>;

  // Program mode runs the reader's port at this rate.
  static constexpr int kMaintBaudRate = 19200;
  // The factory and all-data images: 62 words from index 1.
  static constexpr int kImageWords = 62;
  static constexpr int kImageBytes = 2 * kImageWords;
  static constexpr uint8_t kImageIndex = 1;
  // Where the reference power is kept in the all-data area.
  static constexpr uint8_t kRefPowerIndex = 0x29;
  static constexpr int kWriteAnswerLength = 8;
  static constexpr int kPowerAnswerLength = 15;
  static constexpr uint16_t kRefPowerMin = 200;
  static constexpr uint16_t kRefPowerMax = 300;
  static constexpr uint16_t kRefPowerReplacement = 250;

  // mainComPara is the main window's serial record (its Port is opened by
  // Open1); appendLog defaults to the controller's AddLog.
  TReaderMaintMenu(TFlashWrRXCont& cont, tagCOMPara& mainComPara, TAppendLog appendLog = nullptr);

  // Menu handlers.
  void MnSetConfigClick() {}  // the settings dialog item does nothing
  void Open1Click();
  void Clsoe1Click();
  void Rom1Click();
  void Boot1Click();
  void MnInitClick();
  void MngetInitDataClick();
  void mnSetFactInitClick();
  void MnGetPowerClick();

  // The procedures behind the last two handlers: 1 success, 0 failure.
  int FactorySetting();
  int PowerRefSet();

  // The handlers by name, in menu order, for the command line.
  struct THandler {
    const char* Name;     // "Open1Click"
    const char* Caption;  // the menu item's caption
    void (TReaderMaintMenu::*Click)();
  };
  static const std::vector<THandler>& Handlers();
  // Runs the handler of that name; false when there is none.
  bool RunHandler(const std::string& name);

  // Outcome of the last handler: 1 OK, 0 NG, -1 for the handlers without one
  // (Clsoe1Click, MnSetConfigClick).
  int FLastResult = -1;
  // The values of the last power read.
  uint16_t FPower = 0;
  uint16_t FRefPower = 0;

 private:
  void Log(const std::string& text, bool force = true);
  int ReadImage(uint8_t selector, uint8_t* image);

  TFlashWrRXCont& FCont;
  tagCOMPara& FMainComPara;
  TAppendLog FAppendLog;
};
