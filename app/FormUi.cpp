#include "app/FormUi.h"

#include <algorithm>

#include <QAction>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>

#include "app/InfoDialogs.h"
#include "app/OpenComDlg.h"
#include "app/SetIPAddrDlg.h"
#include "app/TRXProgAppForm.h"

int TFormUi::LogLineCount() {
  return FForm.LogLineCount();
}

void TFormUi::LogClear() {
  FForm.LogClear();
}

void TFormUi::LogAppendLine(const std::string& line) {
  FForm.LogAppendLine(line);
}

void TFormUi::ShowMessage(const std::string& text, TMsgKind kind) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;
  switch (kind) {
    case TMsgKind::Plain:
      break;
    case TMsgKind::Error:
      // The refusal of the update command answers with a single Yes.
      icon = QMessageBox::Critical;
      buttons = QMessageBox::Yes;
      break;
    case TMsgKind::Warning:
      icon = QMessageBox::Warning;
      break;
    case TMsgKind::Information:
      icon = QMessageBox::Information;
      break;
  }
  QMessageBox box(icon, FForm.windowTitle(), QString::fromStdString(text), buttons, &FForm);
  box.exec();
}

void TFormUi::DisableUpdateEntries(bool alsoPopup) {
  FForm.TB_Write->setEnabled(false);
  // The menu item too, or its Ctrl+U would still reach the command.
  FForm.MnFarm->setEnabled(false);
  FForm.N2->setEnabled(false);
  if (alsoPopup) FForm.MnProgram->setEnabled(false);
}

void TFormUi::SetStageTitle(const std::string& text) {
  FForm.STTitle->setText(QString::fromStdString(text));
}

void TFormUi::SetGauge(int percent) {
  FForm.CGauge1->setValue(std::clamp(percent, 0, 100));
}

void TFormUi::SetStatusText(const std::string& text) {
  FForm.StatusText->setText(QString::fromStdString(text));
}

// ---- connecting -----------------------------------------------------------

void TFormUi::ShowMessageTitled(const std::string& title, const std::string& text, TMsgKind kind) {
  const QMessageBox::Icon icon = kind == TMsgKind::Warning ? QMessageBox::Warning
                                 : kind == TMsgKind::Error ? QMessageBox::Critical
                                                           : QMessageBox::Information;
  // Without owner, as the selection errors are shown.
  QMessageBox box(icon, QString::fromStdString(title), QString::fromStdString(text),
                  QMessageBox::Ok);
  box.exec();
}

TSerialPortChoice TFormUi::RunSerialPortDialog(const TSerialPortDialogSetup& setup,
                                               int32_t& reWriteMode) {
  TOpenCom1Dlg dlg(&FForm, FForm.PortLister(), setup, reWriteMode);
  const int result = dlg.exec();
  return dlg.Choice(result);
}

TTcpIpChoice TFormUi::RunTcpIpDialog(const tagTCPIPPara& para, int32_t& reWriteMode) {
  if (FPresetTcpChoice) {
    const TTcpIpChoice preset = *FPresetTcpChoice;
    FPresetTcpChoice.reset();
    return preset;
  }
  TSetIPAddr1Dlg dlg(&FForm, FForm.AddressSource(), para, reWriteMode);
  const int result = dlg.exec();
  return dlg.Choice(result);
}

void TFormUi::ShowPleaseWait(const std::string& caption, const std::string& label) {
  ClosePleaseWait();
  FPleaseWait = new TGuage1Dlg(&FForm);
  FPleaseWait->SetAlwaysOnTop();
  FPleaseWait->Button1->setVisible(false);
  FPleaseWait->Panel2->setVisible(false);
  FPleaseWait->ProgressBar1->setVisible(false);
  FPleaseWait->setWindowTitle(QString::fromStdString(caption));
  FPleaseWait->Label1->setText(QString::fromStdString(label));
  QCoreApplication::processEvents();
  FPleaseWait->show();
  FPleaseWait->raise();
  FPleaseWait->activateWindow();
}

void TFormUi::SetPleaseWaitLabel(const std::string& label) {
  if (FPleaseWait) FPleaseWait->Label1->setText(QString::fromStdString(label));
}

void TFormUi::ClosePleaseWait() {
  if (!FPleaseWait) return;
  FPleaseWait->close();
  delete FPleaseWait.data();
}

void TFormUi::SetConnected(int32_t value) {
  FForm.FConnected = value;
}

int32_t TFormUi::Connected() {
  return FForm.FConnected;
}

void TFormUi::StoreMainComPara(const tagCOMPara& para) {
  FForm.FComPara = para;
}

void TFormUi::StoreLastTcpPara(const tagTCPIPPara& para) {
  FForm.FLastTcpPara = para;
}

bool TFormUi::MainDetailLog() {
  return FForm.FMainDetailLog != 0;
}

void TFormUi::CloseMainWindow() {
  FForm.RequestClose();
}

// ---- the update's confirmation dialog ---------------------------------------

namespace {

// A disabled confirmation dialog cannot be closed: its close requests are
// dropped until the update enables it.
class TCloseWhileEnabled : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Close) {
      auto* w = qobject_cast<QWidget*>(watched);
      if (w && !w->isEnabled()) {
        event->ignore();
        return true;
      }
    }
    return QObject::eventFilter(watched, event);
  }
};

}  // namespace

TConfirm1Dlg* TFormUi::Confirm() const {
  return FConfirm.data();
}

void TFormUi::CreateConfirm() {
  DestroyConfirm();
  FConfirm = new TConfirm1Dlg(&FForm);
  FConfirm->setModal(false);
  FConfirm->installEventFilter(new TCloseWhileEnabled(FConfirm));
}

void TFormUi::ShowConfirm() {
  if (!FConfirm) return;
  FConfirm->FWaitFlag = 1;  // also when it was shown already
  FConfirm->show();
  FConfirm->raise();
  FConfirm->activateWindow();
}

void TFormUi::HideConfirm() {
  if (FConfirm) FConfirm->hide();
}

void TFormUi::BringConfirmToFront() {
  if (!FConfirm || !FConfirm->isVisible()) return;
  FConfirm->raise();
  FConfirm->activateWindow();
}

void TFormUi::DestroyConfirm() {
  if (!FConfirm) return;
  FConfirm->hide();
  delete FConfirm.data();
}

void TFormUi::SetConfirmEnabled(bool enabled) {
  if (FConfirm) FConfirm->setEnabled(enabled);
}

void TFormUi::SetConfirmButtonEnabled(bool enabled) {
  if (FConfirm) FConfirm->OKBtn->setEnabled(enabled);
}

void TFormUi::SetConfirmHeadline(const std::string& text) {
  if (FConfirm) FConfirm->Label2->setText(QString::fromStdString(text));
}

void TFormUi::SetConfirmText(const std::string& text) {
  if (FConfirm) FConfirm->Label1->setText(QString::fromStdString(text));
}

void TFormUi::SetConfirmFontSize(int points) {
  if (!FConfirm) return;
  QFont f = FConfirm->Label1->font();
  f.setPointSize(points);
  FConfirm->Label1->setFont(f);
}

void TFormUi::SetConfirmColor(uint32_t rgb) {
  if (!FConfirm) return;
  QPalette p = FConfirm->Label1->palette();
  p.setColor(QPalette::WindowText, QColor::fromRgb(static_cast<QRgb>(rgb)));
  FConfirm->Label1->setPalette(p);
}

void TFormUi::WaitForOperator() {
  // Every event that could end the wait wakes this loop; nothing spins.
  while (FConfirm && FConfirm->FWaitFlag != 0)
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void TFormUi::SetMainWindowEnabled(bool enabled) {
  FForm.setEnabled(enabled);
}

void TFormUi::PlaySound(TSound sound) {
  if (sound == TSound::Ring)
    FForm.PlayRingSound();
  else
    FForm.PlayAlarmSound();
}
