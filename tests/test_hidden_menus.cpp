// The main window's hidden menus on real widgets (offscreen), in virtual time
// against the simulated devices: every item bound to its own handler, the
// port setting and restore items with their dialogs, the deferred close, and
// files dropped on the window going to the program data loader.
#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <set>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include "app/FormUi.h"
#include "app/HiddenMenus.h"
#include "app/OpenComDlg.h"
#include "app/TRXProgAppForm.h"
#include "link/EnumCom.h"
#include "link/FlashWrRXCont.h"
#include "link/PortNames.h"
#include "reader/ParamBackupFile.h"
#include "sim/InProcessLink.h"
#include "sim/VirtualHost.h"
#include "sim/mcu/SimMcuBootTarget.h"
#include "sim/reader/SimReader.h"
#include "support/FixedPorts.h"
#include "support/WidgetsApp.h"

namespace {

const auto* const kEnvironment =
    AddWidgetsEnvironment("test_hidden_menus", {.QuitOnLastWindowClosed = false});

// Answers each modal window that opens while it lives: message boxes are
// noted and closed, every other window is handed to Answer (rejected when
// Answer is unset or returns false).
class TModalAnswerer {
 public:
  TModalAnswerer() {
    FTimer.setInterval(5);
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      QWidget* w = QApplication::activeModalWidget();
      if (!w) return;
      if (auto* box = qobject_cast<QMessageBox*>(w)) {
        Boxes << box->text();
        box->done(0);
      } else if (auto* dlg = qobject_cast<QDialog*>(w)) {
        if (!Answer || !Answer(dlg)) dlg->reject();
      }
    });
    FTimer.start();
  }
  std::function<bool(QDialog*)> Answer;
  QStringList Boxes;

 private:
  QTimer FTimer;
};

// Every item of a menu and its sub-menus.
void Items(QMenu* menu, std::vector<QAction*>& out) {
  for (QAction* a : menu->actions()) {
    if (a->isSeparator()) continue;
    if (a->menu())
      Items(a->menu(), out);
    else
      out.push_back(a);
  }
}

struct THiddenMenuTest : ::testing::Test {
  QTemporaryDir Dir;
  TVirtualHost Host;
  TSimLinkFactory Links{Host};
  TFixedPorts Ports;
  TSimMcuBootTarget Mcu;
  TSimReader Reader;
  TSimReader TcpReader{[] {
    TSimReaderOptions o;
    o.Link = TSimLink::Tcp;
    return o;
  }()};
  std::unique_ptr<TRXProgAppForm> Form;

  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    setenv(ParamBackupFile::kFolderVariable, Dir.filePath("backups").toLocal8Bit().constData(), 1);
    Links.AddSerialDevice("ttyUSB0", &Reader);
    Links.AddSerialDevice("ttyUSB1", &Mcu);
    Links.AddTcpEndpoint("10.1.2.3", 9004, &TcpReader);
    Form = std::make_unique<TRXProgAppForm>(Host, Links, Dir.filePath("qvxupdate.ini"));
    Form->SetPortLister(&Ports);
    C().FLinkKind = 0;  // serial, as a start-up on a serial port leaves it
  }
  TFlashWrRXCont& C() { return *Form->Controller(); }
  std::vector<QAction*> AllItems() {
    std::vector<QAction*> all;
    Items(Form->MnCmd, all);
    Items(Form->MnConfig, all);
    return all;
  }
  QStringList Log() const {
    const QString text = Form->SPTMemo->toPlainText();
    return text.isEmpty() ? QStringList() : text.split('\n');
  }
  // The lines one item adds to the log.
  QStringList Trigger(QAction* item) {
    const qsizetype before = Log().size();
    item->trigger();
    return Log().mid(before);
  }
  void UsePort(const char* name) { Form->FComPara.Port = ComPortNumber(name); }
};

TEST_F(THiddenMenuTest, MenusStayHiddenAndEveryItemRunsTheHandlerOfItsName) {
  Form->show();
  C().FLinkKind = 1;  // the TCP/IP test talks over the link it opens
  EXPECT_FALSE(Form->MnCmd->menuAction()->isVisible());
  EXPECT_FALSE(Form->MnConfig->menuAction()->isVisible());

  // Dialogs are cancelled; the TCP/IP test connects without its dialog.
  TModalAnswerer answerer;
  Form->FormUi().FPresetTcpChoice = TTcpIpChoice{kModalOk, {10777, 0, 9004, "10.1.2.3"}, true};
  std::vector<std::string> ran;
  for (QAction* item : AllItems()) {
    Form->FLastHiddenHandler.clear();
    item->trigger();
    EXPECT_EQ(Form->FLastHiddenHandler, item->objectName().toStdString() + "Click");
    ran.push_back(Form->FLastHiddenHandler);
  }
  // One item per handler of either menu, in menu order.
  EXPECT_EQ(ran, THiddenMenus::HandlerNames());
  ASSERT_NE(Form->Controller(), nullptr);  // no dialog answer closed the window
  EXPECT_TRUE(Form->SPTMemo->toPlainText().contains("Find QVX R/W"));  // the TCP/IP test ran
}

TEST_F(THiddenMenuTest, CommandMenuItemsDriveTheBootModeTarget) {
  UsePort("ttyUSB1");
  Form->FMainDetailLog = C().FDetailLog = 1;  // success lines are detail lines
  std::vector<QAction*> items;
  Items(Form->MnCmd, items);
  std::set<QString> labels;
  const std::set<QString> silent = {"MnReadSts",     "MnVer1",       "MnErase", "MnClrSts",
                                    "MnSetProgMode", "MnSetReStart", "MnCRC1"};
  for (QAction* item : items) {
    if (item == Form->MnCmdCheck) continue;
    const QStringList lines = Trigger(item);
    if (silent.count(item->objectName())) {
      EXPECT_TRUE(lines.isEmpty()) << item->objectName().toStdString();
      continue;
    }
    // An error code may come first, then the result line.
    const auto result = std::find_if(lines.begin(), lines.end(), [](const QString& l) {
      return l.startsWith("OK: ") || l.startsWith("NG: ");
    });
    ASSERT_NE(result, lines.end()) << item->objectName().toStdString();
    // Each item its own command: no two items report under one label.
    EXPECT_TRUE(labels.insert(result->mid(4)).second) << result->toStdString();
  }
  EXPECT_EQ(labels.size(), 31u);
  EXPECT_TRUE(Log().contains("OK: ビットレート合わせ込み"));
  EXPECT_TRUE(Log().contains("OK: ユーザブート領域書き込み選択"));
  EXPECT_TRUE(Log().contains("OK: ロックビット無効"));
  EXPECT_TRUE(Log().contains("書き込みサイズ: 256"));

  // The check run: fifteen results, the matching first (NG now: the target
  // has left its matching state) and the rest still run.
  QStringList results;
  for (const QString& line : Trigger(Form->MnCmdCheck))
    if (line.startsWith("OK: ") || line.startsWith("NG: ")) results << line;
  ASSERT_EQ(results.size(), 15);
  EXPECT_EQ(results[0], "NG: ビットレート合わせ込み");
  EXPECT_EQ(results[14].mid(4), "書き込み消去ステータス遷移");
}

TEST_F(THiddenMenuTest, PortSettingOpensTheChosenPortOnly) {
  Form->FMainDetailLog = 1;
  UsePort("ttyUSB0");
  ASSERT_TRUE(C().OpenComPort(Form->FComPara.Port));
  TModalAnswerer answerer;
  QString choose = "-";  // "-": cancel; "": "設定" with nothing chosen
  QString shownWith;
  answerer.Answer = [&](QDialog* d) {
    auto* dlg = qobject_cast<TPortSetDlg*>(d);
    if (!dlg || choose == "-") return false;
    shownWith = dlg->ComComboBox1->currentText();
    if (!choose.isEmpty()) dlg->ComComboBox1->setCurrentText(choose);
    dlg->OKBtn->click();
    return true;
  };

  EXPECT_TRUE(Trigger(Form->MnSetCOMPort).isEmpty());  // cancelled
  // No port listed: nothing to open.
  choose = "";
  EXPECT_TRUE(Trigger(Form->MnSetCOMPort).isEmpty());
  EXPECT_TRUE(answerer.Boxes.isEmpty());
  EXPECT_EQ(C().CommX1->PortName(), "ttyUSB0");

  // The port in use, preselected: nothing opened, nothing logged.
  Ports.Ports = {{"ttyUSB0", "reader"}, {"ttyUSB1", "target"}, {"ttyUSB2", "gone"}};
  EXPECT_TRUE(Trigger(Form->MnSetCOMPort).isEmpty());
  EXPECT_EQ(shownWith, "ttyUSB0");

  choose = "ttyUSB1";
  EXPECT_EQ(Trigger(Form->MnSetCOMPort), QStringList{"Open ttyUSB1 : OK"});
  EXPECT_EQ(Form->FComPara.Port, ComPortNumber("ttyUSB1"));
  EXPECT_EQ(C().FComPara.Port, ComPortNumber("ttyUSB1"));
  EXPECT_EQ(C().CommX1->PortName(), "ttyUSB1");

  choose = "ttyUSB2";  // listed, but no device behind it
  EXPECT_EQ(Trigger(Form->MnSetCOMPort), QStringList{"Open ttyUSB2 : NG"});
  EXPECT_EQ(answerer.Boxes.size(), 1);
  EXPECT_EQ(Form->FComPara.Port, ComPortNumber("ttyUSB1"));
}

TEST_F(THiddenMenuTest, RestoreItemWritesTheChosenBackupBack) {
  UsePort("ttyUSB0");
  ASSERT_TRUE(C().OpenComPort(Form->FComPara.Port));
  const QString folder = Dir.filePath("backups");
  std::filesystem::path good;
  std::string error;
  ASSERT_TRUE(ParamBackupFile::Write(folder.toStdString(),
                                     {"2120KRV07", TSimParamMemory::OwnSettings()}, good, error))
      << error;
  const QString damaged = Dir.filePath("damaged.qvxparam");
  ASSERT_TRUE(QFile::copy(QString::fromStdString(good.string()), damaged));
  {
    QFile f(damaged);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.seek(200);
    char byte = 0;
    ASSERT_TRUE(f.getChar(&byte));
    f.seek(200);
    f.putChar(static_cast<char>(byte ^ 0x01));
  }
  Reader.ParamMemory().FMemory = TSimParamMemory::FactoryDefaults();

  TModalAnswerer answerer;
  QString pick;
  QString startedIn;
  answerer.Answer = [&](QDialog* d) {
    auto* dlg = qobject_cast<QFileDialog*>(d);
    if (!dlg) return false;
    startedIn = dlg->directory().absolutePath();
    if (pick.isEmpty()) return false;
    dlg->selectFile(pick);
    static_cast<QDialog*>(dlg)->accept();  // QFileDialog::accept, as the Open button
    return true;
  };
  EXPECT_TRUE(Trigger(Form->MnRestoreParam).isEmpty());  // cancelled: nothing written
  EXPECT_EQ(startedIn, QDir(folder).absolutePath());
  EXPECT_EQ(Reader.ParamMemory().FMemory, TSimParamMemory::FactoryDefaults());

  pick = QString::fromStdString(good.string());
  EXPECT_EQ(Trigger(Form->MnRestoreParam), QStringList{"Restore Params : OK"});
  EXPECT_EQ(Reader.ParamMemory().FMemory, TSimParamMemory::OwnSettings());
  EXPECT_TRUE(Form->isEnabled());
  ASSERT_EQ(answerer.Boxes.size(), 1);
  EXPECT_TRUE(answerer.Boxes[0].startsWith("パラメータを復元しました。"));
  // The defaults the reader held went to a new backup, named in the box.
  const QString saved = QString::fromStdString(C().FLastParamBackupPath);
  EXPECT_NE(saved.toStdString(), good.string());
  EXPECT_TRUE(answerer.Boxes[0].contains(saved));
  EXPECT_TRUE(QFile::exists(saved));

  pick = damaged;
  EXPECT_EQ(Trigger(Form->MnRestoreParam), QStringList{"Restore Params : NG"});
  ASSERT_EQ(answerer.Boxes.size(), 2);
  EXPECT_TRUE(answerer.Boxes[1].startsWith("パラメータを復元できませんでした。"));
  EXPECT_TRUE(answerer.Boxes[1].contains("checksum")) << answerer.Boxes[1].toStdString();
  EXPECT_EQ(Reader.ParamMemory().FMemory, TSimParamMemory::OwnSettings());
}

TEST_F(THiddenMenuTest, CloseAskedForDuringAHandlerWaitsUntilItReturns) {
  Ports.Ports = {{"ttyUSB0", "reader"}, {"ttyUSB1", "target"}};
  TModalAnswerer answerer;
  answerer.Answer = [&](QDialog* d) {
    auto* dlg = qobject_cast<TPortSetDlg*>(d);
    if (!dlg) return false;
    Form->close();  // the window is closed while the dialog is up
    dlg->ComComboBox1->setCurrentText("ttyUSB1");
    dlg->OKBtn->click();
    return true;
  };
  Form->show();
  Form->MnSetCOMPort->trigger();
  // The handler finished with the controller, then the close saved its port.
  EXPECT_EQ(Form->Controller(), nullptr);
  QFile ini(Dir.filePath("qvxupdate.ini"));
  ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
  EXPECT_TRUE(ini.readAll().contains("Port=" + QByteArray::number(ComPortNumber("ttyUSB1"))));
}

TEST_F(THiddenMenuTest, CancellingTheTcpIpTestEndsTheProgramAsAtStartUp) {
  TModalAnswerer answerer;
  Form->show();
  Form->Mn_Setting_test->trigger();
  EXPECT_EQ(Form->Controller(), nullptr);
  EXPECT_TRUE(QFile::exists(Dir.filePath("qvxupdate.ini")));
}

// ---- dropped files --------------------------------------------------------

// An Intel HEX record with its checksum.
std::string HexRecord(int type, int address, const std::vector<int>& data) {
  int sum = static_cast<int>(data.size()) + (address >> 8) + (address & 0xFF) + type;
  char head[16];
  std::snprintf(head, sizeof head, ":%02X%04X%02X", static_cast<int>(data.size()), address, type);
  std::string rec = head;
  for (int b : data) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", b);
    rec += hex;
    sum += b;
  }
  char cs[4];
  std::snprintf(cs, sizeof cs, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
  return rec + cs;
}

bool Drop(TRXProgAppForm& form, const QList<QUrl>& urls) {
  QMimeData mime;
  mime.setUrls(urls);
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&form, &enter);
  if (!enter.isAccepted()) return false;
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&form, &drop);
  return true;
}

TEST_F(THiddenMenuTest, DroppedFileIsLoadedByItsFullPath) {
  EXPECT_EQ(C().FHexDataFolder, QCoreApplication::applicationDirPath().toStdString());
  // Drops over the log reach the window.
  EXPECT_FALSE(Form->SPTMemo->viewport()->acceptDrops());
  // Deeper than the 255 characters a drop once kept.
  QString folder = Dir.path();
  while (folder.size() < 300) folder += QStringLiteral("/a-rather-long-folder-name");
  ASSERT_TRUE(QDir().mkpath(folder));
  const QString path = folder + QStringLiteral("/prog.hex");
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    const std::string text = HexRecord(2, 0, {0x80, 0x00}) +  // segment 0x8000: 0x80000
                             HexRecord(0, 0x0010, {0xDE, 0xAD, 0xBE, 0xEF}) + HexRecord(1, 0, {});
    f.write(text.data(), static_cast<qint64>(text.size()));
  }

  ASSERT_TRUE(Drop(*Form, {QUrl::fromLocalFile(path), QUrl::fromLocalFile(Dir.filePath("x.hex"))}));
  EXPECT_EQ(Log(), QStringList{"OK: Read ROM Data"});
  EXPECT_EQ(Form->FDropFileName, path.toStdString());
  EXPECT_TRUE(C().FProgDataLoaded);
  EXPECT_EQ(std::vector<uint8_t>(C().FProgImage.begin() + 0x10, C().FProgImage.begin() + 0x14),
            (std::vector<uint8_t>{0xDE, 0xAD, 0xBE, 0xEF}));

  // A file that cannot be read, and a folder of a loadable name.
  ASSERT_TRUE(Drop(*Form, {QUrl::fromLocalFile(Dir.filePath("missing.hex"))}));
  ASSERT_TRUE(QDir().mkpath(Dir.filePath("folder.mot")));
  ASSERT_TRUE(Drop(*Form, {QUrl::fromLocalFile(Dir.filePath("folder.mot"))}));
  EXPECT_EQ(Log(), (QStringList{"OK: Read ROM Data", "NG: Read ROM Data", "NG: Read ROM Data"}));
  EXPECT_FALSE(C().FProgDataLoaded);

  // Nothing but local files is taken.
  EXPECT_FALSE(Drop(*Form, {QUrl(QStringLiteral("https://example.com/prog.hex"))}));
  EXPECT_EQ(Log().size(), 3);
}

}  // namespace
