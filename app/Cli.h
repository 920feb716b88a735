// The headless command line (qvxupdate --cli): the same start-up as the main
// window, answered from the options instead of the dialogs. Standard output
// carries exactly the log lines; standard error the message boxes, a
// progress bar on a terminal and the last "result:" line.
#pragma once
#include <cstdio>
#include <string>

#include <QString>
#include <QStringList>

#include "link/Ui.h"

class IHost;
class ILinkFactory;
class ISerialPortLister;
class TFlashWrRXCont;

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUpdateNg = 1;
inline constexpr int kExitNoReader = 2;  // no reader accepted, or no connection
inline constexpr int kExitUsage = 64;    // bad options (the help text follows)
// --handler or --restore-params: the handler or the restore reported NG.
inline constexpr int kExitHandlerNg = 1;

struct TCliOptions {
  enum class TLink { FromSettings, Serial, Tcp, Listen };
  TLink Link = TLink::FromSettings;
  std::string SerialPort;  // as given: COMn or a device path
  bool AutoCheck = false;
  std::string TcpHost;
  int TcpPort = 0;
  int ListenPort = 0;
  bool ReWrite = false;
  bool Yes = false;
  bool Identify = false;
  std::string Handler;
  std::string RestoreParams;  // --restore-params: the backup file to write back
  std::string Port;           // --port: the port MnSetCOMPortClick chooses
  bool Detail = false;
  QString SettingsFile;  // empty: beside the program
  bool Simulate = false;
  bool Help = false;
};

// Parses the arguments after the program name ("--cli" itself is accepted).
// False with a one-line reason in *error for a usage error.
bool ParseCliOptions(const QStringList& args, TCliOptions* options, QString* error);
QString CliUsage();

// The hidden menus' handlers --handler can run (every one but the restore
// item, which --restore-params stands for).
bool CliHandlerKnown(const std::string& name);
// Their names, wrapped and indented for the help and error texts.
QString CliHandlerList();

struct TCliStreams {
  std::FILE* Out = stdout;
  std::FILE* Err = stderr;
  std::FILE* In = stdin;
  bool ErrIsTerminal = false;
};

// The operator side on the command line.
class TCliUi : public IUi {
 public:
  TCliUi(const TCliOptions& options, TCliStreams streams, ISerialPortLister& ports);

  int LogLineCount() override { return FLines; }
  void LogClear() override { FLines = 0; }  // printed lines stay printed
  void LogAppendLine(const std::string& line) override;
  void ShowMessage(const std::string& text, TMsgKind kind) override;
  void DisableUpdateEntries(bool alsoPopup) override;
  void SetGauge(int percent) override;
  TSerialPortChoice RunSerialPortDialog(const TSerialPortDialogSetup& setup,
                                        int32_t& reWriteMode) override;
  TTcpIpChoice RunTcpIpDialog(const tagTCPIPPara& para, int32_t& reWriteMode) override;
  void StoreLastTcpPara(const tagTCPIPPara& para) override { FLastTcpPara = para; }
  bool MainDetailLog() override { return FOptions.Detail; }

  // The update's confirmations: answered at once with --yes, else by Enter
  // (or the end of standard input) after a "confirm:" line.
  void SetConfirmText(const std::string& text) override { FConfirmText = text; }
  void WaitForOperator() override;
  // Wipes a progress bar left on the terminal's last line.
  void EndProgressLine();
  // The gauge's bytes, rate and time left come from this controller.
  void SetController(TFlashWrRXCont* cont) { FCont = cont; }

  bool UpdateDisabled() const { return FUpdateDisabled; }
  // The next connection dialog is answered from the options once more (the
  // hidden TCP/IP test runs the connection step again).
  void AllowAnotherDialog() { FDialogTurns = 0; }
  const tagTCPIPPara& LastTcpPara() const { return FLastTcpPara; }
  // A message as a single line ("message: ..." with line breaks as blanks).
  static std::string MessageLine(const std::string& text);

 private:
  // One answer per run: a connection step that needs the dialog again has
  // failed, and the run ends as a cancelled dialog would.
  bool TakeDialogTurn();

  const TCliOptions& FOptions;
  TCliStreams FStreams;
  ISerialPortLister& FPorts;
  int FLines = 0;
  int FDialogTurns = 0;
  bool FUpdateDisabled = false;
  int FLastGauge = -1;
  size_t FGaugeLineLength = 0;
  uint32_t FGaugeStartTick = 0;
  tagTCPIPPara FLastTcpPara;
  std::string FConfirmText;
  TFlashWrRXCont* FCont = nullptr;
};

// Loads the settings, runs the start-up with the options applied, reports
// the outcome, saves the settings; returns the exit status.
int RunCli(const TCliOptions& options, IHost& host, ILinkFactory& links, ISerialPortLister& ports,
           const QString& iniFileName, TCliStreams streams);

// The process entry for --cli: application object, real links, --simulate.
int CliMain(int argc, char** argv);
