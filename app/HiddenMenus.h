// The handlers of the two hidden menus gathered by name, for the main window
// and the command line: the command menu's boot-mode handlers, the
// configuration menu's reader handlers, and the steps behind the items that
// ask the operator first (the port choice, the parameter restore).
#pragma once
#include <string>
#include <vector>

#include "link/ComPara.h"
#include "mcuboot/McuBootMenu.h"
#include "reader/MaintenanceMenu.h"

class TFlashWrRXCont;

class THiddenMenus {
 public:
  // Handlers that open a dialog in the window.
  static constexpr char kSetComPort[] = "MnSetCOMPortClick";
  static constexpr char kSettingTest[] = "Mn_Setting_testClick";
  static constexpr char kRestoreParams[] = "MnRestoreParamClick";
  // The result line of the parameter restore ("Restore Params : OK").
  static constexpr char kRestoreLabel[] = "Restore Params";

  // mainComPara is the main window's master record; appendLog its AppendLog
  // (null: the controller's AddLog).
  THiddenMenus(TFlashWrRXCont& cont, tagCOMPara& mainComPara,
               TReaderMaintMenu::TAppendLog appendLog = nullptr);

  // Every handler of the two menus, command menu first, each in menu order.
  static const std::vector<std::string>& HandlerNames();
  static bool Known(const std::string& name);

  // Runs a handler of the two menus that needs no dialog. outcome: 1 OK,
  // 0 NG, -1 nothing to report. False when name is none of them.
  bool Run(const std::string& name, int* outcome);

  // "COMポートの設定..." once a port was chosen: opens it unless it is the
  // port in use, takes it into both serial records and logs "Open <port>"
  // with " : OK" or " : NG" as a detail line. -1 when nothing was opened.
  int SetComPort(const std::string& chosenPortName);

  // Writes the saved backup at path back to the reader and logs the always
  // line "Restore Params : OK" or " : NG"; 1 OK, 0 NG. The controller's
  // FLastParamBackupPath and FParamError tell where the reader's previous
  // values went and why it failed.
  int RestoreParams(const std::string& path);

  TMcuBootMenu Cmd;
  TReaderMaintMenu Config;

 private:
  void Log(const std::string& text, bool force);

  TFlashWrRXCont& FCont;
  tagCOMPara& FMainComPara;
  TReaderMaintMenu::TAppendLog FAppendLog;
};
