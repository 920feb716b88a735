// The main window: the only top-level window of the tool. It owns the
// communication controller, keeps the log, the stage title, the progress
// gauge and the status bar, and loads and saves the settings file.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include <QMainWindow>
#include <QString>

#include "link/ComPara.h"

class IHost;
class ILinkFactory;
class ILocalAddressSource;
class ISerialPortLister;
class QAction;
class QCloseEvent;
class QDragEnterEvent;
class QDropEvent;
class THiddenMenus;
class QShowEvent;
class TAboutBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QSoundEffect;
class QToolBar;
class TFlashWrRXCont;
class TFormUi;
class TQtImageSource;

// The family the window's texts ask for.
inline constexpr char kFormFontFamily[] = "ＭＳ 明朝";
inline constexpr int kTitleFontPx = 24;
inline constexpr int kMemoFontPx = 13;

inline constexpr char kWindowCaption[] = "QVX RORaderaD116";
inline constexpr int kClientWidth = 491;
inline constexpr int kClientHeight = 305;

// The log is emptied when it holds this many lines.
inline constexpr int kLogMaxLines = 1000;

// The two embedded WAVE sounds.
inline constexpr char kRingSoundResource[] = ":/sounds/Sound_ring5.wav";
inline constexpr char kAlarmSoundResource[] = ":/sounds/Sound_alarm1.wav";

// Maps kFormFontFamily to an installed Japanese family when the machine lacks
// it (IPA Mincho first). False when no Japanese family is installed at all.
bool MapJapaneseFonts();

// The main window's serial record before the settings are read; the command
// line starts from the same record.
tagCOMPara InitialMainComPara();

class TRXProgAppForm : public QMainWindow {
  Q_OBJECT

 public:
  // iniFileName overrides the settings file beside the program (tests).
  TRXProgAppForm(IHost& host, ILinkFactory& links, const QString& iniFileName = QString(),
                 QWidget* parent = nullptr);
  ~TRXProgAppForm() override;

  // One log line: force = true always, force = false only while the detail
  // switch is on. A log of kLogMaxLines lines or more is emptied first.
  void AppendLog(const std::string& text, bool force);

  // The log memo, line by line (the controller writes through these too).
  int LogLineCount() const;
  void LogClear();
  void LogAppendLine(const std::string& line);

  void LoadSettings();
  // False with the reason in *error when the file cannot be written.
  bool SaveSettings(QString* error);

  // Start the clip and return at once.
  void PlayRingSound();
  void PlayAlarmSound();

  // The close query: save the settings, then release the controller and the
  // sounds. False (the window stays open) when the settings cannot be written.
  bool FormCloseQuery();

  TFlashWrRXCont* Controller() const { return FCont.get(); }
  TFormUi& FormUi() { return *FUi; }

  // The start-up connection of the first show: caption, connection loop,
  // reader acceptance. The program turns it on; a window built only to be
  // looked at (tests) leaves it off.
  void EnableStartupOnShow(bool on = true) { FStartupOnShow = on; }
  void FormShow();
  // Closes the window; while the start-up runs, once it has returned (the
  // close releases the controller the start-up is using).
  void RequestClose();

  // Where the dialogs get the serial ports and the PC's addresses; the
  // system's unless set (tests). Not owned.
  ISerialPortLister& PortLister();
  ILocalAddressSource& AddressSource();
  void SetPortLister(ISerialPortLister* lister) { FPortLister = lister; }
  void SetAddressSource(ILocalAddressSource* source) { FAddressSource = source; }
  // The link about to be used is a stand-in (the built-in simulator): the
  // settings file gets the link kind and TCP/IP values loaded now.
  void KeepStoredLinkOnSave();
  // The version information window made at program start; not owned.
  void SetAboutBox(TAboutBox* box) { FAboutBox = box; }

  // Components.
  QToolBar* ToolBar1 = nullptr;
  QAction* TB_Write = nullptr;
  QMenu* File1 = nullptr;
  QAction* FileExit1 = nullptr;  // the menu item FileExitItem
  QMenu* MnFarm = nullptr;
  QAction* N2 = nullptr;
  QMenu* Help1 = nullptr;
  QAction* HelpAbout1 = nullptr;  // the menu item HelpAboutItem
  QMenu* PopupMenu1 = nullptr;
  QAction* MnClear = nullptr;
  QAction* MnProgram = nullptr;
  QLabel* STTitle = nullptr;
  QProgressBar* CGauge1 = nullptr;
  QPlainTextEdit* SPTMemo = nullptr;
  QLabel* StatusText = nullptr;  // the status bar's simple panel
  QLabel* STAddr = nullptr;

  // The hidden maintenance menus; their handlers are wired elsewhere.
  QMenu* MnCmd = nullptr;
  QAction* MnBitRate = nullptr;
  QMenu* N4 = nullptr;
  QAction* MnSupportDevice = nullptr;
  QAction* MnDeviceSelect = nullptr;
  QAction* MnClockInfo = nullptr;
  QAction* MnSelectClockMode = nullptr;
  QAction* MnTeibaiInfo = nullptr;
  QAction* MnGetClockInfo = nullptr;
  QAction* MnBootAreaInfo = nullptr;
  QAction* MnUserAreaInfo = nullptr;
  QAction* MnEraseBlockInfo = nullptr;
  QAction* MnWriteSizeinfo = nullptr;
  QAction* MnDataAreaChk = nullptr;
  QAction* MnDataAreaInfo = nullptr;
  QAction* MnSelectBitRate = nullptr;
  QAction* MnEraseStatusSet = nullptr;
  QAction* MnBootProgInfo = nullptr;
  QMenu* N18 = nullptr;
  QAction* MnSelUserBootArea = nullptr;
  QAction* MnSelUSerArea = nullptr;
  QAction* MnWrite256Bytes = nullptr;
  QAction* MnSelErase = nullptr;
  QAction* MnBlockErase = nullptr;
  QAction* MnMemRead = nullptr;
  QAction* MnUserBootSumCheck = nullptr;
  QAction* MnUserAreaSumCheck = nullptr;
  QAction* MnDataSumCheck = nullptr;
  QAction* MnUserBootBlankCheck = nullptr;
  QAction* MnUserAreaBlankCheck = nullptr;
  QAction* MnReadLockBitStatus = nullptr;
  QAction* MnProgLockBit = nullptr;
  QAction* MnEnLockBit = nullptr;
  QAction* MnDisaLockBit = nullptr;
  QAction* MnReadSts = nullptr;
  QAction* MnVer1 = nullptr;
  QAction* MnErase = nullptr;
  QAction* MnClrSts = nullptr;
  QAction* MnSetProgMode = nullptr;
  QAction* MnSetReStart = nullptr;
  QAction* MnCRC1 = nullptr;
  QAction* MnCmdCheck = nullptr;
  QMenu* MnConfig = nullptr;
  QAction* MnSetConfig = nullptr;
  QAction* MnSetCOMPort = nullptr;
  QMenu* OpenClose1 = nullptr;
  QAction* Open1 = nullptr;
  QAction* Clsoe1 = nullptr;
  QAction* Rom1 = nullptr;
  QAction* Boot1 = nullptr;
  QAction* MnInit = nullptr;
  QAction* MngetInitData = nullptr;
  QAction* mnSetFactInit = nullptr;
  QAction* MnGetPower = nullptr;
  QAction* Mn_Setting_test = nullptr;
  QAction* MnRestoreParam = nullptr;  // writes a saved parameter backup back

  // Fields.
  QString FIniFileName;
  tagCOMPara FComPara;  // the master copy; the controller holds a copy
  tagTCPIPPara FLastTcpPara;
  int32_t FConnected = 0;
  std::string FRomVersionText;
  // Wider than a byte: port numbers off Windows run past 255.
  int32_t FComPortNumber = 0;
  int32_t FUpdateResult = 0;
  // The window's log switches; nothing turns them on.
  int32_t FMainDetailLog = 0;
  int32_t FMainTxTrace = 0;
  int32_t FMainRxTrace = 0;
  // The period the system granted at start-up, 0 when none (or not Windows).
  uint32_t FTimerPeriodMs = 0;
  // The last file dropped on the window, and the hidden-menu handler run last.
  std::string FDropFileName;
  std::string FLastHiddenHandler;

  // Runs a hidden menu's handler by name ("MnBitRateClick"); each item of
  // MnCmd and MnConfig is bound to the handler of its name + "Click".
  void RunHiddenHandler(const std::string& name);

 public slots:
  // The update command, bound to TB_Write, N2 and MnProgram.
  void TB_WriteClick();
  void MnClearClick();
  void FileExit1Execute();
  void HelpAbout1Execute();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  // Files dropped on the window go to the program data loader.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildMenus();
  void BuildHiddenMenus();
  void BuildClientArea();
  void ShowPopupMenu(QWidget* origin, const QPoint& pos);
  void ReleaseController();
  void ReleaseSounds();
  // The hidden menus' handlers, the drop and the loader's folder.
  void SetUpMaintenance();
  void MnSetCOMPortClick();
  void Mn_Setting_testClick();
  void MnRestoreParamClick();

  std::unique_ptr<TFormUi> FUi;
  std::unique_ptr<QSoundEffect> FRingSound;
  std::unique_ptr<QSoundEffect> FAlarmSound;
  std::unique_ptr<TFlashWrRXCont> FCont;
  std::unique_ptr<THiddenMenus> FHiddenMenus;  // uses FCont: released before it
  int FHiddenRunning = 0;                      // hidden handlers on the stack
  bool FLogEmpty = true;

  bool FStartupOnShow = false;
  bool FStartupShown = false;
  bool FStartupRunning = false;
  bool FUpdateRunning = false;
  bool FCloseRequested = false;
  ISerialPortLister* FPortLister = nullptr;
  ILocalAddressSource* FAddressSource = nullptr;
  std::unique_ptr<ISerialPortLister> FSystemPortLister;
  std::unique_ptr<ILocalAddressSource> FSystemAddressSource;
  bool FKeepStoredLink = false;
  int32_t FStoredLinkKind = 0;
  tagTCPIPPara FStoredTcpPara;
  TAboutBox* FAboutBox = nullptr;
  std::unique_ptr<TAboutBox> FOwnAboutBox;
  // The embedded images the update writes.
  std::unique_ptr<TQtImageSource> FImageSource;
};

// The process-wide references: the main window, and the controller it owns
// (null before it is built and after the window has closed).
TRXProgAppForm* RXProgAppForm();
TFlashWrRXCont* FlashWrRXCont();
