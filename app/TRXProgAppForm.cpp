#include "app/TRXProgAppForm.h"

#include <algorithm>

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFont>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QShowEvent>
#include <QSoundEffect>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

#include "app/FormUi.h"
#include "app/HiddenMenus.h"
#include "app/ImageSource.h"
#include "app/InfoDialogs.h"
#include "app/OpenComDlg.h"
#include "app/Platform.h"
#include "app/Settings.h"
#include "app/TimerPeriod.h"
#include "app/UpdateSequence.h"
#include "link/FirmwareVersion.h"
#include "link/FlashWrRXCont.h"
#include "mcuboot/ProgramLoader.h"
#include "reader/ParamBackupFile.h"

namespace {

TRXProgAppForm* gForm = nullptr;
TFlashWrRXCont* gCont = nullptr;

// Layout of the window, in pixels.
constexpr int kToolBarHeight = 30;
constexpr int kHeaderHeight = 41;
constexpr int kStatusBarHeight = 19;
constexpr QRect kTitleRect(18, 8, 177, 28);
constexpr QRect kGaugeRect(208, 8, 279, 28);
constexpr int kIconSize = 20;

// The initial serial record of the window.
constexpr int32_t kInitialBaudRate = 115200;
constexpr int32_t kInitialWriteSpeedIndex = 4;
constexpr int32_t kInitialBootNewBitRate = 115200;

const char kUpdateHint[] = "ファームアップデート";

QFont FormFont(int pixelSize) {
  QFont f(QString::fromUtf8(kFormFontFamily));
  f.setPixelSize(pixelSize);
  f.setStyleHint(QFont::Serif);
  return f;
}

// The update button's picture: an arrow going down into a chip.
QIcon UpdateIcon() {
  QPixmap pm(kIconSize, kIconSize);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF chip(4, 11, 12, 7);
  p.setPen(QPen(QColor(60, 60, 60), 1));
  for (int x = 6; x <= 14; x += 3) {
    p.drawLine(QPointF(x, 9.5), QPointF(x, 11));
    p.drawLine(QPointF(x, 18), QPointF(x, 19.5));
  }
  p.setBrush(QColor(40, 40, 40));
  p.drawRoundedRect(chip, 1.5, 1.5);
  QPainterPath arrow;
  arrow.moveTo(8, 1);
  arrow.lineTo(12, 1);
  arrow.lineTo(12, 6);
  arrow.lineTo(15, 6);
  arrow.lineTo(10, 11);
  arrow.lineTo(5, 6);
  arrow.lineTo(8, 6);
  arrow.closeSubpath();
  p.setPen(QPen(QColor(0, 60, 160), 1));
  p.setBrush(QColor(30, 120, 230));
  p.drawPath(arrow);
  return QIcon(pm);
}

QAction* AddItem(QMenu* menu, const char* name, const char* caption) {
  QAction* a = menu->addAction(QString::fromUtf8(caption));
  a->setObjectName(QString::fromLatin1(name));
  return a;
}

QMenu* AddSubMenu(QMenu* parent, const char* name, const char* caption) {
  QMenu* m = parent->addMenu(QString::fromUtf8(caption));
  m->setObjectName(QString::fromLatin1(name));
  m->menuAction()->setObjectName(QString::fromLatin1(name));
  return m;
}

// One hidden menu item, or a separator when Member is null.
struct TMenuItem {
  QAction* TRXProgAppForm::*Member;
  const char* Name;
  const char* Caption;
};

void AddItems(TRXProgAppForm* form, QMenu* menu, std::initializer_list<TMenuItem> items) {
  for (const auto& item : items) {
    if (!item.Member)
      menu->addSeparator();
    else
      form->*item.Member = AddItem(menu, item.Name, item.Caption);
  }
}

std::unique_ptr<QSoundEffect> OpenSound(const char* resource) {
  auto sound = std::make_unique<QSoundEffect>();
  sound->setSource(QUrl(QStringLiteral("qrc") + QString::fromLatin1(resource)));
  return sound;
}

}  // namespace

bool MapJapaneseFonts() {
  const QString wanted = QString::fromUtf8(kFormFontFamily);
  const QStringList installed = QFontDatabase::families();
  if (installed.contains(wanted)) return true;
  QStringList candidates;
  for (const char* mincho : {"IPAMincho", "IPAexMincho", "IPAPMincho"})
    if (installed.contains(QString::fromLatin1(mincho))) candidates << QString::fromLatin1(mincho);
  for (const QString& family : QFontDatabase::families(QFontDatabase::Japanese))
    if (!candidates.contains(family)) candidates << family;
  if (candidates.isEmpty()) return false;
  QFont::insertSubstitutions(wanted, candidates);
  return true;
}

tagCOMPara InitialMainComPara() {
  tagCOMPara para{};
  para.Port = 0;  // the controller starts its copy at 1; the settings supply the rest
  para.BaudRate = kInitialBaudRate;
  para.Parity = 0;
  para.FlowControl = 0;
  para.WriteSpeedIndex = kInitialWriteSpeedIndex;
  para.BootNewBitRate = kInitialBootNewBitRate;
  return para;
}

TRXProgAppForm* RXProgAppForm() {
  return gForm;
}

TFlashWrRXCont* FlashWrRXCont() {
  return gCont;
}

TRXProgAppForm::TRXProgAppForm(IHost& host, ILinkFactory& links, const QString& iniFileName,
                               QWidget* parent)
    : QMainWindow(parent) {
  gForm = this;

  BuildMenus();
  BuildHiddenMenus();
  BuildClientArea();

  FTimerPeriodMs = BeginFinestTimerPeriod();

  MnCmd->menuAction()->setVisible(false);
  MnConfig->menuAction()->setVisible(false);
  STAddr->setVisible(false);
  CGauge1->setValue(0);

  FComPara = InitialMainComPara();

  FRingSound = OpenSound(kRingSoundResource);
  FAlarmSound = OpenSound(kAlarmSoundResource);

  FUi = std::make_unique<TFormUi>(*this);
  FCont = std::make_unique<TFlashWrRXCont>(host, links, *FUi, FComPara);
  gCont = FCont.get();

  FImageSource = std::make_unique<TQtImageSource>();
  FCont->FImageSource = FImageSource.get();
  FCont->FDetailLog = FMainDetailLog;
  FCont->FTxTrace = FMainTxTrace;
  FCont->FRxTrace = FMainRxTrace;
  SetUpMaintenance();

  FIniFileName =
      iniFileName.isEmpty() ? IniFileNameFor(QCoreApplication::applicationFilePath()) : iniFileName;
  LoadSettings();
}

TRXProgAppForm::~TRXProgAppForm() {
  // Destroyed without a close (tests, an aborted start): nothing is saved.
  ReleaseController();
  ReleaseSounds();
  if (gForm == this) gForm = nullptr;
}

void TRXProgAppForm::BuildMenus() {
  setWindowTitle(QString::fromUtf8(kWindowCaption));

  File1 = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
  File1->setObjectName(QStringLiteral("File1"));
  FileExit1 = AddItem(File1, "FileExit1", "終了(&X)");
  connect(FileExit1, &QAction::triggered, this, &TRXProgAppForm::FileExit1Execute);

  MnFarm = menuBar()->addMenu(QStringLiteral("ファーム(&E)"));
  MnFarm->setObjectName(QStringLiteral("MnFarm"));
  N2 = AddItem(MnFarm, "N2", "アップデート");
  N2->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_U));
  N2->setStatusTip(QString::fromUtf8(kUpdateHint));
  connect(N2, &QAction::triggered, this, &TRXProgAppForm::TB_WriteClick);

  // The hidden menus sit between the operator's menus; they are never shown.
  MnCmd = menuBar()->addMenu(QStringLiteral("コマンド"));
  MnCmd->setObjectName(QStringLiteral("MnCmd"));
  MnConfig = menuBar()->addMenu(QStringLiteral("設定"));
  MnConfig->setObjectName(QStringLiteral("MnConfig"));

  Help1 = menuBar()->addMenu(QStringLiteral("ヘルプ(&H)"));
  Help1->setObjectName(QStringLiteral("Help1"));
  HelpAbout1 = AddItem(Help1, "HelpAbout1", "バージョン情報(&A)...");
  connect(HelpAbout1, &QAction::triggered, this, &TRXProgAppForm::HelpAbout1Execute);

  ToolBar1 = addToolBar(QStringLiteral("ToolBar1"));
  ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
  ToolBar1->setMovable(false);
  ToolBar1->setFloatable(false);
  ToolBar1->setFixedHeight(kToolBarHeight);
  ToolBar1->toggleViewAction()->setVisible(false);
  TB_Write = ToolBar1->addAction(UpdateIcon(), QString::fromUtf8(kUpdateHint));
  TB_Write->setObjectName(QStringLiteral("TB_Write"));
  TB_Write->setToolTip(QString::fromUtf8(kUpdateHint));
  TB_Write->setStatusTip(QString::fromUtf8(kUpdateHint));
  connect(TB_Write, &QAction::triggered, this, &TRXProgAppForm::TB_WriteClick);

  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
  MnClear = AddItem(PopupMenu1, "MnClear", "クリア");
  MnClear->setShortcut(QKeySequence(Qt::Key_F4));
  connect(MnClear, &QAction::triggered, this, &TRXProgAppForm::MnClearClick);
  PopupMenu1->addSeparator();
  MnProgram = AddItem(PopupMenu1, "MnProgram", "書込");
  MnProgram->setShortcut(QKeySequence(Qt::Key_F9));
  connect(MnProgram, &QAction::triggered, this, &TRXProgAppForm::TB_WriteClick);
  // The pop-up menu belongs to the window: its shortcuts work while the
  // window is active, not only while the menu is open.
  addAction(MnClear);
  addAction(MnProgram);
  setContextMenuPolicy(Qt::CustomContextMenu);
  connect(this, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { ShowPopupMenu(this, pos); });
}

void TRXProgAppForm::BuildHiddenMenus() {
  using F = TRXProgAppForm;
  MnBitRate = AddItem(MnCmd, "MnBitRate", "ビットレート合わせ込み");
  N4 = AddSubMenu(MnCmd, "N4", "問い合わせコマンド");
  AddItems(this, N4,
           {{&F::MnSupportDevice, "MnSupportDevice", "サポートデバイス"},
            {&F::MnDeviceSelect, "MnDeviceSelect", "デバイス選択"},
            {&F::MnClockInfo, "MnClockInfo", "クロックモード問い合わせ"},
            {&F::MnSelectClockMode, "MnSelectClockMode", "クロックモード選択"},
            {&F::MnTeibaiInfo, "MnTeibaiInfo", "逓倍比問い合わせ"},
            {&F::MnGetClockInfo, "MnGetClockInfo", "動作周波数問い合わせ"},
            {&F::MnBootAreaInfo, "MnBootAreaInfo", "ブートモード領域情報問い合わせ"},
            {&F::MnUserAreaInfo, "MnUserAreaInfo", "ユーザ領域情報問い合わせ"},
            {&F::MnEraseBlockInfo, "MnEraseBlockInfo", "消去ブロック情報問い合わせ"},
            {&F::MnWriteSizeinfo, "MnWriteSizeinfo", "書き込みサイズ問い合わせ"},
            {&F::MnDataAreaChk, "MnDataAreaChk", "データ領域有無問い合わせ"},
            {&F::MnDataAreaInfo, "MnDataAreaInfo", "データ領域情報問い合わせ"},
            {&F::MnSelectBitRate, "MnSelectBitRate", "新ビットレート選択"},
            {&F::MnEraseStatusSet, "MnEraseStatusSet", "書き込み消去ステータス遷移"},
            {&F::MnBootProgInfo, "MnBootProgInfo", "ブートプログラムステータス問い合わせ"}});
  N18 = AddSubMenu(MnCmd, "N18", "プログラム / イレーズホストコマンド");
  AddItems(this, N18,
           {{&F::MnSelUserBootArea, "MnSelUserBootArea", "ユーザブート領域書き込み選択"},
            {&F::MnSelUSerArea, "MnSelUSerArea", "ユーザ領域書き込み選択"},
            {&F::MnWrite256Bytes, "MnWrite256Bytes", "256バイト書き込み"},
            {&F::MnSelErase, "MnSelErase", "消去選択"},
            {&F::MnBlockErase, "MnBlockErase", "ブロック消去"},
            {&F::MnMemRead, "MnMemRead", "メモリリード"},
            {&F::MnUserBootSumCheck, "MnUserBootSumCheck", "ユーザブート領域サムチェック"},
            {&F::MnUserAreaSumCheck, "MnUserAreaSumCheck", "ユーザ領域サムチェック"},
            {&F::MnDataSumCheck, "MnDataSumCheck", "データ領域チェックサム"},
            {&F::MnUserBootBlankCheck, "MnUserBootBlankCheck", "ユーザブート領域ブランクチェック"},
            {&F::MnUserAreaBlankCheck, "MnUserAreaBlankCheck", "ユーザ領域ブランクチェック"},
            {&F::MnReadLockBitStatus, "MnReadLockBitStatus", "リードロックビットステータス"},
            {&F::MnProgLockBit, "MnProgLockBit", "ロックビットプログラム"},
            {&F::MnEnLockBit, "MnEnLockBit", "ロックビット有効"},
            {&F::MnDisaLockBit, "MnDisaLockBit", "ロックビット無効"}});
  AddItems(this, MnCmd,
           {{nullptr, nullptr, nullptr},
            {&F::MnReadSts, "MnReadSts", "ステータスリード"},
            {&F::MnVer1, "MnVer1", "バージョン情報"},
            {nullptr, nullptr, nullptr},
            {&F::MnErase, "MnErase", "全イレーズ"},
            {&F::MnClrSts, "MnClrSts", "ステータスクリア"},
            {nullptr, nullptr, nullptr},
            {&F::MnSetProgMode, "MnSetProgMode", "プログラムモードへ移行"},
            {&F::MnSetReStart, "MnSetReStart", "リスタート"},
            {nullptr, nullptr, nullptr},
            {&F::MnCRC1, "MnCRC1", "CRC計算"},
            {&F::MnCmdCheck, "MnCmdCheck", "コマンドチェック"}});

  AddItems(this, MnConfig,
           {{&F::MnSetConfig, "MnSetConfig", "環境設定..."},
            {&F::MnSetCOMPort, "MnSetCOMPort", "COMポートの設定..."},
            {nullptr, nullptr, nullptr}});
  OpenClose1 = AddSubMenu(MnConfig, "OpenClose1", "Open/Close");
  AddItems(this, OpenClose1, {{&F::Open1, "Open1", "Open"}, {&F::Clsoe1, "Clsoe1", "Clsoe"}});
  AddItems(this, MnConfig,
           {{&F::Rom1, "Rom1", "Romバージョン取得"},
            {&F::Boot1, "Boot1", "Bootモードへ"},
            {&F::MnInit, "MnInit", "初期化"},
            {&F::MngetInitData, "MngetInitData", "工場出荷時設定取得"},
            {&F::mnSetFactInit, "mnSetFactInit", "工場出荷時設定"},
            {nullptr, nullptr, nullptr},
            {&F::MnGetPower, "MnGetPower", "パワー値の取得"},
            {&F::Mn_Setting_test, "Mn_Setting_test", "test"}});
  AddItems(
      this, MnConfig,
      {{nullptr, nullptr, nullptr}, {&F::MnRestoreParam, "MnRestoreParam", "パラメータの復元..."}});
}

void TRXProgAppForm::BuildClientArea() {
  auto* client = new QWidget(this);
  auto* column = new QVBoxLayout(client);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  auto* header = new QWidget(client);
  header->setFixedHeight(kHeaderHeight);
  STTitle = new QLabel(header);
  STTitle->setObjectName(QStringLiteral("STTitle"));
  STTitle->setGeometry(kTitleRect);
  STTitle->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  STTitle->setFont(FormFont(kTitleFontPx));

  auto* gaugeFrame = new QFrame(header);
  gaugeFrame->setGeometry(kGaugeRect);
  gaugeFrame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  auto* gaugeLayout = new QHBoxLayout(gaugeFrame);
  gaugeLayout->setContentsMargins(1, 1, 1, 1);
  CGauge1 = new QProgressBar(gaugeFrame);
  CGauge1->setObjectName(QStringLiteral("CGauge1"));
  CGauge1->setRange(0, 100);
  CGauge1->setAlignment(Qt::AlignCenter);
  CGauge1->setStyleSheet(QStringLiteral(
      "QProgressBar { border: none; background: palette(button); text-align: center; }"
      "QProgressBar::chunk { background: blue; }"));
  gaugeLayout->addWidget(CGauge1);

  STAddr = new QLabel(header);
  STAddr->setObjectName(QStringLiteral("STAddr"));

  SPTMemo = new QPlainTextEdit(client);
  SPTMemo->setObjectName(QStringLiteral("SPTMemo"));
  SPTMemo->setReadOnly(true);
  SPTMemo->setUndoRedoEnabled(false);
  SPTMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  SPTMemo->setFont(FormFont(kMemoFontPx));
  SPTMemo->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(SPTMemo, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { ShowPopupMenu(SPTMemo->viewport(), pos); });

  column->addWidget(header);
  column->addWidget(SPTMemo, 1);
  setCentralWidget(client);

  // One simple panel; menu hints cover it while they show.
  StatusText = new QLabel(statusBar());
  StatusText->setObjectName(QStringLiteral("StatusBar"));
  statusBar()->addWidget(StatusText, 1);
  statusBar()->setFixedHeight(kStatusBarHeight);
  statusBar()->setSizeGripEnabled(false);

  // The client area below the menu bar.
  resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
}

void TRXProgAppForm::ShowPopupMenu(QWidget* origin, const QPoint& pos) {
  PopupMenu1->popup(origin->mapToGlobal(pos));
}

// ---- log ----------------------------------------------------------------

void TRXProgAppForm::AppendLog(const std::string& text, bool force) {
  if (FMainDetailLog == 0 && !force) return;
  if (LogLineCount() >= kLogMaxLines) LogClear();
  LogAppendLine(text);
}

int TRXProgAppForm::LogLineCount() const {
  // An empty document still has one (empty) block; an empty line is a line.
  return FLogEmpty ? 0 : SPTMemo->document()->blockCount();
}

void TRXProgAppForm::LogClear() {
  SPTMemo->clear();
  FLogEmpty = true;
}

void TRXProgAppForm::LogAppendLine(const std::string& line) {
  QString text = QString::fromStdString(line);
  text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  QTextCursor cursor(SPTMemo->document());
  cursor.movePosition(QTextCursor::End);
  if (!FLogEmpty) cursor.insertBlock();
  cursor.insertText(text);
  FLogEmpty = false;
  QScrollBar* bar = SPTMemo->verticalScrollBar();
  bar->setValue(bar->maximum());
}

void TRXProgAppForm::MnClearClick() {
  LogClear();
}

// ---- commands -----------------------------------------------------------

void TRXProgAppForm::TB_WriteClick() {
  if (!FCont) return;
  FUpdateRunning = true;
  ::TB_WriteClick(*FCont, {FUpdateResult, FComPortNumber, FLastTcpPara, FRomVersionText});
  FUpdateRunning = false;
  if (FCloseRequested) close();
}

void TRXProgAppForm::FileExit1Execute() {
  close();
}

void TRXProgAppForm::HelpAbout1Execute() {
  if (!FAboutBox) {
    FOwnAboutBox = std::make_unique<TAboutBox>(this);
    FAboutBox = FOwnAboutBox.get();
  }
  FAboutBox->exec();
}

// ---- start-up -------------------------------------------------------------

void TRXProgAppForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!FStartupOnShow || FStartupShown) return;
  FStartupShown = true;
  // After the window has been painted.
  QTimer::singleShot(0, this, &TRXProgAppForm::FormShow);
}

void TRXProgAppForm::FormShow() {
  if (!FCont) return;
  QCoreApplication::processEvents();
  raise();
  activateWindow();
  setWindowTitle(windowTitle() + QStringLiteral(" for QVX-K417 ( Ver.") +
                 QString::number(kFirmwareVersion) + QStringLiteral(" )"));

  FStartupRunning = true;
  const TFlashWrRXCont::TStartupOutcome outcome =
      FCont->RunStartupConnection(FComPara.WriteSpeedIndex);
  FStartupRunning = false;

  if (outcome.ReaderFound) FRomVersionText = outcome.RomVersionText;
  if (outcome.Ended || FCloseRequested) close();
}

void TRXProgAppForm::RequestClose() {
  if (FStartupRunning)
    FCloseRequested = true;
  else
    close();
}

ISerialPortLister& TRXProgAppForm::PortLister() {
  if (FPortLister) return *FPortLister;
  if (!FSystemPortLister) FSystemPortLister = std::make_unique<TSystemPortLister>();
  return *FSystemPortLister;
}

ILocalAddressSource& TRXProgAppForm::AddressSource() {
  if (FAddressSource) return *FAddressSource;
  if (!FSystemAddressSource) FSystemAddressSource = std::make_unique<TSystemAddressSource>();
  return *FSystemAddressSource;
}

// ---- settings and sounds ------------------------------------------------

void TRXProgAppForm::LoadSettings() {
  if (FCont) ::LoadSettings(FIniFileName, *FCont, FComPara);
}

bool TRXProgAppForm::SaveSettings(QString* error) {
  if (!FCont) {
    if (error) *error = QStringLiteral("The window has closed; there is nothing to save.");
    return false;
  }
  if (FKeepStoredLink) {
    FCont->FLinkKind = FStoredLinkKind;
    FCont->FTcpPara = FStoredTcpPara;
  }
  return ::SaveSettings(FIniFileName, *FCont, FComPara, error);
}

void TRXProgAppForm::KeepStoredLinkOnSave() {
  if (!FCont) return;
  FKeepStoredLink = true;
  FStoredLinkKind = FCont->FLinkKind;
  FStoredTcpPara = FCont->FTcpPara;
}

void TRXProgAppForm::PlayRingSound() {
  if (!FRingSound) return;
  FRingSound->stop();
  FRingSound->play();
}

void TRXProgAppForm::PlayAlarmSound() {
  if (!FAlarmSound) return;
  FAlarmSound->stop();
  FAlarmSound->play();
}

// ---- closing ------------------------------------------------------------

bool TRXProgAppForm::FormCloseQuery() {
  if (!FCont) return true;  // closed before: nothing left to save
  // The start-up or the update is on the stack using the controller (the
  // window is enabled again during the update's last wait): close once it returns.
  if (FStartupRunning || FUpdateRunning) {
    FCloseRequested = true;
    return false;
  }
  // So is a hidden menu's handler.
  if (FHiddenRunning > 0) {
    FCloseRequested = true;
    return false;
  }
  // A disabled window means a sequence is running on the stack and still
  // uses the controller.
  if (!isEnabled()) return false;
  QString error;
  if (!SaveSettings(&error)) {
    QMessageBox box(QMessageBox::Critical, windowTitle(), error, QMessageBox::Ok, this);
    box.exec();
    return false;
  }
  ReleaseController();
  ReleaseSounds();
  return true;
}

void TRXProgAppForm::closeEvent(QCloseEvent* event) {
  if (FormCloseQuery())
    event->accept();
  else
    event->ignore();
}

void TRXProgAppForm::ReleaseController() {
  if (gCont == FCont.get()) gCont = nullptr;
  FHiddenMenus.reset();
  FCont.reset();  // closes its port or sockets
}

void TRXProgAppForm::ReleaseSounds() {
  FRingSound.reset();
  FAlarmSound.reset();
}

// ---- hidden menus and the dropped file --------------------------------------

namespace {
const char kRestoreTitle[] = "パラメータの復元";
const char kRestoreFilter[] = "パラメータのバックアップ (*.qvxparam);;すべてのファイル (*)";
const char kRestoreOkText[] = "パラメータを復元しました。";
const char kRestoreNgText[] = "パラメータを復元できませんでした。";
const char kRestoreSavedText[] = "復元前のパラメータの保存先:";

// Every item of a menu and its sub-menus, separators and sub-menus left out.
void CollectItems(QMenu* menu, std::vector<QAction*>& items) {
  for (QAction* a : menu->actions()) {
    if (a->isSeparator()) continue;
    if (a->menu())
      CollectItems(a->menu(), items);
    else
      items.push_back(a);
  }
}
}  // namespace

void TRXProgAppForm::SetUpMaintenance() {
  FHiddenMenus = std::make_unique<THiddenMenus>(
      *FCont, FComPara, [this](const std::string& text, bool force) { AppendLog(text, force); });
  std::vector<QAction*> items;
  CollectItems(MnCmd, items);
  CollectItems(MnConfig, items);
  for (QAction* item : items) {
    const std::string name = item->objectName().toStdString() + "Click";
    connect(item, &QAction::triggered, this, [this, name] { RunHiddenHandler(name); });
  }
  // "hexdata.dat" goes beside the program.
  FCont->FHexDataFolder = QCoreApplication::applicationDirPath().toStdString();
  setAcceptDrops(true);
  // The log passes drops on to the window instead of taking them as text.
  SPTMemo->setAcceptDrops(false);
  SPTMemo->viewport()->setAcceptDrops(false);
}

void TRXProgAppForm::RunHiddenHandler(const std::string& name) {
  if (!FCont || !FHiddenMenus) return;
  FLastHiddenHandler = name;
  ++FHiddenRunning;
  int outcome = -1;
  if (name == THiddenMenus::kSetComPort)
    MnSetCOMPortClick();
  else if (name == THiddenMenus::kSettingTest)
    Mn_Setting_testClick();
  else if (name == THiddenMenus::kRestoreParams)
    MnRestoreParamClick();
  else
    FHiddenMenus->Run(name, &outcome);
  --FHiddenRunning;
  // A close asked for meanwhile waited for the handler to let go of the link.
  if (FHiddenRunning == 0 && FCloseRequested && !FStartupRunning) close();
}

void TRXProgAppForm::MnSetCOMPortClick() {
  TPortSetDlg dlg(this, PortLister());
  dlg.BindPort(FCont->CommX1->PortName());
  if (dlg.exec() == kModalOk && FCont) FHiddenMenus->SetComPort(dlg.PortName());
}

void TRXProgAppForm::Mn_Setting_testClick() {
  FCont->SelectTcpIp();  // the outcome is in the log
}

void TRXProgAppForm::MnRestoreParamClick() {
  const QString folder = QString::fromStdString(ParamBackupFile::DefaultFolder().string());
  QFileDialog dlg(this, QString::fromUtf8(kRestoreTitle),
                  QDir(folder).exists() ? folder : QDir::homePath(),
                  QString::fromUtf8(kRestoreFilter));
  dlg.setAcceptMode(QFileDialog::AcceptOpen);
  dlg.setFileMode(QFileDialog::ExistingFile);
  if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty() || !FCont) return;
  const std::string path = dlg.selectedFiles().front().toStdString();

  // A long sequence on the link: no update command meanwhile.
  setEnabled(false);
  const int ok = FHiddenMenus->RestoreParams(path);
  setEnabled(true);

  QString text = QString::fromUtf8(ok ? kRestoreOkText : kRestoreNgText);
  if (!ok && !FCont->FParamError.empty())
    text += QStringLiteral("\n\n") + QString::fromStdString(FCont->FParamError);
  if (!FCont->FLastParamBackupPath.empty())
    text += QStringLiteral("\n\n") + QString::fromUtf8(kRestoreSavedText) + QLatin1Char('\n') +
            QString::fromStdString(FCont->FLastParamBackupPath);
  QMessageBox box(ok ? QMessageBox::Information : QMessageBox::Warning, windowTitle(), text,
                  QMessageBox::Ok, this);
  box.exec();
}

void TRXProgAppForm::dragEnterEvent(QDragEnterEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (std::any_of(urls.begin(), urls.end(), [](const QUrl& u) { return u.isLocalFile(); }))
    event->acceptProposedAction();
}

void TRXProgAppForm::dropEvent(QDropEvent* event) {
  std::vector<std::string> paths;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
  event->acceptProposedAction();
  raise();
  activateWindow();
  if (!FCont) return;
  // The whole path, however long.
  FDropFileName = LoadDroppedFiles(*FCont, paths);
}
