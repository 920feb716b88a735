// The operator side as seen by the controller and the sequences: the log memo,
// message boxes and, later, the main window's controls. GUI, command line and
// tests each provide one.
#pragma once
#include <string>

enum class TMsgKind { Plain, Error, Warning, Information };

class IUi {
 public:
  virtual ~IUi() = default;

  // The log memo: one entry per line.
  virtual int LogLineCount() = 0;
  virtual void LogClear() = 0;
  virtual void LogAppendLine(const std::string& line) = 0;

  // Modal message box; returns when the operator has closed it.
  virtual void ShowMessage(const std::string& text, TMsgKind kind) = 0;

  // Main window controls reached by the protocols and sequences. A front end
  // without them (tests, the command line) may ignore them.
  // Disables the update command's tool button and firmware menu, and the
  // log's pop-up entry too when alsoPopup is set.
  virtual void DisableUpdateEntries(bool alsoPopup) { (void)alsoPopup; }
  // The confirmation dialog's large text (Label1), shown during an update.
  virtual void SetConfirmText(const std::string& text) { (void)text; }
  virtual void SetStageTitle(const std::string& text) { (void)text; }
  virtual void SetGauge(int percent) { (void)percent; }
  virtual void SetStatusText(const std::string& text) { (void)text; }
};
