#include "app/OpenComDlg.h"

#include <algorithm>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFileSystemWatcher>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

#include "app/InfoDialogs.h"
#include "app/Platform.h"
#include "link/EnumCom.h"

namespace {

constexpr QSize kOpenComSize(365, 257);
constexpr QSize kPortSetSize(322, 107);
constexpr QSize kButtonSize(75, 25);

const char kCaption[] = "シリアルポートのオープン";
const char kCaptionReWrite[] = "シリアルポートのオープン［再書込みモード］";
const char* const kSpeedItems[] = {"9600bps", "19.2kbps", "38.4kbps", "115.2kbps"};
constexpr int kSpeedItemCount = 4;

// Where the serial devices appear, and how long to let a burst of changes
// (a USB adapter brings several nodes and links) settle before listing.
const char kDeviceFolder[] = "/dev";
constexpr int kDeviceSettleMs = 250;

QPushButton* Button(QWidget* parent, const char* name, const char* text, QRect geometry) {
  auto* b = new QPushButton(QString::fromUtf8(text), parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setGeometry(geometry);
  return b;
}

// The entries of the present ports, alphabetical by text, letter case ignored.
QStringList PortEntries(ISerialPortLister& lister) {
  TEnumCom ports(lister);
  ports.EnumPorts();
  QStringList entries;
  for (int i = 0; i < ports.Count(); ++i)
    entries << QString::fromStdString(PortEntryText(ports.Port(i)));
  std::stable_sort(entries.begin(), entries.end(), [](const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseInsensitive) < 0;
  });
  return entries;
}

}  // namespace

// ---- TOpenCom1Dlg -------------------------------------------------------

TOpenCom1Dlg::TOpenCom1Dlg(QWidget* owner, ISerialPortLister& lister,
                           const TSerialPortDialogSetup& setup, int32_t& reWriteMode)
    : QDialog(owner), FLister(lister), FReWriteMode(reWriteMode) {
  setWindowTitle(QStringLiteral("ダイアログ"));
  setFixedSize(kOpenComSize);

  Label1 = new QLabel(QStringLiteral("COMポート"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(16, 12, 70, 20);
  STComPort = new QLabel(this);
  STComPort->setObjectName(QStringLiteral("STComPort"));
  STComPort->setGeometry(92, 10, 258, 22);
  STComPort->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  STComPort->setAlignment(Qt::AlignCenter);

  LBComPort = new QListWidget(this);
  LBComPort->setObjectName(QStringLiteral("LBComPort"));
  LBComPort->setGeometry(16, 38, 334, 108);
  LBComPort->setSelectionMode(QAbstractItemView::SingleSelection);
  LBComPort->viewport()->installEventFilter(this);
  connect(LBComPort, &QListWidget::itemClicked, this, &TOpenCom1Dlg::LBComPortClick);
  connect(LBComPort, &QListWidget::currentRowChanged, this, &TOpenCom1Dlg::LBComPortClick);

  Button1 = Button(this, "Button1", "ポートの確認...", QRect(16, 154, 112, 25));
  connect(Button1, &QPushButton::clicked, this, &TOpenCom1Dlg::Button1Click);
  MnBtErr = Button(this, "MnBtErr", "再書き込み設定...", QRect(134, 154, 122, 25));
  connect(MnBtErr, &QPushButton::clicked, this, &TOpenCom1Dlg::MnBtErrClick);
  CBAutoCheck = new QCheckBox(QStringLiteral("Auto Check"), this);
  CBAutoCheck->setObjectName(QStringLiteral("CBAutoCheck"));
  CBAutoCheck->setGeometry(264, 156, 90, 22);

  RGComSpeed = new QGroupBox(this);
  RGComSpeed->setObjectName(QStringLiteral("RGComSpeed"));
  RGComSpeed->setGeometry(16, 184, 334, 30);
  RGComSpeedItems = new QButtonGroup(this);
  for (int i = 0; i < kSpeedItemCount; ++i) {
    auto* item = new QRadioButton(QString::fromLatin1(kSpeedItems[i]), RGComSpeed);
    item->setGeometry(6 + 82 * i, 6, 80, 20);
    RGComSpeedItems->addButton(item, i);
  }
  RGComSpeed->setVisible(false);

  StaticText1 = new QLabel(QStringLiteral("書込スピード"), this);
  StaticText1->setObjectName(QStringLiteral("StaticText1"));
  StaticText1->setGeometry(16, 190, 80, 20);
  CB_WrSpeed = new QComboBox(this);
  CB_WrSpeed->setObjectName(QStringLiteral("CB_WrSpeed"));
  CB_WrSpeed->setGeometry(100, 188, 110, 22);

  TypeChgBtn = Button(this, "TypeChgBtn", "TCP/IPタイプに切り替え", QRect(16, 222, 166, 25));
  connect(TypeChgBtn, &QPushButton::clicked, this, [this] { done(kModalTypeChange); });
  OKBtn = Button(this, "OKBtn", "Open", QRect(QPoint(192, 222), kButtonSize));
  OKBtn->setDefault(true);
  connect(OKBtn, &QPushButton::clicked, this, [this] { done(kModalOk); });
  CancelBtn = Button(this, "CancelBtn", "キャンセル", QRect(QPoint(275, 222), kButtonSize));
  connect(CancelBtn, &QPushButton::clicked, this, &TOpenCom1Dlg::reject);

  // As SelectComPort opens it.
  setWindowTitle(QString::fromUtf8(kCaption));
  CBAutoCheck->setChecked(false);
  for (const char* item : kSpeedItems) CB_WrSpeed->addItem(QString::fromLatin1(item));
  CB_WrSpeed->setCurrentIndex(setup.WriteSpeedItem >= 0 && setup.WriteSpeedItem < kSpeedItemCount
                                  ? setup.WriteSpeedItem
                                  : -1);
  StaticText1->setVisible(false);
  CB_WrSpeed->setVisible(false);

  FillPorts();
  const QString wanted = QString::fromStdString(setup.PortName);
  for (int i = 0; i < LBComPort->count(); ++i) {
    if (QString::fromStdString(EntryPortName(LBComPort->item(i)->text().toStdString())) == wanted) {
      LBComPort->setCurrentRow(i);
      break;
    }
  }
  if (LBComPort->currentRow() < 0 && LBComPort->count() > 0) LBComPort->setCurrentRow(0);
  STComPort->setText(LBComPort->currentItem() ? LBComPort->currentItem()->text() : QString());
  if (QAbstractButton* speed = RGComSpeedItems->button(setup.SpeedItem)) speed->setChecked(true);

#ifndef Q_OS_WIN
  FDeviceSettle = new QTimer(this);
  FDeviceSettle->setSingleShot(true);
  FDeviceSettle->setInterval(kDeviceSettleMs);
  connect(FDeviceSettle, &QTimer::timeout, this, [this] { DeviceChange(kDeviceNodesChanged); });
  FDeviceWatcher = new QFileSystemWatcher(QStringList{QString::fromLatin1(kDeviceFolder)}, this);
  connect(FDeviceWatcher, &QFileSystemWatcher::directoryChanged, FDeviceSettle,
          qOverload<>(&QTimer::start));
#endif
}

void TOpenCom1Dlg::FillPorts() {
  LBComPort->clear();
  LBComPort->addItems(PortEntries(FLister));
}

TSerialPortChoice TOpenCom1Dlg::Choice(int modalResult) const {
  TSerialPortChoice c;
  c.ModalResult = modalResult;
  for (int i = 0; i < LBComPort->count(); ++i)
    c.Entries.push_back(LBComPort->item(i)->text().toStdString());
  const QListWidgetItem* current = LBComPort->currentItem();
  c.Selected = current && current->isSelected() ? LBComPort->currentRow() : -1;
  c.AutoCheck = CBAutoCheck->isChecked();
  c.SpeedItem = RGComSpeedItems->checkedId();
  c.WriteSpeedItem = CB_WrSpeed->currentIndex();
  return c;
}

void TOpenCom1Dlg::RefreshPortList() {
  // The box keeps its text; the list has no selection until one is clicked.
  const QSignalBlocker block(LBComPort);
  FillPorts();
  LBComPort->setCurrentRow(-1);
  LBComPort->clearSelection();
}

void TOpenCom1Dlg::DeviceChange(int eventCode) {
  if (eventCode == kDeviceNodesChanged) RefreshPortList();
}

void TOpenCom1Dlg::LBComPortClick() {
  if (const QListWidgetItem* item = LBComPort->currentItem()) STComPort->setText(item->text());
}

void TOpenCom1Dlg::LBComPortDblClick(bool ctrlHeld) {
  if (!ctrlHeld) return;
  const bool show = StaticText1->isHidden();
  StaticText1->setVisible(show);
  CB_WrSpeed->setVisible(show);
}

void TOpenCom1Dlg::Button1Click() {
  OpenSettingsPanel(TSettingsPanel::DeviceManager, this);
}

void TOpenCom1Dlg::MnBtErrClick() {
  if (!RunReWriteSetting(this, FReWriteMode)) return;
  if (FReWriteMode) {
    CBAutoCheck->setChecked(false);
    CBAutoCheck->setEnabled(false);
    setWindowTitle(QString::fromUtf8(kCaptionReWrite));
  } else {
    CBAutoCheck->setEnabled(true);
    setWindowTitle(QString::fromUtf8(kCaption));
  }
}

void TOpenCom1Dlg::reject() {
  done(kModalCancel);
}

void TOpenCom1Dlg::mouseDoubleClickEvent(QMouseEvent* event) {
  LBComPortDblClick(event->modifiers() & Qt::ControlModifier);
  QDialog::mouseDoubleClickEvent(event);
}

bool TOpenCom1Dlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == LBComPort->viewport() && event->type() == QEvent::MouseButtonDblClick)
    LBComPortDblClick(static_cast<QMouseEvent*>(event)->modifiers() & Qt::ControlModifier);
  return QDialog::eventFilter(watched, event);
}

#ifdef Q_OS_WIN
bool TOpenCom1Dlg::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
  const MSG* msg = static_cast<const MSG*>(message);
  if (msg->message == WM_DEVICECHANGE) DeviceChange(static_cast<int>(msg->wParam));
  return QDialog::nativeEvent(eventType, message, result);
}
#endif

// ---- TPortSetDlg --------------------------------------------------------

TPortSetDlg::TPortSetDlg(QWidget* owner, ISerialPortLister& lister)
    : QDialog(owner), FLister(lister) {
  setWindowTitle(QStringLiteral("COMポートの設定"));
  setFixedSize(kPortSetSize);
  ComComboBox1 = new QComboBox(this);
  ComComboBox1->setObjectName(QStringLiteral("ComComboBox1"));
  ComComboBox1->setEditable(false);
  ComComboBox1->setGeometry(16, 16, 170, 24);
  BTCheckPort = Button(this, "BTCheckPort", "ポートの確認...", QRect(196, 16, 112, 25));
  connect(BTCheckPort, &QPushButton::clicked, this, &TPortSetDlg::BTCheckPortClick);
  OKBtn = Button(this, "OKBtn", "設定", QRect(QPoint(150, 70), kButtonSize));
  OKBtn->setDefault(true);
  connect(OKBtn, &QPushButton::clicked, this, [this] { done(kModalOk); });
  CancelBtn = Button(this, "CancelBtn", "キャンセル", QRect(QPoint(233, 70), kButtonSize));
  connect(CancelBtn, &QPushButton::clicked, this, &TPortSetDlg::reject);
}

void TPortSetDlg::BindPort(const std::string& currentPortName) {
  TEnumCom ports(FLister);
  ports.EnumPorts();
  ComComboBox1->clear();
  for (int i = 0; i < ports.Count(); ++i)
    ComComboBox1->addItem(QString::fromStdString(ports.Port(i).PortName));
  ComComboBox1->setCurrentIndex(ComComboBox1->findText(QString::fromStdString(currentPortName)));
}

std::string TPortSetDlg::PortName() const {
  return ComComboBox1->currentText().toStdString();
}

void TPortSetDlg::BTCheckPortClick() {
  OpenSettingsPanel(TSettingsPanel::DeviceManager, this);
}

void TPortSetDlg::reject() {
  done(kModalCancel);
}
