// The TCP/IP address dialog: client or server mode, the interface board's
// address and the ports, with the PC's own addresses and masks listed so that
// the board's address is picked in the right network.
#pragma once
#include <cstdint>
#include <vector>

#include <QColor>
#include <QDialog>

#include "app/Platform.h"
#include "link/ComPara.h"
#include "link/Ui.h"

class QButtonGroup;
class QCloseEvent;
class QGroupBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTableWidget;

// The grid's highlight of the selected row (0xFFFF00 in blue-green-red).
inline const QColor kSelectedRowColor(0, 255, 255);
// The two hints under the port fields.
inline constexpr char kDefaultHint2Address[] = "192.168.0.200";

class TSetIPAddr1Dlg : public QDialog {
  Q_OBJECT
 public:
  TSetIPAddr1Dlg(QWidget* owner, ILocalAddressSource& addresses, const tagTCPIPPara& para,
                 int32_t& reWriteMode);

  // What the operator chose, read after the dialog has closed.
  TTcpIpChoice Choice(int modalResult) const;

  // Grid rows including the header row.
  int GridRowCount() const;
  // The background a grid row (from 1) is drawn with.
  QColor RowBackground(int row) const;
  // Selected radio item of RGIPMode, -1 for none.
  int IPModeIndex() const;
  void SetIPModeIndex(int index);

  QButtonGroup* RGIPModeItems = nullptr;
  QGroupBox* RGIPMode = nullptr;
  QGroupBox* GroupBox1 = nullptr;
  QLabel* Label5 = nullptr;
  QSpinBox* Ed_CIP1 = nullptr;
  QSpinBox* Ed_CIP2 = nullptr;
  QSpinBox* Ed_CIP3 = nullptr;
  QSpinBox* Ed_CIP4 = nullptr;
  QLabel* Label1 = nullptr;
  QSpinBox* Ed_CPortNum = nullptr;
  QPushButton* Button1 = nullptr;
  QLabel* Label9 = nullptr;
  QSpinBox* Ed_SPortNum = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label10 = nullptr;
  QTableWidget* StringGrid1 = nullptr;
  QPushButton* BtNetwork = nullptr;
  QPushButton* BtReWrite = nullptr;
  QPushButton* OKBtn = nullptr;
  QPushButton* CancelBtn = nullptr;
  QPushButton* TypeChgBtn = nullptr;

  std::vector<TLocalAddress> FAddrList;
  int32_t FSelRow = 0;
  int32_t FUnmasked = 0;
  tagTCPIPPara FTcpPara;

 public slots:
  // row counts from 1 (row 0 is the header).
  void StringGrid1Click(int row);
  void RGIPModeClick();
  void Button1Click();
  void BtNetworkClick();
  void BtReWriteClick();
  void OKBtnClick();
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void LoadLocalAddresses(std::vector<TLocalAddress>& list);
  QSpinBox* AddressField(int i) const;
  // Each address field disabled where the mask byte is 255.
  void ApplyMask(uint32_t mask);

  ILocalAddressSource& FAddressSource;
  int32_t& FReWriteMode;
};
