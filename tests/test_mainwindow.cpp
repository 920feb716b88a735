// The main window on real widgets (offscreen): construction, the log rules,
// the update command's entries, closing with the settings, the embedded
// sounds and the Japanese fonts.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include "app/FormUi.h"
#include "app/IniFile.h"
#include "app/TRXProgAppForm.h"
#include "app/TimerPeriod.h"
#include "link/FlashWrRXCont.h"
#include "sim/InProcessLink.h"
#include "sim/VirtualHost.h"
#include "support/WidgetsApp.h"

namespace {

const auto* const kEnvironment = AddWidgetsEnvironment("test_mainwindow", {.MapFonts = true});

// Answers every modal message box that opens while it lives, noting what it
// showed.
class TBoxAnswerer {
 public:
  TBoxAnswerer() {
    FTimer.setInterval(5);
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      Texts << box->text();
      Icons.push_back(box->icon());
      Buttons.push_back(box->standardButtons());
      box->done(0);
    });
    FTimer.start();
  }
  QStringList Texts;
  std::vector<QMessageBox::Icon> Icons;
  std::vector<QMessageBox::StandardButtons> Buttons;

 private:
  QTimer FTimer;
};

std::string Lines(const TRXProgAppForm& f) {
  return f.SPTMemo->toPlainText().toStdString();
}

struct TMainWindowTest : ::testing::Test {
  QTemporaryDir Dir;
  TVirtualHost Host;
  TSimLinkFactory Links{Host};
  std::unique_ptr<TRXProgAppForm> Form;

  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    Form = std::make_unique<TRXProgAppForm>(Host, Links, Dir.filePath("qvxupdate.ini"));
  }
  TFlashWrRXCont& C() { return *Form->Controller(); }
};

TEST_F(TMainWindowTest, ConstructsWithItsComponentsAndInitialState) {
  TRXProgAppForm& f = *Form;
  EXPECT_EQ(f.windowTitle(), "QVX RORaderaD116");
  EXPECT_FALSE(f.MnCmd->menuAction()->isVisible());
  EXPECT_FALSE(f.MnConfig->menuAction()->isVisible());
  EXPECT_TRUE(f.STAddr->isHidden());
  EXPECT_TRUE(f.File1->menuAction()->isVisible());
  EXPECT_EQ(f.CGauge1->value(), 0);
  EXPECT_TRUE(f.STTitle->text().isEmpty());
  EXPECT_EQ(f.N4->actions().size(), 15);
  EXPECT_EQ(f.N18->actions().size(), 15);
  EXPECT_EQ(f.MnCmdCheck->text(), "コマンドチェック");

  EXPECT_EQ(f.N2->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_U));
  EXPECT_EQ(f.MnProgram->shortcut(), QKeySequence(Qt::Key_F9));
  EXPECT_EQ(f.MnClear->shortcut(), QKeySequence(Qt::Key_F4));
  EXPECT_EQ(f.TB_Write->toolTip(), "ファームアップデート");
  EXPECT_FALSE(f.TB_Write->icon().isNull());

  // The serial record, and the controller's copy with every log switch off
  // although its constructor turns the traces on.
  EXPECT_EQ(f.FComPara.BaudRate, 115200);
  EXPECT_EQ(f.FComPara.WriteSpeedIndex, 4);
  EXPECT_EQ(f.FComPara.BootNewBitRate, 115200);
  EXPECT_EQ(C().FComPara.BaudRate, 115200);
  EXPECT_EQ(C().FDetailLog, 0);
  EXPECT_EQ(C().FTxTrace, 0);
  EXPECT_EQ(C().FRxTrace, 0);
  // Settings loaded: no file gives the TCP/IP link first.
  EXPECT_EQ(C().FLinkKind, 1);
  EXPECT_EQ(f.FIniFileName, Dir.filePath("qvxupdate.ini"));

  EXPECT_EQ(RXProgAppForm(), Form.get());
  EXPECT_EQ(FlashWrRXCont(), Form->Controller());

  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  EXPECT_EQ(f.width(), kClientWidth);
  EXPECT_EQ(f.height() - f.menuBar()->height(), kClientHeight);
  EXPECT_EQ(f.ToolBar1->height() + f.SPTMemo->height() + f.statusBar()->height() + 41,
            kClientHeight);
}

TEST_F(TMainWindowTest, LogIsEmptiedWhenItHoldsAThousandLines) {
  TRXProgAppForm& f = *Form;
  for (int i = 0; i < 999; ++i) f.AppendLog("line " + std::to_string(i), true);
  EXPECT_EQ(f.LogLineCount(), 999);
  f.AppendLog("line 999", true);
  EXPECT_EQ(f.LogLineCount(), 1000);
  EXPECT_EQ(f.SPTMemo->document()->lastBlock().text(), "line 999");
  f.AppendLog("fresh", true);
  EXPECT_EQ(f.LogLineCount(), 1);
  EXPECT_EQ(Lines(f), "fresh");

  // A detail line is not shown: the window's detail switch is off.
  f.AppendLog("detail", false);
  EXPECT_EQ(Lines(f), "fresh");

  f.MnClearClick();
  EXPECT_EQ(f.LogLineCount(), 0);
  // Empty lines are lines too, the first one included.
  f.AppendLog("", true);
  EXPECT_EQ(f.LogLineCount(), 1);
  f.AppendLog("", true);
  f.AppendLog("x", true);
  EXPECT_EQ(f.LogLineCount(), 3);
  EXPECT_EQ(Lines(f), "\n\nx");
}

TEST_F(TMainWindowTest, ControllerWritesToTheSameLogUnderTheSameRule) {
  TRXProgAppForm& f = *Form;
  f.AppendLog("from the window", true);
  C().AddLog("from the controller", true);
  C().AddLog("controller detail", false);
  EXPECT_EQ(Lines(f), "from the window\nfrom the controller");
  for (int i = f.LogLineCount(); i < kLogMaxLines; ++i) f.AppendLog("x", true);
  C().AddLog("after the limit", true);
  EXPECT_EQ(f.LogLineCount(), 1);
  EXPECT_EQ(Lines(f), "after the limit");
}

TEST_F(TMainWindowTest, ShortcutsReachTheirEntriesUntilTheCommandIsDisabled) {
  TRXProgAppForm& f = *Form;
  f.show();
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  QSignalSpy update(f.N2, &QAction::triggered);
  QSignalSpy program(f.MnProgram, &QAction::triggered);
  // No reader was accepted: every press that arrives gets the refusal box.
  TBoxAnswerer boxes;
  // Each key goes to the window, made active again after a refusal box.
  auto press = [&](Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    QTest::keyClick(&f, key, mods);
  };

  f.AppendLog("something", true);
  QTest::keyClick(&f, Qt::Key_F4);
  EXPECT_EQ(f.LogLineCount(), 0);

  press(Qt::Key_U, Qt::ControlModifier);
  press(Qt::Key_F9);
  EXPECT_EQ(update.count(), 1);
  EXPECT_EQ(program.count(), 1);

  // Without a reader the tool button and the firmware menu go off; the
  // pop-up entry stays unless asked.
  TFormUi ui(f);
  ui.DisableUpdateEntries(false);
  EXPECT_FALSE(f.TB_Write->isEnabled());
  press(Qt::Key_U, Qt::ControlModifier);
  press(Qt::Key_F9);
  EXPECT_EQ(update.count(), 1);
  EXPECT_EQ(program.count(), 2);
  ui.DisableUpdateEntries(true);
  press(Qt::Key_F9);
  EXPECT_EQ(program.count(), 2);
  EXPECT_EQ(boxes.Texts.size(), 3);
}

TEST_F(TMainWindowTest, ClosingSavesTheSettingsAlsoWithNothingConnected) {
  // No audio device here: starting a clip must return at once, not block.
  Form->PlayRingSound();
  Form->PlayAlarmSound();
  C().FLinkKind = 0;
  C().FTcpPara = {4001, 1, 4002, "10.20.30.40"};
  EXPECT_TRUE(Form->close());
  EXPECT_EQ(FlashWrRXCont(), nullptr);
  EXPECT_EQ(Form->Controller(), nullptr);

  TIniFile ini;
  ASSERT_TRUE(ReadIniFile(Form->FIniFileName, &ini, nullptr));
  EXPECT_EQ(ini.ReadInteger("Option", "Use_USB_TCP", -1), 0);
  EXPECT_EQ(ini.ReadInteger("Option", "Port", -1), 1);
  EXPECT_EQ(ini.ReadInteger("Option", "TCPPort", -1), 4001);
  EXPECT_EQ(ini.ReadInteger("Option", "fTCPServer", -1), 1);
  EXPECT_EQ(ini.ReadInteger("Option", "TCPServPort", -1), 4002);
  EXPECT_EQ(ini.ReadString("Option", "TCPServAddr"), "10.20.30.40");

  // The sounds are gone with the controller; playing is harmless.
  Form->PlayRingSound();
  Form->PlayAlarmSound();
  Form.reset();
  EXPECT_EQ(RXProgAppForm(), nullptr);
}

TEST_F(TMainWindowTest, AFailingSaveKeepsTheWindowOpen) {
  ASSERT_TRUE(QDir(Dir.path()).mkdir("blocked"));
  Form->FIniFileName = Dir.filePath("blocked");  // a folder cannot be written as a file
  Form->show();
  {
    TBoxAnswerer boxes;
    EXPECT_FALSE(Form->close());
    ASSERT_EQ(boxes.Texts.size(), 1);
    EXPECT_TRUE(boxes.Texts[0].contains(Form->FIniFileName)) << boxes.Texts[0].toStdString();
    EXPECT_EQ(boxes.Icons[0], QMessageBox::Critical);
  }
  EXPECT_TRUE(Form->isVisible());
  ASSERT_NE(Form->Controller(), nullptr);
  EXPECT_EQ(FlashWrRXCont(), Form->Controller());

  // Once the file can be written the close goes through.
  Form->FIniFileName = Dir.filePath("qvxupdate.ini");
  EXPECT_TRUE(Form->close());
  EXPECT_TRUE(QFile::exists(Form->FIniFileName));
}

TEST_F(TMainWindowTest, ADisabledWindowDoesNotPullTheControllerAway) {
  Form->setEnabled(false);
  EXPECT_FALSE(Form->close());
  EXPECT_NE(Form->Controller(), nullptr);
  EXPECT_FALSE(QFile::exists(Form->FIniFileName));
  Form->setEnabled(true);
  EXPECT_TRUE(Form->close());
}

TEST_F(TMainWindowTest, MessageBoxesAndGaugeThroughTheUi) {
  TFormUi ui(*Form);
  {
    TBoxAnswerer boxes;
    ui.ShowMessage("エラー", TMsgKind::Error);
    ui.ShowMessage("plain", TMsgKind::Plain);
    ASSERT_EQ(boxes.Texts.size(), 2);
    EXPECT_EQ(boxes.Texts[0], "エラー");
    EXPECT_EQ(boxes.Icons[0], QMessageBox::Critical);
    EXPECT_EQ(boxes.Buttons[0], QMessageBox::Yes);
    EXPECT_EQ(boxes.Icons[1], QMessageBox::NoIcon);
  }
  ui.SetGauge(150);
  EXPECT_EQ(Form->CGauge1->value(), 100);
  ui.SetGauge(-3);
  EXPECT_EQ(Form->CGauge1->value(), 0);
}

// ---- sounds -------------------------------------------------------------

struct TWaveFormat {
  uint32_t FileSize = 0;
  uint32_t RiffSize = 0;
  uint16_t Format = 0;
  uint16_t Channels = 0;
  uint32_t Rate = 0;
  uint32_t ByteRate = 0;
  uint16_t BlockAlign = 0;
  uint16_t Bits = 0;
  uint32_t DataSize = 0;
  QByteArray Samples;
};

uint32_t Le(const QByteArray& b, int at, int width) {
  uint32_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(b[at + i]);
  return v;
}

// Walks the RIFF chunks; an unexpected layout leaves fields at 0.
TWaveFormat ParseWave(const QByteArray& b) {
  TWaveFormat w;
  w.FileSize = static_cast<uint32_t>(b.size());
  if (b.size() < 12 || b.left(4) != "RIFF" || b.mid(8, 4) != "WAVE") return w;
  w.RiffSize = Le(b, 4, 4);
  int at = 12;
  while (at + 8 <= b.size()) {
    const QByteArray id = b.mid(at, 4);
    const uint32_t size = Le(b, at + 4, 4);
    const int body = at + 8;
    if (id == "fmt " && size >= 16) {
      w.Format = static_cast<uint16_t>(Le(b, body, 2));
      w.Channels = static_cast<uint16_t>(Le(b, body + 2, 2));
      w.Rate = Le(b, body + 4, 4);
      w.ByteRate = Le(b, body + 8, 4);
      w.BlockAlign = static_cast<uint16_t>(Le(b, body + 12, 2));
      w.Bits = static_cast<uint16_t>(Le(b, body + 14, 2));
    } else if (id == "data") {
      w.DataSize = size;
      w.Samples = b.mid(body, static_cast<int>(size));
    }
    at = body + static_cast<int>(size + (size & 1));
  }
  return w;
}

TEST(EmbeddedSounds, ExactFormatsAndSizes) {
  struct TCase {
    const char* Resource;
    uint32_t Rate;
    uint32_t Size;
  };
  const TCase cases[] = {{kRingSoundResource, 22050, 29356}, {kAlarmSoundResource, 11025, 6412}};
  QByteArray previous;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Resource);
    QFile f(QString::fromLatin1(c.Resource));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const TWaveFormat w = ParseWave(f.readAll());
    EXPECT_EQ(w.FileSize, c.Size);
    EXPECT_EQ(w.RiffSize, c.Size - 8);
    EXPECT_EQ(w.Format, 1);  // PCM
    EXPECT_EQ(w.Channels, 1);
    EXPECT_EQ(w.Bits, 8);
    EXPECT_EQ(w.Rate, c.Rate);
    EXPECT_EQ(w.ByteRate, c.Rate);
    EXPECT_EQ(w.BlockAlign, 1);
    ASSERT_EQ(w.DataSize, c.Size - 44);
    ASSERT_EQ(static_cast<uint32_t>(w.Samples.size()), w.DataSize);
    // Audible, not clipped flat, and starting and ending near silence.
    int lo = 255, hi = 0;
    for (char s : w.Samples) {
      lo = std::min(lo, static_cast<int>(static_cast<uint8_t>(s)));
      hi = std::max(hi, static_cast<int>(static_cast<uint8_t>(s)));
    }
    EXPECT_GT(hi - lo, 150);
    EXPECT_NEAR(static_cast<uint8_t>(w.Samples.front()), 128, 2);
    EXPECT_NEAR(static_cast<uint8_t>(w.Samples.back()), 128, 2);
    EXPECT_NE(w.Samples, previous);
    previous = w.Samples;
  }
}

// ---- fonts --------------------------------------------------------------

TEST_F(TMainWindowTest, JapaneseFontBacksTheFormFont) {
  const QStringList japanese = QFontDatabase::families(QFontDatabase::Japanese);
  ASSERT_FALSE(japanese.isEmpty()) << "install fonts-ipafont-mincho";
  EXPECT_TRUE(MapJapaneseFonts());
  const QFontInfo title(Form->STTitle->font());
  EXPECT_TRUE(japanese.contains(title.family())) << title.family().toStdString();
  EXPECT_EQ(title.pixelSize(), kTitleFontPx);
  const QFontInfo memo(Form->SPTMemo->font());
  EXPECT_TRUE(japanese.contains(memo.family())) << memo.family().toStdString();
  EXPECT_EQ(memo.pixelSize(), kMemoFontPx);
}

// ---- timer period -------------------------------------------------------

TEST(TimerPeriod, AsksFromOneMillisecondUpUntilAccepted) {
  std::vector<uint32_t> asked;
  auto refuseBelow = [&](uint32_t limit) {
    return [&asked, limit](uint32_t ms) {
      asked.push_back(ms);
      return ms < limit ? kTimerPeriodNotPossible : 0u;
    };
  };
  EXPECT_EQ(RequestFinestTimerPeriod(refuseBelow(1)), 1u);
  EXPECT_EQ(asked, std::vector<uint32_t>{1});

  asked.clear();
  EXPECT_EQ(RequestFinestTimerPeriod(refuseBelow(5)), 5u);
  EXPECT_EQ(asked, (std::vector<uint32_t>{1, 2, 3, 4, 5}));

  asked.clear();
  EXPECT_EQ(RequestFinestTimerPeriod(refuseBelow(2000)), 0u);
  ASSERT_EQ(asked.size(), 1000u);
  EXPECT_EQ(asked.back(), 1000u);

  // Any other refusal ends the search.
  asked.clear();
  EXPECT_EQ(RequestFinestTimerPeriod([&](uint32_t ms) {
              asked.push_back(ms);
              return 5u;
            }),
            0u);
  EXPECT_EQ(asked.size(), 1u);
}

}  // namespace
