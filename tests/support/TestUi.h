// A UI for tests: keeps the log lines and the message boxes shown.
#pragma once
#include <string>
#include <vector>

#include "link/Ui.h"

class TTestUi : public IUi {
 public:
  int LogLineCount() override { return static_cast<int>(FLog.size()); }
  void LogClear() override { FLog.clear(); }
  void LogAppendLine(const std::string& line) override { FLog.push_back(line); }
  void ShowMessage(const std::string& text, TMsgKind kind) override {
    FMessages.push_back(text);
    FLastKind = kind;
  }

  bool HasLine(const std::string& line) const {
    for (const auto& l : FLog)
      if (l == line) return true;
    return false;
  }

  std::vector<std::string> FLog;
  std::vector<std::string> FMessages;
  TMsgKind FLastKind = TMsgKind::Plain;
};
