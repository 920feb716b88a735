// The operator side as seen by the controller and the sequences: the log memo,
// message boxes and, later, the main window's controls. GUI, command line and
// tests each provide one.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "link/ComPara.h"

enum class TMsgKind { Plain, Error, Warning, Information };

// Modal results of the connection dialogs.
inline constexpr int kModalOk = 1;          // "Open" / "接続"
inline constexpr int kModalCancel = 2;      // "キャンセル" or the window closed
inline constexpr int kModalTypeChange = 4;  // switch to the other link kind

// Items of the serial dialog's line-speed and write-speed selectors.
inline constexpr int kSpeedItem9600 = 0;
inline constexpr int kSpeedItem19200 = 1;
inline constexpr int kSpeedItem38400 = 2;
inline constexpr int kSpeedItem115200 = 3;

// What the serial port dialog opens with.
struct TSerialPortDialogSetup {
  std::string PortName;  // the entry with this port name is preselected
  int SpeedItem = kSpeedItem115200;
  int WriteSpeedItem = -1;  // -1 or out of range: nothing selected
};

// How the serial port dialog was closed.
struct TSerialPortChoice {
  int ModalResult = kModalCancel;
  std::vector<std::string> Entries;  // the port list, in list order
  int Selected = -1;                 // index into Entries, -1 none
  bool AutoCheck = false;
  int SpeedItem = kSpeedItem115200;
  int WriteSpeedItem = -1;
};

// How the TCP/IP dialog was closed.
struct TTcpIpChoice {
  int ModalResult = kModalCancel;
  tagTCPIPPara Para;  // the four values after "接続"
  // The PC showed at least one IPv4 address besides 127.0.0.1 (the grid has a
  // row below its header). The command line has no grid and says true.
  bool LocalAddressListed = false;
};

class IUi {
 public:
  virtual ~IUi() = default;

  // The log memo: one entry per line.
  virtual int LogLineCount() = 0;
  virtual void LogClear() = 0;
  virtual void LogAppendLine(const std::string& line) = 0;

  // Modal message box; returns when the operator has closed it.
  virtual void ShowMessage(const std::string& text, TMsgKind kind) = 0;

  // ---- The update's confirmation dialog (TConfirm1Dlg) and the main window ----
  //
  // The update sequence drives the dialog through these; a front end without
  // a dialog may ignore all but WaitForOperator. Label1 is SetConfirmText.
  //
  // Creates the dialog, hidden; its wait flag is 1.
  virtual void CreateConfirm() {}
  // Shows it modeless, on top and in front; showing sets the wait flag to 1.
  virtual void ShowConfirm() {}
  // Hides it; the wait flag stays as it is.
  virtual void HideConfirm() {}
  // Brings a shown dialog to the front; a hidden one stays hidden.
  virtual void BringConfirmToFront() {}
  // Closes and destroys it.
  virtual void DestroyConfirm() {}
  // A disabled dialog cannot be closed; OKBtn is "確認".
  virtual void SetConfirmEnabled(bool enabled) { (void)enabled; }
  virtual void SetConfirmButtonEnabled(bool enabled) { (void)enabled; }
  // Label2, the small headline.
  virtual void SetConfirmHeadline(const std::string& text) { (void)text; }
  // Label1's font size in points and its colour as 0xRRGGBB.
  virtual void SetConfirmFontSize(int points) { (void)points; }
  virtual void SetConfirmColor(uint32_t rgb) { (void)rgb; }
  // Lets events run until the dialog's wait flag is 0: "確認" and every
  // request to close the dialog clear it. Returns at once when it is 0.
  virtual void WaitForOperator() {}
  // The whole main window: disabled while the update runs.
  virtual void SetMainWindowEnabled(bool enabled) { (void)enabled; }
  // The main window's two sounds, for success and failure: started, not awaited.
  enum class TSound { Ring, Alarm };
  virtual void PlaySound(TSound sound) { (void)sound; }

  // Main window controls reached by the protocols and sequences. A front end
  // without them (tests, the command line) may ignore them.
  // Disables the update command's tool button and firmware menu, and the
  // log's pop-up entry too when alsoPopup is set.
  virtual void DisableUpdateEntries(bool alsoPopup) { (void)alsoPopup; }
  // The confirmation dialog's large text (Label1), shown during an update.
  virtual void SetConfirmText(const std::string& text) { (void)text; }
  virtual void SetStageTitle(const std::string& text) { (void)text; }
  virtual void SetGauge(int percent) { (void)percent; }
  virtual void SetStatusText(const std::string& text) { (void)text; }

  // ---- Connecting (the start-up loop and the two connection steps) ----
  //
  // The steps' logic lives in the controller (SelectComPort, SelectTcpIp,
  // RunStartupConnection); a front end only answers what the operator chose.
  // The window runs its real dialogs here, the command line answers from its
  // options, tests answer from a script: all share one code path.

  // Modal box with a title of its own (the selection errors).
  virtual void ShowMessageTitled(const std::string& title, const std::string& text, TMsgKind kind) {
    (void)title;
    ShowMessage(text, kind);
  }

  // The serial port dialog: shown with setup, answered when it closes. The
  // re-write setting inside it changes reWriteMode at once.
  virtual TSerialPortChoice RunSerialPortDialog(const TSerialPortDialogSetup& setup,
                                                int32_t& reWriteMode) {
    (void)setup;
    (void)reWriteMode;
    return {};
  }
  // The TCP/IP address dialog, opened with para.
  virtual TTcpIpChoice RunTcpIpDialog(const tagTCPIPPara& para, int32_t& reWriteMode) {
    (void)para;
    (void)reWriteMode;
    return {};
  }

  // The please-wait window of a reader search: created, shown on top, its
  // label set, closed and freed.
  virtual void ShowPleaseWait(const std::string& caption, const std::string& label) {
    (void)caption;
    (void)label;
  }
  virtual void SetPleaseWaitLabel(const std::string& label) { (void)label; }
  virtual void ClosePleaseWait() {}

  // The main window's connection-loop flag FConnected.
  virtual void SetConnected(int32_t value) { FConnectedFlag = value; }
  virtual int32_t Connected() { return FConnectedFlag; }
  // The main window's serial record (after a successful search) and its
  // FLastTcpPara (after a TCP/IP connection attempt).
  virtual void StoreMainComPara(const tagCOMPara& para) { (void)para; }
  virtual void StoreLastTcpPara(const tagTCPIPPara& para) { (void)para; }
  // The main window's detail switch, which ReadRomVersion's log flag follows
  // in the TCP/IP step.
  virtual bool MainDetailLog() { return false; }
  // The operator cancelled a connection dialog: the program ends. The window
  // closes only once the start-up has returned, since closing releases the
  // controller that is still running the step.
  virtual void CloseMainWindow() {}

 private:
  int32_t FConnectedFlag = 0;
};
