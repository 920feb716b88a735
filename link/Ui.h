// The operator side as seen by the controller and the sequences: the log memo,
// message boxes and, later, the main window's controls. GUI, command line and
// tests each provide one.
#pragma once
#include <cstdint>
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

  // ---- The update's confirmation dialog (TConfirm1Dlg) and the main window ----
  //
  // The update sequence drives the dialog through these; a front end without
  // a dialog may ignore all but WaitForOperator. Label1 is SetConfirmText.
  //
  // Creates the dialog, hidden; its wait flag is 1.
  virtual void CreateConfirm() {}
  // Shows it modeless, on top and in front; showing sets the wait flag to 1.
  virtual void ShowConfirm() {}
  // Hides it; the wait flag stays as it is.
  virtual void HideConfirm() {}
  // Brings a shown dialog to the front; a hidden one stays hidden.
  virtual void BringConfirmToFront() {}
  // Closes and destroys it.
  virtual void DestroyConfirm() {}
  // A disabled dialog cannot be closed; OKBtn is "確認".
  virtual void SetConfirmEnabled(bool enabled) { (void)enabled; }
  virtual void SetConfirmButtonEnabled(bool enabled) { (void)enabled; }
  // Label2, the small headline.
  virtual void SetConfirmHeadline(const std::string& text) { (void)text; }
  // Label1's font size in points and its colour as 0xRRGGBB.
  virtual void SetConfirmFontSize(int points) { (void)points; }
  virtual void SetConfirmColor(uint32_t rgb) { (void)rgb; }
  // Lets events run until the dialog's wait flag is 0: "確認" and every
  // request to close the dialog clear it. Returns at once when it is 0.
  virtual void WaitForOperator() {}
  // The whole main window: disabled while the update runs.
  virtual void SetMainWindowEnabled(bool enabled) { (void)enabled; }
  // The main window's two sounds, for success and failure: started, not awaited.
  enum class TSound { Ring, Alarm };
  virtual void PlaySound(TSound sound) { (void)sound; }

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
