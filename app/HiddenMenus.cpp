#include "app/HiddenMenus.h"

#include <algorithm>

#include "link/FlashWrRXCont.h"
#include "link/PortNames.h"

THiddenMenus::THiddenMenus(TFlashWrRXCont& cont, tagCOMPara& mainComPara,
                           TReaderMaintMenu::TAppendLog appendLog)
    : Cmd(cont, mainComPara),
      Config(cont, mainComPara, appendLog),
      FCont(cont),
      FMainComPara(mainComPara),
      FAppendLog(std::move(appendLog)) {}

const std::vector<std::string>& THiddenMenus::HandlerNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> all;
    for (const TMcuBootMenu::TEntry& e : TMcuBootMenu::Handlers()) all.push_back(e.Name);
    for (const TReaderMaintMenu::THandler& h : TReaderMaintMenu::Handlers()) {
      all.push_back(h.Name);
      // The port item follows the settings item in the menu.
      if (all.back() == "MnSetConfigClick") all.push_back(kSetComPort);
    }
    all.push_back(kSettingTest);
    all.push_back(kRestoreParams);
    return all;
  }();
  return names;
}

bool THiddenMenus::Known(const std::string& name) {
  const auto& names = HandlerNames();
  return std::find(names.begin(), names.end(), name) != names.end();
}

bool THiddenMenus::Run(const std::string& name, int* outcome) {
  if (Cmd.RunHandler(name)) {
    *outcome = Cmd.FLastResult;
    return true;
  }
  if (Config.RunHandler(name)) {
    *outcome = Config.FLastResult;
    return true;
  }
  return false;
}

void THiddenMenus::Log(const std::string& text, bool force) {
  if (FAppendLog)
    FAppendLog(text, force);
  else
    FCont.AddLog(text, force);
}

int THiddenMenus::SetComPort(const std::string& chosenPortName) {
  // No port listed, or the one in use: nothing is opened and nothing logged.
  if (chosenPortName.empty() || chosenPortName == FCont.CommX1->PortName()) return -1;
  const int number = ComPortNumber(chosenPortName);
  if (number <= 0) {
    Log("Open " + chosenPortName + " : NG", false);
    return 0;
  }
  const bool opened = FCont.OpenComPort(number);
  std::string line = "Open " + FCont.CommX1->PortName();
  if (opened) {
    FMainComPara.Port = ComPortNumber(FCont.CommX1->PortName());
    FCont.FComPara = FMainComPara;
    line += " : OK";
  } else {
    line += " : NG";
  }
  Log(line, false);
  return opened ? 1 : 0;
}

int THiddenMenus::RestoreParams(const std::string& path) {
  const int ok = FCont.RestoreParametersFromFile(path) == 1 ? 1 : 0;
  Log(std::string(kRestoreLabel) + (ok ? " : OK" : " : NG"), true);
  return ok;
}
