#include "app/FormUi.h"

#include <algorithm>

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>

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
