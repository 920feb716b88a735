// The operator side of the controller and the sequences on the main window:
// the log memo, message boxes, the update command, the stage title, the
// gauge and the status bar.
#pragma once
#include <optional>
#include <string>

#include <QPointer>

#include "link/Ui.h"

class TConfirm1Dlg;
class TGuage1Dlg;
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

  // Connecting: the real dialogs and the please-wait window.
  void ShowMessageTitled(const std::string& title, const std::string& text, TMsgKind kind) override;
  TSerialPortChoice RunSerialPortDialog(const TSerialPortDialogSetup& setup,
                                        int32_t& reWriteMode) override;
  TTcpIpChoice RunTcpIpDialog(const tagTCPIPPara& para, int32_t& reWriteMode) override;
  void ShowPleaseWait(const std::string& caption, const std::string& label) override;
  void SetPleaseWaitLabel(const std::string& label) override;
  void ClosePleaseWait() override;
  void SetConnected(int32_t value) override;
  int32_t Connected() override;
  void StoreMainComPara(const tagCOMPara& para) override;
  void StoreLastTcpPara(const tagTCPIPPara& para) override;
  bool MainDetailLog() override;
  void CloseMainWindow() override;

  // The update: its confirmation dialog, the window, the sounds.
  void CreateConfirm() override;
  void ShowConfirm() override;
  void HideConfirm() override;
  void BringConfirmToFront() override;
  void DestroyConfirm() override;
  void SetConfirmEnabled(bool enabled) override;
  void SetConfirmButtonEnabled(bool enabled) override;
  void SetConfirmHeadline(const std::string& text) override;
  void SetConfirmText(const std::string& text) override;
  void SetConfirmFontSize(int points) override;
  void SetConfirmColor(uint32_t rgb) override;
  void WaitForOperator() override;
  void SetMainWindowEnabled(bool enabled) override;
  void PlaySound(TSound sound) override;
  // The update's dialog while it exists (tests look at it).
  TConfirm1Dlg* Confirm() const;

  // Answers the next TCP/IP dialog with this choice instead of showing it
  // (the built-in simulator: connect without asking).
  std::optional<TTcpIpChoice> FPresetTcpChoice;

 private:
  TRXProgAppForm& FForm;
  QPointer<TGuage1Dlg> FPleaseWait;
  QPointer<TConfirm1Dlg> FConfirm;
};
