#include "app/SetIPAddrDlg.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyledItemDelegate>
#include <QTableWidget>

#include "app/InfoDialogs.h"
#include "link/IpAddress.h"

namespace {

constexpr QSize kDialogSize(454, 391);
constexpr QSize kButtonSize(75, 25);
constexpr int kAddressFieldMax = 255;
constexpr int kPortFieldMax = 64000;
constexpr int kGridColumn0Width = 225;
constexpr int kGridColumn1Width = 175;
constexpr int kHintFontPx = 16;
constexpr int kTextIndentPx = 2;
constexpr uint32_t kLoopback = 0x0100007F;  // 127.0.0.1 in network byte order

const char kCaption[] = "TCP/IP のオープン";
const char kCaptionReWrite[] = "TCP/IP のオープン［再書込みモード］";

QPushButton* Button(QWidget* parent, const char* name, const char* text, QRect geometry) {
  auto* b = new QPushButton(QString::fromUtf8(text), parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setGeometry(geometry);
  return b;
}

QSpinBox* Field(QWidget* parent, const char* name, int max, QRect geometry) {
  auto* f = new QSpinBox(parent);
  f->setObjectName(QString::fromLatin1(name));
  f->setRange(0, max);
  f->setGeometry(geometry);
  return f;
}

QLabel* Text(QWidget* parent, const char* name, const char* text, QRect geometry) {
  auto* l = new QLabel(QString::fromUtf8(text), parent);
  l->setObjectName(QString::fromLatin1(name));
  l->setGeometry(geometry);
  return l;
}

// Draws the address rows: the selected one cyan, black text 2 pixels in
// from the left edge, at the top.
class TGridCellDelegate : public QStyledItemDelegate {
 public:
  explicit TGridCellDelegate(TSetIPAddr1Dlg* dlg) : QStyledItemDelegate(dlg), FDlg(dlg) {}
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    painter->save();
    painter->fillRect(option.rect, FDlg->RowBackground(index.row() + 1));
    painter->setPen(Qt::black);
    painter->drawText(option.rect.adjusted(kTextIndentPx, 0, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                      index.data().toString());
    painter->restore();
  }

 private:
  TSetIPAddr1Dlg* FDlg;
};

}  // namespace

TSetIPAddr1Dlg::TSetIPAddr1Dlg(QWidget* owner, ILocalAddressSource& addresses,
                               const tagTCPIPPara& para, int32_t& reWriteMode)
    : QDialog(owner), FAddressSource(addresses), FReWriteMode(reWriteMode) {
  setWindowTitle(QString::fromUtf8(kCaption));
  setFixedSize(kDialogSize);

  RGIPMode = new QGroupBox(QStringLiteral("TCP/IP動作モード（PC側）"), this);
  RGIPMode->setObjectName(QStringLiteral("RGIPMode"));
  RGIPMode->setGeometry(12, 8, 430, 48);
  RGIPModeItems = new QButtonGroup(this);
  const char* modes[] = {"クライアント", "サーバー"};
  for (int i = 0; i < 2; ++i) {
    auto* item = new QRadioButton(QString::fromUtf8(modes[i]), RGIPMode);
    item->setGeometry(16 + 150 * i, 20, 140, 22);
    RGIPModeItems->addButton(item, i);
  }
  connect(RGIPModeItems, &QButtonGroup::idClicked, this, &TSetIPAddr1Dlg::RGIPModeClick);

  GroupBox1 = new QGroupBox(QStringLiteral("接続先"), this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1->setGeometry(12, 62, 430, 132);
  Label5 = Text(GroupBox1, "Label5", "IPアドレス", QRect(12, 22, 120, 18));
  Ed_CIP1 = Field(GroupBox1, "Ed_CIP1", kAddressFieldMax, QRect(12, 42, 60, 24));
  Text(GroupBox1, "Label6", ":", QRect(76, 44, 8, 20));
  Ed_CIP2 = Field(GroupBox1, "Ed_CIP2", kAddressFieldMax, QRect(86, 42, 60, 24));
  Text(GroupBox1, "Label7", ":", QRect(150, 44, 8, 20));
  Ed_CIP3 = Field(GroupBox1, "Ed_CIP3", kAddressFieldMax, QRect(160, 42, 60, 24));
  Text(GroupBox1, "Label8", ":", QRect(224, 44, 8, 20));
  Ed_CIP4 = Field(GroupBox1, "Ed_CIP4", kAddressFieldMax, QRect(234, 42, 60, 24));
  Label1 = Text(GroupBox1, "Label1", "ポート番号", QRect(12, 72, 120, 18));
  Ed_CPortNum = Field(GroupBox1, "Ed_CPortNum", kPortFieldMax, QRect(12, 92, 90, 24));
  Button1 = Button(GroupBox1, "Button1", "マスク解除", QRect(110, 92, 90, 25));
  connect(Button1, &QPushButton::clicked, this, &TSetIPAddr1Dlg::Button1Click);
  Label9 = Text(GroupBox1, "Label9", "ポート番号", QRect(310, 22, 110, 18));
  Ed_SPortNum = Field(GroupBox1, "Ed_SPortNum", kPortFieldMax, QRect(310, 42, 100, 24));

  const QString hint1 = QStringLiteral("Default1:  ") + QString::fromLatin1(kDefaultIfbAddress) +
                        QStringLiteral("(10777)");
  const QString hint2 = QStringLiteral("Default2:  ") + QString::fromLatin1(kDefaultHint2Address) +
                        QStringLiteral("(9004)");
  Label2 = new QLabel(hint1, this);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->setGeometry(16, 198, 300, 20);
  Label3 = new QLabel(hint2, this);
  Label3->setObjectName(QStringLiteral("Label3"));
  Label3->setGeometry(16, 218, 300, 20);
  for (QLabel* hint : {Label2, Label3}) {
    QFont f = hint->font();
    f.setPixelSize(kHintFontPx);
    hint->setFont(f);
  }

  Label10 = Text(this, "Label10", "ＰＣのTCP/IPの設定", QRect(16, 242, 200, 18));
  StringGrid1 = new QTableWidget(0, 2, this);
  StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
  StringGrid1->setGeometry(16, 262, 424, 84);
  StringGrid1->setHorizontalHeaderLabels(
      {QStringLiteral("IP Address"), QStringLiteral("NET MASK")});
  StringGrid1->verticalHeader()->setVisible(false);
  StringGrid1->setColumnWidth(0, kGridColumn0Width);
  StringGrid1->setColumnWidth(1, kGridColumn1Width);
  StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  StringGrid1->setSelectionMode(QAbstractItemView::NoSelection);
  StringGrid1->setFocusPolicy(Qt::NoFocus);
  StringGrid1->setItemDelegate(new TGridCellDelegate(this));
  connect(StringGrid1, &QTableWidget::cellClicked, this,
          [this](int row, int) { StringGrid1Click(row + 1); });

  BtNetwork = Button(this, "BtNetwork", "ネットワーク接続...", QRect(330, 236, 110, 25));
  connect(BtNetwork, &QPushButton::clicked, this, &TSetIPAddr1Dlg::BtNetworkClick);
  BtReWrite = Button(this, "BtReWrite", "再書き込み設定....", QRect(330, 200, 110, 25));
  connect(BtReWrite, &QPushButton::clicked, this, &TSetIPAddr1Dlg::BtReWriteClick);
  TypeChgBtn = Button(this, "TypeChgBtn", "USBタイプに切り替え", QRect(16, 356, 150, 25));
  connect(TypeChgBtn, &QPushButton::clicked, this, [this] { done(kModalTypeChange); });
  OKBtn = Button(this, "OKBtn", "接続", QRect(QPoint(282, 356), kButtonSize));
  OKBtn->setDefault(true);
  connect(OKBtn, &QPushButton::clicked, this, &TSetIPAddr1Dlg::OKBtnClick);
  CancelBtn = Button(this, "CancelBtn", "キャンセル", QRect(QPoint(365, 356), kButtonSize));
  connect(CancelBtn, &QPushButton::clicked, this, &TSetIPAddr1Dlg::reject);

  // Fill from the parameters.
  FTcpPara = para;
  FSelRow = 0;
  FUnmasked = 0;
  const uint32_t target = DottedToAddr(para.TCPServAddr);
  LoadLocalAddresses(FAddrList);
  StringGrid1->setRowCount(static_cast<int>(FAddrList.size()));
  for (size_t k = 0; k < FAddrList.size(); ++k) {
    const int row = static_cast<int>(k);
    StringGrid1->setItem(
        row, 0, new QTableWidgetItem(QString::fromStdString(AddrToDotted(FAddrList[k].Addr))));
    StringGrid1->setItem(
        row, 1, new QTableWidgetItem(QString::fromStdString(AddrToDotted(FAddrList[k].Mask))));
  }
  // The last entry in the target's network is selected; the fourth byte is
  // never compared.
  for (size_t k = 0; k < FAddrList.size(); ++k) {
    const TLocalAddress& e = FAddrList[k];
    if (e.Mask == 0) continue;
    bool match = true;
    for (int i = 0; i < 3; ++i)
      if (AddrByte(e.Mask, i) == 255 && AddrByte(e.Addr, i) != AddrByte(target, i)) match = false;
    if (match) FSelRow = static_cast<int32_t>(k) + 1;
  }
  if (!FAddrList.empty()) {
    SetIPModeIndex(para.fTCPServer);
    RGIPModeClick();
    Ed_SPortNum->setValue(para.TCPPort);
    Ed_CPortNum->setValue(para.TCPServPort);
    for (int i = 0; i < 4; ++i) AddressField(i)->setValue(AddrByte(target, i));
    // Disabled after the mask of the last listed entry, whichever row is selected.
    for (int i = 0; i < 4; ++i)
      if (AddrByte(FAddrList.back().Mask, i) == 255) AddressField(i)->setEnabled(false);
  }
  StringGrid1->viewport()->update();
}

void TSetIPAddr1Dlg::LoadLocalAddresses(std::vector<TLocalAddress>& list) {
  std::vector<TLocalAddress> table;
  if (!FAddressSource.LoadAddresses(table)) return;
  for (const TLocalAddress& row : table)
    if (row.Addr != kLoopback) list.push_back(row);
}

QSpinBox* TSetIPAddr1Dlg::AddressField(int i) const {
  QSpinBox* const fields[] = {Ed_CIP1, Ed_CIP2, Ed_CIP3, Ed_CIP4};
  return fields[i];
}

int TSetIPAddr1Dlg::GridRowCount() const {
  return StringGrid1->rowCount() + 1;
}

QColor TSetIPAddr1Dlg::RowBackground(int row) const {
  return row == FSelRow ? kSelectedRowColor : StringGrid1->palette().color(QPalette::Base);
}

int TSetIPAddr1Dlg::IPModeIndex() const {
  return RGIPModeItems->checkedId();
}

void TSetIPAddr1Dlg::SetIPModeIndex(int index) {
  if (QAbstractButton* item = RGIPModeItems->button(index)) {
    item->setChecked(true);
    return;
  }
  // Out of range: no item selected.
  RGIPModeItems->setExclusive(false);
  for (QAbstractButton* item : RGIPModeItems->buttons()) item->setChecked(false);
  RGIPModeItems->setExclusive(true);
}

void TSetIPAddr1Dlg::ApplyMask(uint32_t mask) {
  for (int i = 0; i < 4; ++i) AddressField(i)->setEnabled(AddrByte(mask, i) != 255);
}

void TSetIPAddr1Dlg::StringGrid1Click(int row) {
  FSelRow = row;
  StringGrid1->viewport()->update();
  if (GridRowCount() < 2 || FUnmasked != 0) return;
  if (row < 1 || row > static_cast<int>(FAddrList.size())) return;
  const TLocalAddress& e = FAddrList[static_cast<size_t>(row - 1)];
  for (int i = 0; i < 4; ++i) AddressField(i)->setValue(AddrByte(e.Addr, i));
  ApplyMask(e.Mask);
}

void TSetIPAddr1Dlg::RGIPModeClick() {
  const bool client = IPModeIndex() == 0;
  Ed_CPortNum->setEnabled(client);
  Ed_SPortNum->setEnabled(!client);
}

void TSetIPAddr1Dlg::Button1Click() {
  for (int i = 0; i < 4; ++i) AddressField(i)->setEnabled(true);
  FUnmasked = 1;
}

void TSetIPAddr1Dlg::BtNetworkClick() {
  OpenSettingsPanel(TSettingsPanel::NetworkConnections, this);
}

void TSetIPAddr1Dlg::BtReWriteClick() {
  if (!RunReWriteSetting(this, FReWriteMode)) return;
  setWindowTitle(QString::fromUtf8(FReWriteMode ? kCaptionReWrite : kCaption));
}

void TSetIPAddr1Dlg::OKBtnClick() {
  FTcpPara.fTCPServer = IPModeIndex();
  FTcpPara.TCPPort = Ed_SPortNum->value();
  FTcpPara.TCPServPort = Ed_CPortNum->value();
  FTcpPara.TCPServAddr = AddrToDotted(
      MakeAddr(Ed_CIP1->value(), Ed_CIP2->value(), Ed_CIP3->value(), Ed_CIP4->value()));
  done(kModalOk);
}

void TSetIPAddr1Dlg::reject() {
  done(kModalCancel);
}

void TSetIPAddr1Dlg::closeEvent(QCloseEvent* event) {
  FAddrList.clear();
  event->accept();
}

TTcpIpChoice TSetIPAddr1Dlg::Choice(int modalResult) const {
  TTcpIpChoice c;
  c.ModalResult = modalResult;
  c.Para = FTcpPara;
  c.LocalAddressListed = GridRowCount() >= 2;
  return c;
}
