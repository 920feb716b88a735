// The connection dialogs and the small windows on real widgets (offscreen):
// the address grid and its field rules, the serial dialog's list, Ctrl +
// double-click, device changes and re-write captions, the confirmation
// window's wait flag, the re-write advice, the version window; and the main
// window's start-up through the real dialogs in virtual time.
#include <gtest/gtest.h>

#include <deque>
#include <functional>

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include "app/FormUi.h"
#include "app/InfoDialogs.h"
#include "app/IniFile.h"
#include "app/OpenComDlg.h"
#include "app/Platform.h"
#include "app/SetIPAddrDlg.h"
#include "app/Simulate.h"
#include "app/TRXProgAppForm.h"
#include "link/FlashWrRXCont.h"
#include "link/IpAddress.h"
#include "link/PortNames.h"
#include "link/VersionRecord.h"
#include "sim/InProcessLink.h"
#include "sim/VirtualHost.h"
#include "sim/reader/SimReader.h"
#include "support/FixedPorts.h"
#include "support/WidgetsApp.h"

namespace {

const auto* const kEnvironment = AddWidgetsEnvironment("test_dialogs", {.MapFonts = true});

// Acts on modal windows as they come up: each step gets the top modal widget
// and says whether it handled it (a step waiting for another kind of window
// says no and is asked again).
class TModalScript {
 public:
  using TStep = std::function<bool(QWidget*)>;
  explicit TModalScript(std::deque<TStep> steps) : FSteps(std::move(steps)) {
    FTimer.setInterval(5);
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      QWidget* top = QApplication::activeModalWidget();
      if (!top || FSteps.empty()) return;
      Seen << top->metaObject()->className();
      if (FSteps.front()(top)) FSteps.pop_front();
    });
    FTimer.start();
  }
  bool Done() const { return FSteps.empty(); }
  QStringList Seen;

 private:
  std::deque<TStep> FSteps;
  QTimer FTimer;
};

template <typename T>
TModalScript::TStep On(std::function<void(T*)> act) {
  return [act](QWidget* w) {
    auto* t = qobject_cast<T*>(w);
    if (!t) return false;
    act(t);
    return true;
  };
}

class TFixedAddresses : public ILocalAddressSource {
 public:
  bool LoadAddresses(std::vector<TLocalAddress>& list) override {
    list.insert(list.end(), Rows.begin(), Rows.end());
    return true;
  }
  void Add(const char* addr, const char* mask) {
    Rows.push_back({DottedToAddr(addr), DottedToAddr(mask)});
  }
  std::vector<TLocalAddress> Rows;
};

std::vector<int> Fields(const TSetIPAddr1Dlg& d) {
  return {d.Ed_CIP1->value(), d.Ed_CIP2->value(), d.Ed_CIP3->value(), d.Ed_CIP4->value()};
}
std::vector<bool> Enabled(const TSetIPAddr1Dlg& d) {
  return {d.Ed_CIP1->isEnabled(), d.Ed_CIP2->isEnabled(), d.Ed_CIP3->isEnabled(),
          d.Ed_CIP4->isEnabled()};
}

void ClickGridRow(TSetIPAddr1Dlg& d, int row) {
  QTableWidget* g = d.StringGrid1;
  const QRect cell = g->visualRect(g->model()->index(row - 1, 0));
  QTest::mouseClick(g->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
}

QColor PixelOfRow(TSetIPAddr1Dlg& d, int row) {
  QTableWidget* g = d.StringGrid1;
  const QRect cell = g->visualRect(g->model()->index(row - 1, 0));
  const QImage img = g->viewport()->grab().toImage();
  return img.pixelColor(cell.left() + cell.width() - 4, cell.center().y());
}

// ---- TSetIPAddr1Dlg -------------------------------------------------------

struct TAddressDialogTest : ::testing::Test {
  TFixedAddresses Addresses;
  int32_t ReWrite = 0;
  tagTCPIPPara Para{10777, 0, 9004, "192.168.1.7"};

  void SetUp() override {
    Addresses.Add("127.0.0.1", "255.0.0.0");  // never listed
    Addresses.Add("192.168.1.20", "255.255.255.0");
    Addresses.Add("10.0.0.5", "255.0.0.0");
  }
};

TEST_F(TAddressDialogTest, GridSelectsTheTargetsNetworkAndMasksAfterTheLastRow) {
  TSetIPAddr1Dlg d(nullptr, Addresses, Para, ReWrite);
  d.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
  EXPECT_EQ(d.windowTitle(), "TCP/IP のオープン");
  EXPECT_EQ(d.GridRowCount(), 3);
  EXPECT_EQ(d.StringGrid1->item(0, 0)->text(), "192.168.1.20");
  EXPECT_EQ(d.StringGrid1->item(1, 1)->text(), "255.0.0.0");
  EXPECT_EQ(d.StringGrid1->horizontalHeaderItem(1)->text(), "NET MASK");

  EXPECT_EQ(d.FSelRow, 1);
  EXPECT_EQ(PixelOfRow(d, 1), kSelectedRowColor);
  EXPECT_NE(PixelOfRow(d, 2), kSelectedRowColor);
  EXPECT_EQ(Fields(d), (std::vector<int>{192, 168, 1, 7}));
  // The mask of the last row (255.0.0.0) decides, not the selected row's.
  EXPECT_EQ(Enabled(d), (std::vector<bool>{false, true, true, true}));
  EXPECT_EQ(d.IPModeIndex(), 0);
  EXPECT_TRUE(d.Ed_CPortNum->isEnabled());
  EXPECT_FALSE(d.Ed_SPortNum->isEnabled());
  EXPECT_EQ(d.Ed_CPortNum->value(), 9004);
  EXPECT_EQ(d.Ed_SPortNum->value(), 10777);

  ClickGridRow(d, 2);
  EXPECT_EQ(d.FSelRow, 2);
  EXPECT_EQ(Fields(d), (std::vector<int>{10, 0, 0, 5}));
  EXPECT_EQ(Enabled(d), (std::vector<bool>{false, true, true, true}));
  EXPECT_EQ(PixelOfRow(d, 2), kSelectedRowColor);
  EXPECT_NE(PixelOfRow(d, 1), kSelectedRowColor);

  ClickGridRow(d, 1);
  EXPECT_EQ(Fields(d), (std::vector<int>{192, 168, 1, 20}));
  EXPECT_EQ(Enabled(d), (std::vector<bool>{false, false, false, true}));

  // After the mask release a click only moves the highlight.
  QTest::mouseClick(d.Button1, Qt::LeftButton);
  EXPECT_EQ(d.FUnmasked, 1);
  EXPECT_EQ(Enabled(d), (std::vector<bool>{true, true, true, true}));
  ClickGridRow(d, 2);
  EXPECT_EQ(d.FSelRow, 2);
  EXPECT_EQ(Fields(d), (std::vector<int>{192, 168, 1, 20}));
  EXPECT_EQ(Enabled(d), (std::vector<bool>{true, true, true, true}));
}

TEST_F(TAddressDialogTest, ModeSwitchAndConnectTakeTheFieldsAsTheyAre) {
  int result = -1;
  TSetIPAddr1Dlg d(nullptr, Addresses, Para, ReWrite);
  auto* server = qobject_cast<QRadioButton*>(d.RGIPModeItems->button(1));
  auto* client = qobject_cast<QRadioButton*>(d.RGIPModeItems->button(0));
  ASSERT_EQ(server->text(), "サーバー");
  TModalScript script({On<TSetIPAddr1Dlg>([&](TSetIPAddr1Dlg* dlg) {
    QTest::mouseClick(server, Qt::LeftButton);
    EXPECT_FALSE(dlg->Ed_CPortNum->isEnabled());
    EXPECT_TRUE(dlg->Ed_SPortNum->isEnabled());
    QTest::mouseClick(client, Qt::LeftButton);
    EXPECT_TRUE(dlg->Ed_CPortNum->isEnabled());
    EXPECT_FALSE(dlg->Ed_SPortNum->isEnabled());
    QTest::mouseClick(server, Qt::LeftButton);
    dlg->Ed_SPortNum->setValue(4321);
    dlg->Ed_CIP4->setValue(99);
    QTest::mouseClick(dlg->OKBtn, Qt::LeftButton);
  })});
  result = d.exec();
  const TTcpIpChoice c = d.Choice(result);
  EXPECT_EQ(c.ModalResult, kModalOk);
  EXPECT_EQ(c.Para.fTCPServer, 1);
  EXPECT_EQ(c.Para.TCPPort, 4321);
  EXPECT_EQ(c.Para.TCPServPort, 9004);
  EXPECT_EQ(c.Para.TCPServAddr, "192.168.1.99");
  EXPECT_TRUE(c.LocalAddressListed);
}

TEST_F(TAddressDialogTest, WithoutLocalAddressesNothingIsSetAndTheChoiceSaysSo) {
  TFixedAddresses loopbackOnly;
  loopbackOnly.Add("127.0.0.1", "255.0.0.0");
  TSetIPAddr1Dlg d(nullptr, loopbackOnly, Para, ReWrite);
  EXPECT_EQ(d.GridRowCount(), 1);
  EXPECT_EQ(d.IPModeIndex(), -1);
  EXPECT_EQ(Fields(d), (std::vector<int>{0, 0, 0, 0}));
  EXPECT_EQ(d.Ed_CPortNum->value(), 0);
  EXPECT_FALSE(d.Choice(kModalOk).LocalAddressListed);

  // An unknown mode value selects no item: the server port field is the live one.
  Para.fTCPServer = 2;
  TSetIPAddr1Dlg odd(nullptr, Addresses, Para, ReWrite);
  EXPECT_EQ(odd.IPModeIndex(), -1);
  EXPECT_FALSE(odd.Ed_CPortNum->isEnabled());
  EXPECT_TRUE(odd.Ed_SPortNum->isEnabled());
  // Text that is no dotted address targets 255.255.255.255: no row matches.
  Para.TCPServAddr = "board.local";
  TSetIPAddr1Dlg named(nullptr, Addresses, Para, ReWrite);
  EXPECT_EQ(named.FSelRow, 0);
  EXPECT_EQ(Fields(named), (std::vector<int>{255, 255, 255, 255}));
}

TEST_F(TAddressDialogTest, ReWriteSettingChangesFlagAndCaptionAndButtonsEndTheDialog) {
  TSetIPAddr1Dlg d(nullptr, Addresses, Para, ReWrite);
  {
    TModalScript script({On<TConfErrDlg>([](TConfErrDlg* e) {
      EXPECT_FALSE(e->CBReWrite->isChecked());
      e->CBReWrite->setChecked(true);
      QTest::mouseClick(e->OKBtn, Qt::LeftButton);
    })});
    d.BtReWriteClick();
  }
  EXPECT_EQ(ReWrite, 1);
  EXPECT_EQ(d.windowTitle(), "TCP/IP のオープン［再書込みモード］");
  {
    // Cancel changes nothing.
    TModalScript script({On<TConfErrDlg>([](TConfErrDlg* e) {
      EXPECT_TRUE(e->CBReWrite->isChecked());
      e->CBReWrite->setChecked(false);
      QTest::mouseClick(e->CancelBtn, Qt::LeftButton);
    })});
    d.BtReWriteClick();
  }
  EXPECT_EQ(ReWrite, 1);
  {
    TModalScript script({On<TConfErrDlg>([](TConfErrDlg* e) {
      e->CBReWrite->setChecked(false);
      QTest::mouseClick(e->OKBtn, Qt::LeftButton);
    })});
    d.BtReWriteClick();
  }
  EXPECT_EQ(ReWrite, 0);
  EXPECT_EQ(d.windowTitle(), "TCP/IP のオープン");

  for (auto [button, expected] :
       {std::pair{d.TypeChgBtn, kModalTypeChange}, std::pair{d.CancelBtn, kModalCancel}}) {
    TModalScript script({On<TSetIPAddr1Dlg>(
        [b = button](TSetIPAddr1Dlg*) { QTest::mouseClick(b, Qt::LeftButton); })});
    EXPECT_EQ(d.exec(), expected);
  }
  EXPECT_EQ(d.TypeChgBtn->text(), "USBタイプに切り替え");
}

// ---- TOpenCom1Dlg ---------------------------------------------------------

struct TSerialDialogTest : ::testing::Test {
  TFixedPorts Ports;
  int32_t ReWrite = 0;
  TSerialPortDialogSetup Setup;

  void SetUp() override {
    Ports.Ports = {{"COM3", "USB Serial Device"}, {"COM10", "Bluetooth"}};
    Setup.PortName = "COM3";
    Setup.SpeedItem = kSpeedItem38400;
    Setup.WriteSpeedItem = 4;
  }
  static QStringList Items(const TOpenCom1Dlg& d) {
    QStringList items;
    for (int i = 0; i < d.LBComPort->count(); ++i) items << d.LBComPort->item(i)->text();
    return items;
  }
};

TEST_F(TSerialDialogTest, OpensSortedWithTheStoredPortSelected) {
  TOpenCom1Dlg d(nullptr, Ports, Setup, ReWrite);
  EXPECT_EQ(d.windowTitle(), "シリアルポートのオープン");
  EXPECT_EQ(Items(d), (QStringList{"COM10(Bluetooth)", "COM3(USB Serial Device)"}));
  EXPECT_EQ(d.LBComPort->currentRow(), 1);
  EXPECT_EQ(d.STComPort->text(), "COM3(USB Serial Device)");
  EXPECT_FALSE(d.CBAutoCheck->isChecked());
  EXPECT_EQ(d.RGComSpeedItems->checkedId(), kSpeedItem38400);
  EXPECT_TRUE(d.RGComSpeed->isHidden());
  EXPECT_TRUE(d.StaticText1->isHidden());
  EXPECT_TRUE(d.CB_WrSpeed->isHidden());
  EXPECT_EQ(d.CB_WrSpeed->count(), 4);
  EXPECT_EQ(d.CB_WrSpeed->currentIndex(), -1);  // index 4 selects nothing

  const TSerialPortChoice c = d.Choice(kModalOk);
  EXPECT_EQ(c.Entries, (std::vector<std::string>{"COM10(Bluetooth)", "COM3(USB Serial Device)"}));
  EXPECT_EQ(c.Selected, 1);
  EXPECT_EQ(c.SpeedItem, kSpeedItem38400);

  // An unknown stored port selects the first entry; an empty list nothing.
  Setup.PortName = "COM7";
  TOpenCom1Dlg other(nullptr, Ports, Setup, ReWrite);
  EXPECT_EQ(other.LBComPort->currentRow(), 0);
  TFixedPorts none;
  TOpenCom1Dlg empty(nullptr, none, Setup, ReWrite);
  EXPECT_EQ(empty.Choice(kModalOk).Selected, -1);
  EXPECT_EQ(empty.STComPort->text(), "");
}

TEST_F(TSerialDialogTest, CtrlDoubleClickTogglesTheWriteSpeedSelector) {
  TOpenCom1Dlg d(nullptr, Ports, Setup, ReWrite);
  d.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
  const QPoint onList = d.LBComPort->visualItemRect(d.LBComPort->item(0)).center();
  QTest::mouseDClick(d.LBComPort->viewport(), Qt::LeftButton, Qt::NoModifier, onList);
  EXPECT_TRUE(d.StaticText1->isHidden());
  QTest::mouseDClick(d.LBComPort->viewport(), Qt::LeftButton, Qt::ControlModifier, onList);
  EXPECT_FALSE(d.StaticText1->isHidden());
  EXPECT_FALSE(d.CB_WrSpeed->isHidden());
  // On the dialog itself as well.
  QTest::mouseDClick(&d, Qt::LeftButton, Qt::ControlModifier, QPoint(5, 5));
  EXPECT_TRUE(d.StaticText1->isHidden());
  EXPECT_TRUE(d.CB_WrSpeed->isHidden());
}

TEST_F(TSerialDialogTest, DeviceChangeRebuildsTheListWithoutSelection) {
  TOpenCom1Dlg d(nullptr, Ports, Setup, ReWrite);
  Ports.Ports.push_back({"COM4", "USB Serial Device"});
  d.DeviceChange(3);  // not "nodes changed": ignored
  EXPECT_EQ(d.LBComPort->count(), 2);
  d.DeviceChange(kDeviceNodesChanged);
  EXPECT_EQ(Items(d), (QStringList{"COM10(Bluetooth)", "COM3(USB Serial Device)",
                                   "COM4(USB Serial Device)"}));
  EXPECT_EQ(d.Choice(kModalOk).Selected, -1);
  EXPECT_EQ(d.STComPort->text(), "COM3(USB Serial Device)");
  // A click selects again.
  QTest::mouseClick(d.LBComPort->viewport(), Qt::LeftButton, Qt::NoModifier,
                    d.LBComPort->visualItemRect(d.LBComPort->item(2)).center());
  EXPECT_EQ(d.Choice(kModalOk).Selected, 2);
  EXPECT_EQ(d.STComPort->text(), "COM4(USB Serial Device)");
}

TEST_F(TSerialDialogTest, ReWriteSettingLocksAutoCheckAndNamesTheMode) {
  TOpenCom1Dlg d(nullptr, Ports, Setup, ReWrite);
  d.CBAutoCheck->setChecked(true);
  {
    TModalScript script({On<TConfErrDlg>([](TConfErrDlg* e) {
      e->CBReWrite->setChecked(true);
      QTest::mouseClick(e->OKBtn, Qt::LeftButton);
    })});
    d.MnBtErrClick();
  }
  EXPECT_EQ(ReWrite, 1);
  EXPECT_EQ(d.windowTitle(), "シリアルポートのオープン［再書込みモード］");
  EXPECT_FALSE(d.CBAutoCheck->isChecked());
  EXPECT_FALSE(d.CBAutoCheck->isEnabled());
  {
    TModalScript script({On<TConfErrDlg>([](TConfErrDlg* e) {
      e->CBReWrite->setChecked(false);
      QTest::mouseClick(e->OKBtn, Qt::LeftButton);
    })});
    d.MnBtErrClick();
  }
  EXPECT_EQ(ReWrite, 0);
  EXPECT_TRUE(d.CBAutoCheck->isEnabled());
  EXPECT_EQ(d.windowTitle(), "シリアルポートのオープン");

  // A dialog opened later starts plain even with the flag on.
  ReWrite = 1;
  TOpenCom1Dlg later(nullptr, Ports, Setup, ReWrite);
  EXPECT_EQ(later.windowTitle(), "シリアルポートのオープン");
  EXPECT_TRUE(later.CBAutoCheck->isEnabled());
}

TEST_F(TSerialDialogTest, PortSettingDialogListsAndReturnsThePortName) {
  TPortSetDlg d(nullptr, Ports);
  EXPECT_EQ(d.windowTitle(), "COMポートの設定");
  d.BindPort("COM10");
  EXPECT_EQ(d.ComComboBox1->count(), 2);
  EXPECT_EQ(d.ComComboBox1->itemText(0), "COM3");  // the enumerator's order
  EXPECT_EQ(d.PortName(), "COM10");
  TModalScript script({On<TPortSetDlg>([](TPortSetDlg* p) {
    p->ComComboBox1->setCurrentIndex(0);
    QTest::mouseClick(p->OKBtn, Qt::LeftButton);
  })});
  EXPECT_EQ(d.exec(), kModalOk);
  EXPECT_EQ(d.PortName(), "COM3");
}

// ---- small windows ----------------------------------------------------------

TEST(SmallDialogs, ConfirmationWaitEndsByButtonAndByEveryClose) {
  TConfirm1Dlg d(nullptr);
  EXPECT_EQ(d.FWaitFlag, 1);
  EXPECT_EQ(d.windowTitle(), "マイコンへの書き込み");
  EXPECT_TRUE(d.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(d.OKBtn->text(), "確認");
  d.show();
  QTest::mouseClick(d.OKBtn, Qt::LeftButton);
  EXPECT_EQ(d.FWaitFlag, 0);
  EXPECT_TRUE(d.isVisible());  // the caller closes it

  d.hide();
  d.show();  // shown again: waiting again
  EXPECT_EQ(d.FWaitFlag, 1);
  EXPECT_TRUE(d.close());  // as the title-bar close
  EXPECT_EQ(d.FWaitFlag, 0);
  EXPECT_FALSE(d.isVisible());

  d.show();
  QTest::keyClick(&d, Qt::Key_Escape);
  EXPECT_EQ(d.FWaitFlag, 0);
}

TEST(SmallDialogs, ReWriteAdviceHasItsNineLines) {
  TConfErrDlg d(nullptr);
  EXPECT_EQ(d.windowTitle(), "書き込みエラー時の設定");
  EXPECT_EQ(d.CBReWrite->text(), "再書き込みを行う");
  const QStringList lines = d.Memo1->toPlainText().split(QLatin1Char('\n'));
  EXPECT_EQ(lines,
            (QStringList{"書き込みに失敗した場合", "　・上のチェックボックスにチェックをいれる",
                         "　・R/Wの電源を入れ直す", "　・再度書き込みを行う", "",
                         "ベリファイに失敗した場合", "　・上のチェックボックスにチェックをいれない",
                         "　・R/Wの電源を入れ直す", "　・再度書き込みを行う"}));
  EXPECT_TRUE(d.Memo1->isReadOnly());
}

TEST(SmallDialogs, PleaseWaitIsVisibleFromItsCreation) {
  TGuage1Dlg d(nullptr);
  EXPECT_TRUE(d.isVisible());
  EXPECT_EQ(d.windowTitle(), "変換実行中");
  EXPECT_EQ(d.Button1->text(), "&Cancel");
  EXPECT_FALSE(d.windowFlags() & Qt::WindowCloseButtonHint);
  d.SetAlwaysOnTop();
  EXPECT_TRUE(d.isVisible());
  EXPECT_TRUE(d.windowFlags() & Qt::WindowStaysOnTopHint);
}

TEST(SmallDialogs, VersionWindowFromTheRecord) {
  EXPECT_EQ(GetVersionInfoItem(2), "1.1.6.0");
  EXPECT_EQ(GetVersionInfoItem(6), GetVersionInfoItem(99));

  TAboutBox about;
  EXPECT_EQ(about.windowTitle(), "ﾊﾞｰｼﾞｮﾝ情報");
  EXPECT_EQ(about.Version->text(), "     Version 1.1.6.0");
  EXPECT_EQ(about.ProductName->text(), "QVX RORaderaD116");
  EXPECT_EQ(about.Copyright->text().toStdString(), GetVersionInfoItem(4));
  EXPECT_EQ(about.Comments->text().toStdString(), GetVersionInfoItem(1));
  EXPECT_FALSE(about.ProgramIcon->pixmap().isNull());
  EXPECT_TRUE(about.ProductName->font().bold());

  // Another language's table: everything empty but the fixed prefix.
  TVersionRecordSource us{{1, 1, 6, 0}, 0x0409, 1252, {{"ProductName", "X"}, {"FileVersion", "9"}}};
  TAboutBox other(nullptr, BuildVersionRecord(us));
  EXPECT_EQ(other.ProductName->text(), "");
  EXPECT_EQ(other.Copyright->text(), "");
  EXPECT_EQ(other.Comments->text(), "");
  EXPECT_EQ(other.Version->text(), "     Version ");
}

TEST(SmallDialogs, SettingsPanelsAreLookedUpAmongKnownPrograms) {
  const auto none = FindSettingsCommand(TSettingsPanel::NetworkConnections,
                                        [](const QString&) { return QString(); });
  EXPECT_TRUE(none.Program.isEmpty());
#ifndef Q_OS_WIN
  const auto gnome = FindSettingsCommand(TSettingsPanel::NetworkConnections, [](const QString& n) {
    return n == "gnome-control-center" ? QStringLiteral("/usr/bin/") + n : QString();
  });
  EXPECT_EQ(gnome.Program, "/usr/bin/gnome-control-center");
  EXPECT_EQ(gnome.Arguments, QStringList{"network"});
#endif
}

// ---- the main window's start-up through the real dialogs --------------------

struct TWindowStartupTest : ::testing::Test {
  QTemporaryDir Dir;
  TVirtualHost Host;
  TSimLinkFactory Links{Host};
  TFixedPorts Ports;
  TFixedAddresses Addresses;
  TSimReader Reader;
  std::unique_ptr<TRXProgAppForm> Form;

  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    Form = std::make_unique<TRXProgAppForm>(Host, Links, Dir.filePath("qvxupdate.ini"));
    Form->SetPortLister(&Ports);
    Form->SetAddressSource(&Addresses);
    Form->Controller()->FLinkKind = 0;
  }
  void TearDown() override { Form.reset(); }
  QStringList Log() const { return Form->SPTMemo->toPlainText().split(QLatin1Char('\n')); }
};

TEST_F(TWindowStartupTest, OpenOnTheListedPortFindsTheReader) {
  Links.AddSerialDevice("ttyUSB0", &Reader);
  Ports.Ports = {{"ttyUSB0", "FT232R USB UART"}};
  bool sawPleaseWait = false;
  TModalScript script({On<TOpenCom1Dlg>([&](TOpenCom1Dlg* d) {
    EXPECT_EQ(d->STComPort->text(), "ttyUSB0(FT232R USB UART)");
    // The please-wait window comes up during the search, after the dialog.
    QTimer::singleShot(0, [&] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<TGuage1Dlg*>(w) && w->isVisible())
          sawPleaseWait = w->windowTitle() == "しばらくお待ちください";
    });
    QTest::mouseClick(d->OKBtn, Qt::LeftButton);
  })});
  Form->show();
  Form->FormShow();

  EXPECT_TRUE(script.Done());
  EXPECT_TRUE(sawPleaseWait);
  EXPECT_EQ(Form->windowTitle(), "QVX RORaderaD116 for QVX-K417 ( Ver.2130 )");
  EXPECT_EQ(Log(), (QStringList{"ROM Version : 2120KRV07", "Find QVX R/W ", "PORT   : 257",
                                "Speed  : 115200", "Module : QVX-K417      "}));
  EXPECT_EQ(Form->FRomVersionText, "2120KRV07");
  EXPECT_EQ(Form->FConnected, 1);
  EXPECT_EQ(Form->FComPara.Port, 257);
  EXPECT_TRUE(Form->TB_Write->isEnabled());
  EXPECT_TRUE(Form->isVisible());
  for (QWidget* w : QApplication::topLevelWidgets())
    EXPECT_FALSE(qobject_cast<TGuage1Dlg*>(w)) << "the please-wait window was not freed";
}

TEST_F(TWindowStartupTest, EmptyListGivesTheComSelectionErrorThenCancelEndsTheProgram) {
  QString boxTitle, boxText;
  TModalScript script(
      {On<TOpenCom1Dlg>([](TOpenCom1Dlg* d) { QTest::mouseClick(d->OKBtn, Qt::LeftButton); }),
       On<QMessageBox>([&](QMessageBox* box) {
         boxTitle = box->windowTitle();
         boxText = box->text();
         EXPECT_EQ(box->icon(), QMessageBox::Warning);
         box->done(0);
       }),
       On<TOpenCom1Dlg>([](TOpenCom1Dlg* d) { QTest::mouseClick(d->CancelBtn, Qt::LeftButton); })});
  Form->show();
  Form->FormShow();

  EXPECT_TRUE(script.Done());
  EXPECT_EQ(boxTitle, "COM選択エラー");
  EXPECT_EQ(boxText, "COM選択に問題があります。\n\nCOMの再選択をしてください。");
  // Closed with the settings saved, and nothing left running on the link.
  EXPECT_FALSE(Form->isVisible());
  EXPECT_EQ(Form->Controller(), nullptr);
  TIniFile ini;
  ASSERT_TRUE(ReadIniFile(Form->FIniFileName, &ini, nullptr));
  EXPECT_EQ(ini.ReadInteger("Option", "Use_USB_TCP", -1), 0);
  EXPECT_TRUE(Form->SPTMemo->toPlainText().isEmpty());
}

TEST_F(TWindowStartupTest, TcpDialogThenSwitchBackAndCancelClosesOnceTheStepReturns) {
  Form->Controller()->FLinkKind = 1;
  Addresses.Add("192.168.1.20", "255.255.255.0");
  TModalScript script(
      {On<TSetIPAddr1Dlg>(
           [](TSetIPAddr1Dlg* d) { QTest::mouseClick(d->TypeChgBtn, Qt::LeftButton); }),
       On<TOpenCom1Dlg>([](TOpenCom1Dlg* d) { QTest::mouseClick(d->TypeChgBtn, Qt::LeftButton); }),
       On<TSetIPAddr1Dlg>([&](TSetIPAddr1Dlg* d) {
         // A close request while the start-up runs waits for it.
         EXPECT_FALSE(Form->close());
         EXPECT_NE(Form->Controller(), nullptr);
         QTest::mouseClick(d->CancelBtn, Qt::LeftButton);
       })});
  Form->show();
  Form->FormShow();
  EXPECT_TRUE(script.Done());
  EXPECT_GE(script.Seen.filter("TSetIPAddr1Dlg").size(), 2);
  EXPECT_FALSE(Form->isVisible());
  EXPECT_EQ(Form->Controller(), nullptr);
}

TEST_F(TWindowStartupTest, SimulatedLinkConnectsWithoutTheDialogAndIsNotSaved) {
  TSimReaderOptions tcp;
  tcp.Link = TSimLink::Tcp;
  TSimReader board(tcp);
  Links.AddTcpEndpoint("127.0.0.1", 40999, &board);
  Form->KeepStoredLinkOnSave();  // the stored link kind is serial (0)
  Form->Controller()->FLinkKind = 1;
  Form->FormUi().FPresetTcpChoice = SimulatedTcpChoice(40999, Form->Controller()->FTcpPara);
  Form->show();
  Form->FormShow();  // no dialog comes up: nothing answers one
  EXPECT_EQ(Log(),
            (QStringList{"ROM Version : 2120KRV07", "Find QVX R/W", "Module : QVX-K417      "}));
  EXPECT_EQ(Form->FLastTcpPara.TCPServPort, 40999);
  EXPECT_TRUE(Form->close());
  TIniFile ini;
  ASSERT_TRUE(ReadIniFile(Form->FIniFileName, &ini, nullptr));
  EXPECT_EQ(ini.ReadInteger("Option", "Use_USB_TCP", -1), 0);
  EXPECT_EQ(ini.ReadString("Option", "TCPServAddr"), kDefaultIfbAddress);
}

TEST_F(TWindowStartupTest, HelpShowsTheVersionWindow) {
  TAboutBox about;
  Form->SetAboutBox(&about);
  bool shown = false;
  TModalScript script({On<TAboutBox>([&](TAboutBox* b) {
    shown = b == &about;
    QTest::mouseClick(b->OKButton, Qt::LeftButton);
  })});
  Form->HelpAbout1->trigger();
  EXPECT_TRUE(shown);
}

}  // namespace
