// The operator side of the controller and the sequences on the main window:
// the log memo, message boxes, the update command, the stage title, the
// gauge and the status bar.
#pragma once
#include <string>

#include "link/Ui.h"

class TRXProgAppForm;

class TFormUi : public IUi {
 public:
  explicit TFormUi(TRXProgAppForm& form) : FForm(form) {}

  int LogLineCount() override;
  void LogClear() override;
  void LogAppendLine(const std::string& line) override;
  void ShowMessage(const std::string& text, TMsgKind kind) override;
  void DisableUpdateEntries(bool alsoPopup) override;
  void SetStageTitle(const std::string& text) override;
  void SetGauge(int percent) override;
  void SetStatusText(const std::string& text) override;

 private:
  TRXProgAppForm& FForm;
};
