// The update end to end: the main window offscreen (tool button, dialog,
// entries afterwards), the command line in virtual time (confirmations,
// progress bar, result lines), the Qt host's pauses, and the built
// executables against qvxsim over a pseudo-terminal, as TCP client and
// server, and with --simulate.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/Cli.h"
#include "app/FormUi.h"
#include "app/InfoDialogs.h"
#include "app/Simulate.h"
#include "app/TRXProgAppForm.h"
#include "link/EnumCom.h"
#include "link/FlashWrRXCont.h"
#include "link/PortNames.h"
#include "link/qt/QtHost.h"
#include "sim/InProcessLink.h"
#include "sim/SimUnit.h"
#include "sim/VirtualHost.h"
#include "support/FixedPorts.h"
#include "support/RealLinks.h"
#include "support/ToolRuns.h"
#include "support/WidgetsApp.h"

namespace {

const auto* const kEnvironment = AddWidgetsEnvironment("test_update_e2e", {.Glib = false});

const std::string kHyphens(40, '-');
const TLines kTcpFound = {"ROM Version : 2120KRV07", "Find QVX R/W", "Module : QVX-K417      "};
// The update's lines after the start-up, when everything goes well.
TLines UpdateOk(bool boardAnswers) {
  TLines l = {"",
              kHyphens,
              "OK：リソース作成",
              "OK：ブート遷移中",
              "OK：アプレット書き込み",
              "OK：アップデート",
              "OK：終了処理",
              "OK：ROM Version",
              "OK：ブート解除中",
              kHyphens,
              "",
              "ROM Version : 2130KRV07",
              "OK：RW FLASH Value ",
              "アップデートが正常に終了しました。"};
  if (!boardAnswers) l.push_back("電源を入れなおして再起動してください。");
  l.push_back("");
  return l;
}
TLines Join(const TLines& a, const TLines& b) {
  TLines all = a;
  all.insert(all.end(), b.begin(), b.end());
  return all;
}

// The simulated reader reports the version its written flash carries: only
// the placeholder images carry 2130.
#if QVX_PLACEHOLDER_IMAGES
#define REQUIRE_PLACEHOLDER_IMAGES()
#else
#define REQUIRE_PLACEHOLDER_IMAGES() GTEST_SKIP() << "the embedded images carry no version mark"
#endif

// Parameter backups of the runs go to a temporary folder.
struct TBackupFolder {
  TBackupFolder() { qputenv("QVX_BACKUP_DIR", Dir.path().toLocal8Bit()); }
  QTemporaryDir Dir;
};

// ---- the main window ---------------------------------------------------------

// What the operator saw when the outcome's wait came up.
struct TOutcomeView {
  bool Seen = false;
  QString Label1, Label2;
  QColor Color;
  int Points = 0;
  bool WindowEnabled = true;
  bool EntriesEnabled = true;
};

struct TWindowUpdateTest : ::testing::Test {
  TBackupFolder Backup;
  QTemporaryDir Dir;
  TVirtualHost Host;
  TSimLinkFactory Links{Host};
  std::unique_ptr<TSimUnit> Unit;
  std::unique_ptr<TRXProgAppForm> Form;
  QTimer Operator;

  // The window started up on the simulated unit over TCP/IP.
  void Start(std::vector<std::string> switches = {}) {
    std::string error;
    Unit = TSimUnit::Create(Host, TSimLink::Tcp, switches, &error);
    ASSERT_TRUE(Unit) << error;
    Links.AddTcpEndpoint("127.0.0.1", 40999, &Unit->Reader());
    Form = std::make_unique<TRXProgAppForm>(Host, Links, Dir.filePath("qvxupdate.ini"));
    Form->Controller()->FLinkKind = 1;
    Form->FormUi().FPresetTcpChoice = SimulatedTcpChoice(40999, Form->Controller()->FTcpPara);
    Form->show();
    Form->FormShow();
  }
  void TearDown() override {
    Operator.stop();
    Form.reset();
    Host.RunFor(10000);
  }
  // The operator acts on the update's dialog whenever it waits for them.
  void OperateDialog(std::function<void(TConfirm1Dlg*)> act) {
    Operator.setInterval(5);
    QObject::connect(&Operator, &QTimer::timeout, [this, act] {
      TConfirm1Dlg* d = Form->FormUi().Confirm();
      if (d && d->isVisible() && d->isEnabled() && d->OKBtn->isEnabled()) act(d);
    });
    Operator.start();
  }
  TOutcomeView View(TConfirm1Dlg* d) const {
    TOutcomeView v;
    v.Seen = true;
    v.Label1 = d->Label1->text();
    v.Label2 = d->Label2->text();
    v.Color = d->Label1->palette().color(QPalette::WindowText);
    v.Points = d->Label1->font().pointSize();
    v.WindowEnabled = Form->isEnabled();
    v.EntriesEnabled = Form->TB_Write->isEnabled() || Form->N2->isEnabled() ||
                       Form->MnFarm->isEnabled() || Form->MnProgram->isEnabled();
    return v;
  }
  TLines Log() const {
    TLines lines;
    for (const QString& l : Form->SPTMemo->toPlainText().split(QLatin1Char('\n')))
      lines.push_back(l.toStdString());
    return lines;
  }
};

TEST_F(TWindowUpdateTest, ToolButtonRunsTheUpdateToABlueOkAndNoEntryStartsAnother) {
  REQUIRE_PLACEHOLDER_IMAGES();
  Start();
  ASSERT_EQ(Log(), kTcpFound);
  ASSERT_TRUE(Form->TB_Write->isEnabled());
  TOutcomeView view;
  OperateDialog([&](TConfirm1Dlg* d) {
    view = View(d);
    QTest::mouseClick(d->OKBtn, Qt::LeftButton);
  });

  Form->TB_Write->trigger();

  ASSERT_TRUE(view.Seen);
  EXPECT_EQ(view.Label1, "OK");
  EXPECT_EQ(view.Color, QColor(0, 0, 255));
  EXPECT_EQ(view.Points, 72);
  EXPECT_EQ(view.Label2, "アップデートが正常に終了しました");
  EXPECT_FALSE(view.WindowEnabled);  // until the operator has confirmed
  EXPECT_FALSE(view.EntriesEnabled);
  EXPECT_EQ(Log(), Join(kTcpFound, UpdateOk(true)));
  EXPECT_EQ(Form->FUpdateResult, 0);
  EXPECT_EQ(Form->FRomVersionText, "2130KRV07");
  EXPECT_EQ(Form->FormUi().Confirm(), nullptr);
  EXPECT_TRUE(Form->isEnabled());
  EXPECT_EQ(Form->CGauge1->value(), 0);
  EXPECT_TRUE(Form->STTitle->text().isEmpty());

  // None of the three entries, nor their keys, starts another run.
  QApplication::setActiveWindow(Form.get());
  const TLines after = Log();
  for (QAction* entry : {Form->TB_Write, Form->N2, Form->MnProgram}) {
    EXPECT_FALSE(entry->isEnabled()) << entry->objectName().toStdString();
    entry->trigger();
  }
  QTest::keyClick(Form.get(), Qt::Key_F9);
  QTest::keyClick(Form.get(), Qt::Key_U, Qt::ControlModifier);
  EXPECT_EQ(Log(), after);
  EXPECT_EQ(Form->FormUi().Confirm(), nullptr);
}

TEST_F(TWindowUpdateTest, ClosingTheDialogEndsTheFinalWaitLikeConfirm) {
  REQUIRE_PLACEHOLDER_IMAGES();
  Start();
  bool closed = false;
  OperateDialog([&](TConfirm1Dlg* d) { closed = d->close(); });
  Form->MnProgram->trigger();
  EXPECT_TRUE(closed);
  EXPECT_EQ(Log().back(), "");
  EXPECT_EQ(Form->FormUi().Confirm(), nullptr);
  EXPECT_TRUE(Form->isEnabled());
}

TEST_F(TWindowUpdateTest, FailedUpdateShowsRedNgAndGivesTheWindowBack) {
  Start({"param-fault=refuse:U:74@1x*"});
  TOutcomeView view;
  bool closedAtOnce = true;
  OperateDialog([&](TConfirm1Dlg* d) {
    view = View(d);
    // Closing the window given back waits until the update has returned.
    closedAtOnce = Form->close();
    QTest::mouseClick(d->OKBtn, Qt::LeftButton);
  });
  Form->N2->trigger();
  EXPECT_FALSE(closedAtOnce);
  EXPECT_FALSE(Form->isVisible());
  EXPECT_EQ(Form->Controller(), nullptr);
  ASSERT_TRUE(view.Seen);
  EXPECT_EQ(view.Label1, "NG");
  EXPECT_EQ(view.Color, QColor(255, 0, 0));
  EXPECT_EQ(view.Points, 72);
  EXPECT_EQ(view.Label2, "アップデートに失敗しました");
  EXPECT_TRUE(view.WindowEnabled);  // given back before the final wait
  EXPECT_FALSE(view.EntriesEnabled);
  EXPECT_EQ(Log().back(), "再度ソフトを起動し、もう一度書き込みを行ってください。");
}

TEST_F(TWindowUpdateTest, WithoutAReaderF9ShowsTheErrorBoxWithASingleYes) {
  Start({"no-reader"});
  QApplication::setActiveWindow(Form.get());
  ASSERT_FALSE(Form->TB_Write->isEnabled());
  ASSERT_TRUE(Form->MnProgram->isEnabled());  // the pop-up entry stays
  const TLines before = Log();
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QTimer answer;
  answer.setInterval(5);
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    text = box->text();
    icon = box->icon();
    buttons = box->standardButtons();
    box->done(0);
  });
  answer.start();
  QTest::keyClick(Form.get(), Qt::Key_F9);
  EXPECT_EQ(text, "R/Wモジュールが見つかりませんでした。");
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_EQ(buttons, QMessageBox::StandardButtons(QMessageBox::Yes));
  EXPECT_EQ(Log(), before);
  EXPECT_EQ(Form->FormUi().Confirm(), nullptr);
  EXPECT_TRUE(Unit->Monitor().FWriteLog.empty());
}

TEST_F(TWindowUpdateTest, DisabledDialogIgnoresCloseRequestsAndAHiddenOneStaysHidden) {
  Start();
  TFormUi& ui = Form->FormUi();
  ui.CreateConfirm();
  ui.SetConfirmEnabled(false);
  ui.ShowConfirm();
  TConfirm1Dlg* d = ui.Confirm();
  ASSERT_NE(d, nullptr);
  EXPECT_FALSE(d->close());
  EXPECT_TRUE(d->isVisible());
  EXPECT_EQ(d->FWaitFlag, 1);
  ui.SetConfirmEnabled(true);
  EXPECT_TRUE(d->close());
  EXPECT_EQ(d->FWaitFlag, 0);
  ui.BringConfirmToFront();
  EXPECT_FALSE(d->isVisible());
  ui.WaitForOperator();  // returns at once: the flag is 0
  ui.ShowConfirm();
  EXPECT_EQ(d->FWaitFlag, 1);
  ui.DestroyConfirm();
  EXPECT_EQ(ui.Confirm(), nullptr);
}

// ---- the Qt host's pauses ------------------------------------------------------

TEST(QtHostPause, PaintsButHoldsBackLinkNotificationsUntilItEnds) {
  struct TCounting : QWidget {
    int Paints = 0;
    void paintEvent(QPaintEvent*) override { ++Paints; }
  } canvas;
  canvas.resize(50, 50);
  canvas.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&canvas));
  QTcpServer server;
  ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
  int connections = 0;
  QObject::connect(&server, &QTcpServer::newConnection, [&] { ++connections; });

  TQtHost host;
  const int paintsBefore = canvas.Paints;
  canvas.update();
  QTcpSocket client;
  client.connectToHost(QHostAddress::LocalHost, server.serverPort());
  QElapsedTimer t;
  t.start();
  host.Sleep(200);
  EXPECT_GE(t.elapsed(), 200);
  EXPECT_GT(canvas.Paints, paintsBefore);
  EXPECT_EQ(connections, 0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return connections == 1; }, 2000));
}

// ---- the command line in virtual time ----------------------------------------

struct TCliUpdateTest : ::testing::Test {
  TBackupFolder Backup;
  QTemporaryDir Dir;
  TVirtualHost Host;
  TSimLinkFactory Links{Host};
  TFixedPorts Ports;  // none
  std::unique_ptr<TSimUnit> Unit;
  TCapture Out, Err;

  void TearDown() override { Host.RunFor(10000); }
  int Run(const QStringList& args, std::vector<std::string> switches, std::FILE* in = nullptr,
          bool terminal = false) {
    std::string error;
    Unit = TSimUnit::Create(Host, TSimLink::Tcp, switches, &error);
    EXPECT_TRUE(Unit) << error;
    if (!Unit) return -1;
    Links.AddTcpEndpoint("10.1.2.3", 9004, &Unit->Reader());
    TCliOptions o;
    QString why;
    EXPECT_TRUE(ParseCliOptions(QStringList{"--tcp", "10.1.2.3:9004"} + args, &o, &why));
    TCliStreams streams;
    streams.Out = Out.File();
    streams.Err = Err.File();
    if (in) streams.In = in;
    streams.ErrIsTerminal = terminal;
    return RunCli(o, Host, Links, Ports, Dir.filePath("q.ini"), streams);
  }
};

TEST_F(TCliUpdateTest, EnterAnswersTheConfirmationAndStdoutIsExactlyTheLog) {
  REQUIRE_PLACEHOLDER_IMAGES();
  TCapture in("\n");
  EXPECT_EQ(Run({}, {}, in.File()), kExitOk);
  EXPECT_EQ(SplitLines(Out.Text()), Join(kTcpFound, UpdateOk(true)));
  EXPECT_EQ(SplitLines(Err.Text()), (TLines{"confirm: OK (Enter)", "result: OK"}));
  EXPECT_EQ(in.Position(), 1);  // the one line was taken
}

TEST_F(TCliUpdateTest, NgEndsWithStatusOneAndTheResultCode) {
  // Standard input at its end answers the confirmation as well.
  TCapture in;
  EXPECT_EQ(Run({}, {"param-fault=refuse:U:74@1x*"}, in.File()), kExitUpdateNg);
  const TLines out = SplitLines(Out.Text());
  ASSERT_GE(out.size(), 3u);
  EXPECT_EQ(TLines(out.end() - 3, out.end()),
            (TLines{"R/Wの接続、設定を確認してください。",
                    "ソフトを終了し、R/Wの電源を入れ直してください。",
                    "再度ソフトを起動し、もう一度書き込みを行ってください。"}));
  EXPECT_EQ(SplitLines(Err.Text()), (TLines{"confirm: NG (Enter)", "result: NG 0"}));
}

TEST_F(TCliUpdateTest, ProgressBarOnATerminalShowsBytesRateAndTimeLeft) {
  REQUIRE_PLACEHOLDER_IMAGES();
  EXPECT_EQ(Run({"--yes"}, {}, nullptr, true), kExitOk);
  const std::string err = Err.Text();
  const size_t last = err.rfind("[########################################] 100%");
  ASSERT_NE(last, std::string::npos) << err;
  const std::string line = err.substr(last, err.find('\n', last) - last);
  EXPECT_NE(line.find("/"), std::string::npos);
  EXPECT_NE(line.find(" bytes"), std::string::npos) << line;
  EXPECT_NE(line.find(" KiB/s"), std::string::npos) << line;
  EXPECT_NE(line.find("0:00 left"), std::string::npos) << line;
  // The last bar (the gauge back at 0) is wiped before the result line.
  EXPECT_EQ(err.substr(err.size() - 12), "\rresult: OK\n");
}

// ---- the built executables ------------------------------------------------------

struct TExecutableTest : ::testing::Test {
  QTemporaryDir Dir;
  QTemporaryDir BackupDir;

  TToolRun RunTool(const QStringList& args) {
    return RunQvxUpdate(QStringList{"--yes", "--settings", Dir.filePath("e2e.ini")} + args,
                        BackupDir.path(), 240000);
  }
};

TEST_F(TExecutableTest, SimulateUpdatesTheBuiltInReader) {
  REQUIRE_PLACEHOLDER_IMAGES();
  const TToolRun r = RunTool({"--simulate"});
  EXPECT_EQ(r.Status, kExitOk);
  EXPECT_EQ(r.Out, Join(kTcpFound, UpdateOk(true)));
  EXPECT_EQ(r.Err, TLines{"result: OK"});
}

TEST_F(TExecutableTest, OverAPseudoTerminal) {
  REQUIRE_PLACEHOLDER_IMAGES();
  TSimProcess sim({"--serial"});
  ASSERT_TRUE(sim.Line.startsWith("serial: /dev/pts/")) << sim.Line.toStdString();
  const TToolRun r = RunTool({"--serial", sim.Value()});
  EXPECT_EQ(r.Status, kExitOk);
  const TLines found = {"ROM Version : 2120KRV07", "Find QVX R/W ",
                        "PORT   : " + std::to_string(ComPortNumber(sim.Value().toStdString())),
                        "Speed  : 115200", "Module : QVX-K417      "};
  // No interface board on the reader's own port: the restart advice follows.
  EXPECT_EQ(r.Out, Join(found, UpdateOk(false)));
  EXPECT_EQ(r.Err, TLines{"result: OK"});
}

TEST_F(TExecutableTest, AsTcpClientOfTheBoard) {
  REQUIRE_PLACEHOLDER_IMAGES();
  TSimProcess sim({"--tcp-server", "0"});
  ASSERT_TRUE(sim.Line.startsWith("listening: ")) << sim.Line.toStdString();
  const TToolRun r = RunTool({"--tcp", "127.0.0.1:" + sim.Value()});
  EXPECT_EQ(r.Status, kExitOk);
  EXPECT_EQ(r.Out, Join(kTcpFound, UpdateOk(true)));
  EXPECT_EQ(r.Err, TLines{"result: OK"});
}

TEST_F(TExecutableTest, AsTcpServerTheBoardConnectsTo) {
  REQUIRE_PLACEHOLDER_IMAGES();
  const int port = FreeTcpPort();
  ASSERT_GT(port, 0);
  TSimProcess sim({"--tcp-connect", "127.0.0.1:" + QString::number(port)});
  ASSERT_TRUE(sim.Line.startsWith("connecting: ")) << sim.Line.toStdString();
  const TToolRun r = RunTool({"--listen", QString::number(port)});
  EXPECT_EQ(r.Status, kExitOk);
  EXPECT_EQ(r.Out, Join(kTcpFound, UpdateOk(true)));
  EXPECT_EQ(r.Err, TLines{"result: OK"});
}

TEST_F(TExecutableTest, FailedUpdateExitsWithStatusOne) {
  TSimProcess sim({"--tcp-server", "0", "--bm-refuse-block=0"});
  ASSERT_TRUE(sim.Line.startsWith("listening: ")) << sim.Line.toStdString();
  const TToolRun r = RunTool({"--tcp", "127.0.0.1:" + sim.Value()});
  EXPECT_EQ(r.Status, kExitUpdateNg);
  ASSERT_FALSE(r.Out.empty());
  EXPECT_EQ(
      r.Out.back(),
      "再度ソフトを起動し、［再書込み行う］にチェックを入れてもう一度書き込みを行ってください。");
  EXPECT_EQ(r.Err, TLines{"result: NG 3"});
}

}  // namespace
