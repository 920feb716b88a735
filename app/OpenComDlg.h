// The serial port dialog of the start-up, and the COM port setting dialog of
// the maintenance menu.
#pragma once
#include <cstdint>
#include <string>

#include <QDialog>

#include "link/Ui.h"

class ISerialPortLister;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFileSystemWatcher;
class QGroupBox;
class QLabel;
class QListWidget;
class QMouseEvent;
class QPushButton;
class QTimer;

// Device-change event code for "device nodes changed"; every other code is
// ignored.
inline constexpr int kDeviceNodesChanged = 7;

// The port list, the line-speed selector (hidden), the write-speed selector
// (shown by Ctrl + double-click), Auto Check and the re-write setting. Ends
// with kModalOk ("Open"), kModalTypeChange (TCP/IP) or kModalCancel.
class TOpenCom1Dlg : public QDialog {
  Q_OBJECT
 public:
  // Filled as SelectComPort opens it: ports from lister, the setup's port
  // preselected. reWriteMode is the controller's flag, changed by the
  // re-write setting while the dialog is open.
  TOpenCom1Dlg(QWidget* owner, ISerialPortLister& lister, const TSerialPortDialogSetup& setup,
               int32_t& reWriteMode);

  // What the operator chose, read after the dialog has closed.
  TSerialPortChoice Choice(int modalResult) const;

  // Refills the list from the lister; nothing is selected afterwards.
  void RefreshPortList();
  // The system reported a device change.
  void DeviceChange(int eventCode);

  QLabel* Label1 = nullptr;
  QLabel* STComPort = nullptr;
  QListWidget* LBComPort = nullptr;
  QPushButton* Button1 = nullptr;
  QPushButton* MnBtErr = nullptr;
  QGroupBox* RGComSpeed = nullptr;
  QButtonGroup* RGComSpeedItems = nullptr;
  QLabel* StaticText1 = nullptr;
  QComboBox* CB_WrSpeed = nullptr;
  QCheckBox* CBAutoCheck = nullptr;
  QPushButton* OKBtn = nullptr;
  QPushButton* CancelBtn = nullptr;
  QPushButton* TypeChgBtn = nullptr;

 public slots:
  void LBComPortClick();
  // Only with Ctrl held: shows or hides the write-speed selector.
  void LBComPortDblClick(bool ctrlHeld);
  void Button1Click();
  void MnBtErrClick();
  void reject() override;

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
#ifdef Q_OS_WIN
  bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
#endif

 private:
  void FillPorts();

  ISerialPortLister& FLister;
  int32_t& FReWriteMode;
  QFileSystemWatcher* FDeviceWatcher = nullptr;
  QTimer* FDeviceSettle = nullptr;
};

// Choosing a COM port from the serial component's port list.
class TPortSetDlg : public QDialog {
  Q_OBJECT
 public:
  TPortSetDlg(QWidget* owner, ISerialPortLister& lister);
  // Lists the ports and selects the one the serial component uses now.
  void BindPort(const std::string& currentPortName);
  std::string PortName() const;

  QComboBox* ComComboBox1 = nullptr;
  QPushButton* BTCheckPort = nullptr;
  QPushButton* OKBtn = nullptr;
  QPushButton* CancelBtn = nullptr;

 public slots:
  void BTCheckPortClick();
  void reject() override;

 private:
  ISerialPortLister& FLister;
};
