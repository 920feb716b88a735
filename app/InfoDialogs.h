// The small windows other steps show: the please-wait window of the reader
// search, the confirmation window of the update, the re-write setting and the
// version information window.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include <QDialog>

class QCheckBox;
class QCloseEvent;
class QFrame;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QShowEvent;

// The fixed-width Gothic family of the dialogs' texts.
inline constexpr char kGothicFontFamily[] = "ＭＳ ゴシック";

// Please wait: a status line, optionally a cancel button and a progress bar.
// Visible from its creation on; its title bar carries no buttons.
class TGuage1Dlg : public QDialog {
  Q_OBJECT
 public:
  explicit TGuage1Dlg(QWidget* owner);
  // Keeps the window above the others (showing it again).
  void SetAlwaysOnTop();

  QFrame* Panel1 = nullptr;
  QLabel* Label1 = nullptr;
  QPushButton* Button1 = nullptr;
  QFrame* Panel2 = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
};

// The confirmation window of the update: shown without being modal; the
// caller lets events run while FWaitFlag is 1. The button and every request
// to close the window end the wait.
class TConfirm1Dlg : public QDialog {
  Q_OBJECT
 public:
  explicit TConfirm1Dlg(QWidget* owner);

  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QPushButton* OKBtn = nullptr;
  int32_t FWaitFlag = 0;

 public slots:
  void OKBtnClick();
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
};

// The re-write setting: the check box and the advice in the memo. "設定"
// ends with kModalOk, "キャンセル" and closing with kModalCancel.
class TConfErrDlg : public QDialog {
  Q_OBJECT
 public:
  explicit TConfErrDlg(QWidget* owner);

  QCheckBox* CBReWrite = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QPushButton* OKBtn = nullptr;
  QPushButton* CancelBtn = nullptr;

 public slots:
  void reject() override;
};

// Runs the re-write setting for a connection dialog: the box starts from
// reWriteMode, which takes the box's state after "設定". True after "設定".
bool RunReWriteSetting(QWidget* owner, int32_t& reWriteMode);

// The text of one item of the program's version record (see
// VersionInfoKey for the item codes); empty when it cannot be read.
std::string GetVersionInfoItem(unsigned item);
// The program's version record: the executable's own on Windows, the
// embedded one elsewhere.
std::vector<uint8_t> ReadProgramVersionRecord();

// The version information window, made once at start-up and kept.
class TAboutBox : public QDialog {
  Q_OBJECT
 public:
  explicit TAboutBox(QWidget* owner = nullptr);
  // Filled from the given record instead of the program's (tests).
  TAboutBox(QWidget* owner, const std::vector<uint8_t>& record);

  QLabel* ProgramIcon = nullptr;
  QLabel* ProductName = nullptr;
  QLabel* Version = nullptr;
  QLabel* Copyright = nullptr;
  QLabel* Comments = nullptr;
  QLabel* Image1 = nullptr;
  QPushButton* OKButton = nullptr;

 private:
  void Build(const std::vector<uint8_t>& record);
};
