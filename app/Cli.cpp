#include "app/Cli.h"

#include <algorithm>
#include <cstring>

#include <QFileInfo>

#include "app/HiddenMenus.h"
#include "app/ImageSource.h"
#include "app/Settings.h"
#include "app/TRXProgAppForm.h"
#include "app/UpdateSequence.h"
#include "link/EnumCom.h"
#include "link/FlashWrRXCont.h"
#include "link/IpAddress.h"
#include "link/PortNames.h"

namespace {

constexpr int kMaxTcpPort = 65535;
constexpr int kGaugeWidth = 40;

// The same order as the serial dialog's list: alphabetical, case ignored.
void SortEntries(std::vector<std::string>& entries) {
  std::stable_sort(entries.begin(), entries.end(), [](const std::string& a, const std::string& b) {
    return QString::compare(QString::fromStdString(a), QString::fromStdString(b),
                            Qt::CaseInsensitive) < 0;
  });
}

bool ParsePort(const QString& text, int* port) {
  bool ok = false;
  const int v = text.toInt(&ok, 10);
  if (!ok || v < 1 || v > kMaxTcpPort) return false;
  *port = v;
  return true;
}

// The port number of a --serial value: COMn, a device name or path that
// link/PortNames.h maps, or a link (/dev/serial/by-id/...) to such a device.
int SerialPortNumber(const std::string& given) {
  if (const int n = ComPortNumber(given); n > 0) return n;
  const QString target = QFileInfo(QString::fromStdString(given)).canonicalFilePath();
  return target.isEmpty() ? 0 : ComPortNumber(target.toStdString());
}

// --handler and --restore-params, after the start-up connection: the exit
// status follows what the handler or the restore reports.
int RunCliMaintenance(const TCliOptions& o, TFlashWrRXCont& cont, TCliUi& ui,
                      tagCOMPara& mainComPara, const TFlashWrRXCont::TStartupOutcome& outcome,
                      TCliStreams streams, std::string* result) {
  *result = "NOREADER";
  if (outcome.Ended) return kExitNoReader;
  // The handlers that open a port open the main window's: the one the
  // connection used, whether or not a reader answered on it.
  if (cont.FLinkKind == 0 && cont.CommX1->IsOpen())
    mainComPara.Port = ComPortNumber(cont.CommX1->PortName());
  THiddenMenus menus(cont, mainComPara);

  int done = -1;
  if (!o.RestoreParams.empty()) {
    // The reader's memory is written only to a reader the start-up accepted.
    if (!outcome.ReaderFound || cont.FReaderAccepted == 0) return kExitNoReader;
    done = menus.RestoreParams(o.RestoreParams);
    if (!cont.FLastParamBackupPath.empty())
      std::fprintf(streams.Err, "backup: %s\n", cont.FLastParamBackupPath.c_str());
    if (!done)
      std::fprintf(streams.Err, "qvxupdate: parameter restore failed: %s\n",
                   cont.FParamError.c_str());
  } else if (o.Handler == THiddenMenus::kSetComPort) {
    done = menus.SetComPort(ComPortName(SerialPortNumber(o.Port)));
  } else if (o.Handler == THiddenMenus::kSettingTest) {
    ui.AllowAnotherDialog();  // the test runs the TCP/IP step with its dialog again
    cont.SelectTcpIp();       // and ignores its result
  } else {
    menus.Run(o.Handler, &done);
  }
  *result = done == 1 ? "OK" : done == 0 ? "NG" : "DONE";
  return done == 0 ? kExitHandlerNg : kExitOk;
}

// The end of a run: link closed, settings saved, the result line.
void EndCliRun(const TCliOptions& options, TFlashWrRXCont& cont, tagCOMPara& mainComPara,
               const QString& iniFileName, int32_t storedLinkKind,
               const tagTCPIPPara& storedTcpPara, TCliStreams streams, const std::string& result) {
  cont.CloseLink();
  if (options.Simulate) {
    // The simulator's loopback address is no board address to remember.
    cont.FLinkKind = storedLinkKind;
    cont.FTcpPara = storedTcpPara;
  }
  QString error;
  if (!SaveSettings(iniFileName, cont, mainComPara, &error))
    std::fprintf(streams.Err, "%s\n", TCliUi::MessageLine(error.toStdString()).c_str());
  std::fprintf(streams.Err, "result: %s\n", result.c_str());
  std::fflush(streams.Err);
}

}  // namespace

QString CliUsage() {
  const QString text = QStringLiteral(
      "Usage: qvxupdate --cli [options]\n"
      "Finds the QVX-K417 reader and checks it, as the window does at start-up, then updates its\n"
      "firmware as the window's update command does, without windows.\n"
      "\n"
      "  --serial PORT     serial link on PORT (COMn, or a device such as /dev/ttyUSB0 or\n"
      "                    /dev/pts/3), as chosen in the serial dialog with Auto Check off\n"
      "  --auto-check      serial link with Auto Check: every listed port is searched\n"
      "  --tcp HOST:PORT   TCP/IP link, this PC as client of the interface board at HOST:PORT\n"
      "                    (HOST a dotted IPv4 address)\n"
      "  --listen PORT     TCP/IP link, this PC as server listening on PORT\n"
      "  --rewrite         re-write mode, as ticked in the re-write setting\n"
      "  --yes             answer every operator confirmation at once (otherwise Enter)\n"
      "  --identify        stop after the reader check\n"
      "  --handler NAME    run the hidden menus' handler NAME after the connection (the\n"
      "                    names below); the handler's lines, with --detail its detail\n"
      "                    lines too; exit 0 OK or nothing to report, 1 NG\n"
      "  --port PORT       the port MnSetCOMPortClick chooses (its dialog's choice)\n"
      "  --restore-params FILE\n"
      "                    after the connection, write the parameter backup FILE back\n"
      "                    to the reader; the reader's values before are saved first\n"
      "                    and that file is named on standard error as 'backup: ...'\n"
      "  --detail          detail log lines and TX/RX traces on\n"
      "  --settings FILE   this settings file instead of the one beside the program\n"
      "  --simulate        start the built-in simulated reader and connect to it\n"
      "  --help            this text\n"
      "\n"
      "Without a link option the settings file decides, as at start-up.\n"
      "Standard output: the log lines. Standard error: message boxes as 'message: ...',\n"
      "'confirm: ...' when a confirmation waits for Enter, and a last line 'result: OK',\n"
      "'result: NG <code>' or 'result: NOREADER' ('result: OK', 'NG' or 'DONE' after --handler,\n"
      "'OK' or 'NG' after --restore-params).\n"
      "Exit status: 0 success, 1 update, handler or restore NG, 2 no reader accepted or no\n"
      "connection, 64 usage error.\n"
      "\n"
      "Handlers for --handler:\n");
  return text + CliHandlerList();
}

QString CliHandlerList() {
  constexpr int kWidth = 88;
  QString list;
  QString line = QStringLiteral("  ");
  for (const std::string& name : THiddenMenus::HandlerNames()) {
    if (!CliHandlerKnown(name)) continue;
    const QString word = QString::fromStdString(name);
    if (line.size() > 2 && line.size() + 1 + word.size() > kWidth) {
      list += line + QLatin1Char('\n');
      line = QStringLiteral("  ");
    }
    line += (line.size() > 2 ? QStringLiteral(" ") : QString()) + word;
  }
  return list + line + QLatin1Char('\n');
}

bool CliHandlerKnown(const std::string& name) {
  return name != THiddenMenus::kRestoreParams && THiddenMenus::Known(name);
}

bool ParseCliOptions(const QStringList& args, TCliOptions* o, QString* error) {
  *o = TCliOptions{};
  int linkOptions = 0;
  for (int i = 0; i < args.size(); ++i) {
    QString arg = args[i];
    QString value;
    bool hasInlineValue = false;
    if (arg.startsWith(QLatin1String("--")) && arg.contains(QLatin1Char('='))) {
      value = arg.mid(arg.indexOf(QLatin1Char('=')) + 1);
      arg = arg.left(arg.indexOf(QLatin1Char('=')));
      hasInlineValue = true;
    }
    auto takeValue = [&](QString* out) {
      if (hasInlineValue) {
        *out = value;
      } else if (i + 1 < args.size()) {
        *out = args[++i];
      } else {
        *error = arg + QStringLiteral(" needs a value");
        return false;
      }
      if (out->isEmpty()) {
        *error = arg + QStringLiteral(" needs a value");
        return false;
      }
      return true;
    };
    auto noValue = [&]() {
      if (!hasInlineValue) return true;
      *error = arg + QStringLiteral(" takes no value");
      return false;
    };

    QString v;
    if (arg == QLatin1String("--cli")) {
      if (!noValue()) return false;
    } else if (arg == QLatin1String("--serial")) {
      if (!takeValue(&v)) return false;
      o->Link = TCliOptions::TLink::Serial;
      o->SerialPort = v.toStdString();
      ++linkOptions;
    } else if (arg == QLatin1String("--auto-check")) {
      if (!noValue()) return false;
      o->AutoCheck = true;
    } else if (arg == QLatin1String("--tcp")) {
      if (!takeValue(&v)) return false;
      const qsizetype colon = v.lastIndexOf(QLatin1Char(':'));
      if (colon <= 0 || !ParseDottedAddress(v.left(colon).toStdString(), nullptr) ||
          !ParsePort(v.mid(colon + 1), &o->TcpPort)) {
        *error = QStringLiteral(
                     "--tcp wants HOST:PORT with a dotted IPv4 address and a port of "
                     "1 to 65535, not '") +
                 v + QLatin1Char('\'');
        return false;
      }
      o->Link = TCliOptions::TLink::Tcp;
      o->TcpHost = v.left(colon).toStdString();
      ++linkOptions;
    } else if (arg == QLatin1String("--listen")) {
      if (!takeValue(&v)) return false;
      if (!ParsePort(v, &o->ListenPort)) {
        *error =
            QStringLiteral("--listen wants a port of 1 to 65535, not '") + v + QLatin1Char('\'');
        return false;
      }
      o->Link = TCliOptions::TLink::Listen;
      ++linkOptions;
    } else if (arg == QLatin1String("--rewrite")) {
      if (!noValue()) return false;
      o->ReWrite = true;
    } else if (arg == QLatin1String("--yes")) {
      if (!noValue()) return false;
      o->Yes = true;
    } else if (arg == QLatin1String("--identify")) {
      if (!noValue()) return false;
      o->Identify = true;
    } else if (arg == QLatin1String("--handler")) {
      if (!takeValue(&v)) return false;
      o->Handler = v.toStdString();
    } else if (arg == QLatin1String("--restore-params")) {
      if (!takeValue(&v)) return false;
      o->RestoreParams = v.toStdString();
    } else if (arg == QLatin1String("--port")) {
      if (!takeValue(&v)) return false;
      o->Port = v.toStdString();
    } else if (arg == QLatin1String("--detail")) {
      if (!noValue()) return false;
      o->Detail = true;
    } else if (arg == QLatin1String("--settings")) {
      if (!takeValue(&v)) return false;
      o->SettingsFile = v;
    } else if (arg == QLatin1String("--simulate")) {
      if (!noValue()) return false;
      o->Simulate = true;
    } else if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
      o->Help = true;
    } else {
      *error = QStringLiteral("unknown option '") + args[i] + QLatin1Char('\'');
      return false;
    }
  }

  if (linkOptions > 1) {
    *error = QStringLiteral("give one of --serial, --tcp and --listen");
    return false;
  }
  if (o->AutoCheck) {
    if (o->Link == TCliOptions::TLink::Tcp || o->Link == TCliOptions::TLink::Listen) {
      *error = QStringLiteral(
          "--auto-check searches serial ports; it does not go with --tcp or "
          "--listen");
      return false;
    }
    o->Link = TCliOptions::TLink::Serial;
  }
  if (o->AutoCheck && o->ReWrite) {
    // The serial dialog locks Auto Check in re-write mode.
    *error = QStringLiteral(
        "--auto-check does not go with --rewrite: re-write mode opens one "
        "chosen port");
    return false;
  }
  if (o->Simulate && linkOptions > 0) {
    *error = QStringLiteral("--simulate chooses the link itself; drop --serial, --tcp or --listen");
    return false;
  }
  if (o->Simulate && o->AutoCheck) {
    *error = QStringLiteral("--simulate chooses the link itself; drop --auto-check");
    return false;
  }
  if (!o->Handler.empty() && o->Identify) {
    *error = QStringLiteral("--handler and --identify exclude each other");
    return false;
  }
  if (!o->RestoreParams.empty() && (o->Identify || !o->Handler.empty())) {
    *error = QStringLiteral("--restore-params goes with neither --handler nor --identify");
    return false;
  }
  if (o->Handler == THiddenMenus::kRestoreParams) {
    *error = QStringLiteral("%1 asks for a file: use --restore-params FILE")
                 .arg(QString::fromLatin1(THiddenMenus::kRestoreParams));
    return false;
  }
  if (!o->Handler.empty() && !CliHandlerKnown(o->Handler)) {
    *error = QStringLiteral("unknown handler '") + QString::fromStdString(o->Handler) +
             QStringLiteral("' (the handlers are listed below)");
    return false;
  }
  const bool setsPort = o->Handler == THiddenMenus::kSetComPort;
  if (setsPort && o->Port.empty()) {
    *error = QStringLiteral("%1 chooses a port: give it with --port PORT")
                 .arg(QString::fromLatin1(THiddenMenus::kSetComPort));
    return false;
  }
  if (!setsPort && !o->Port.empty()) {
    *error = QStringLiteral("--port goes with --handler %1")
                 .arg(QString::fromLatin1(THiddenMenus::kSetComPort));
    return false;
  }
  return true;
}

// ---- TCliUi -------------------------------------------------------------

TCliUi::TCliUi(const TCliOptions& options, TCliStreams streams, ISerialPortLister& ports)
    : FOptions(options), FStreams(streams), FPorts(ports) {}

void TCliUi::LogAppendLine(const std::string& line) {
  std::fputs(line.c_str(), FStreams.Out);
  std::fputc('\n', FStreams.Out);
  std::fflush(FStreams.Out);
  ++FLines;
}

std::string TCliUi::MessageLine(const std::string& text) {
  std::string flat;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    flat += (text[i] == '\n' || text[i] == '\r') ? ' ' : text[i];
  }
  return "message: " + flat;
}

void TCliUi::ShowMessage(const std::string& text, TMsgKind /*kind*/) {
  if (FLastGauge >= 0) std::fputc('\n', FStreams.Err);  // off the progress line
  FLastGauge = -1;
  std::fprintf(FStreams.Err, "%s\n", MessageLine(text).c_str());
  std::fflush(FStreams.Err);
}

void TCliUi::DisableUpdateEntries(bool /*alsoPopup*/) {
  FUpdateDisabled = true;
}

void TCliUi::SetGauge(int percent) {
  if (!FStreams.ErrIsTerminal) return;
  percent = std::clamp(percent, 0, 100);
  if (percent == FLastGauge) return;
  const uint32_t now = FCont ? FCont->Host().TickCount() : 0;
  if (FLastGauge < 0 || percent < FLastGauge) FGaugeStartTick = now;  // a new stage
  FLastGauge = percent;
  const int filled = percent * kGaugeWidth / 100;
  char text[160];
  int n = std::snprintf(
      text, sizeof text, "\r[%s%s] %3d%%", std::string(static_cast<size_t>(filled), '#').c_str(),
      std::string(static_cast<size_t>(kGaugeWidth - filled), ' ').c_str(), percent);
  if (FCont && FCont->FGaugeMax > 0 && n > 0 && n < static_cast<int>(sizeof text)) {
    const int64_t position = FCont->FGaugePosition;
    const int64_t max = FCont->FGaugeMax;
    n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n), "  %lld/%lld bytes",
                       static_cast<long long>(position), static_cast<long long>(max));
    const uint32_t elapsedMs = now - FGaugeStartTick;
    if (elapsedMs > 0 && position > 0 && n < static_cast<int>(sizeof text)) {
      const double rate = static_cast<double>(position) * 1000.0 / elapsedMs;  // bytes/s
      const long long left = static_cast<long long>(static_cast<double>(max - position) / rate);
      n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n),
                         "  %.1f KiB/s  %lld:%02lld left", rate / 1024.0, left / 60, left % 60);
    }
  }
  std::string line(text);
  // Blank out what a longer line before left behind.
  const size_t length = line.size();
  if (length < FGaugeLineLength) line.append(FGaugeLineLength - length, ' ');
  FGaugeLineLength = length;
  std::fputs(line.c_str(), FStreams.Err);
  if (percent == 100) {
    std::fputc('\n', FStreams.Err);
    FLastGauge = -1;
    FGaugeLineLength = 0;
  }
  std::fflush(FStreams.Err);
}

void TCliUi::EndProgressLine() {
  if (FLastGauge < 0) return;
  std::fprintf(FStreams.Err, "\r%s\r", std::string(FGaugeLineLength, ' ').c_str());
  std::fflush(FStreams.Err);
  FLastGauge = -1;
  FGaugeLineLength = 0;
}

void TCliUi::WaitForOperator() {
  if (FOptions.Yes) return;
  if (FLastGauge >= 0) std::fputc('\n', FStreams.Err);  // off the progress line
  FLastGauge = -1;
  std::string prompt = MessageLine(FConfirmText);
  prompt.replace(0, std::strlen("message:"), "confirm:");
  std::fprintf(FStreams.Err, "%s (Enter)\n", prompt.c_str());
  std::fflush(FStreams.Err);
  // A closed standard input answers too: nothing waits for ever.
  int c;
  while ((c = std::fgetc(FStreams.In)) != EOF && c != '\n') {
  }
}

bool TCliUi::TakeDialogTurn() {
  return FDialogTurns++ == 0;
}

TSerialPortChoice TCliUi::RunSerialPortDialog(const TSerialPortDialogSetup& setup,
                                              int32_t& reWriteMode) {
  TSerialPortChoice c;
  if (!TakeDialogTurn()) return c;  // as the cancel button

  TEnumCom ports(FPorts);
  ports.EnumPorts();
  for (int i = 0; i < ports.Count(); ++i) c.Entries.push_back(PortEntryText(ports.Port(i)));
  std::string wanted = setup.PortName;
  if (!FOptions.SerialPort.empty()) {
    wanted = ComPortName(SerialPortNumber(FOptions.SerialPort));
    const bool listed = std::any_of(c.Entries.begin(), c.Entries.end(), [&](const std::string& e) {
      return EntryPortName(e) == wanted;
    });
    // Pseudo-terminals and the like are not listed by the system.
    if (!listed) c.Entries.push_back(PortEntryText({wanted, ""}));
  }
  SortEntries(c.Entries);
  for (size_t i = 0; i < c.Entries.size(); ++i)
    if (EntryPortName(c.Entries[i]) == wanted) {
      c.Selected = static_cast<int>(i);
      break;
    }
  if (c.Selected < 0 && !c.Entries.empty()) c.Selected = 0;
  c.AutoCheck = FOptions.AutoCheck && !reWriteMode;
  c.SpeedItem = setup.SpeedItem;
  c.WriteSpeedItem = setup.WriteSpeedItem;
  c.ModalResult = kModalOk;
  return c;
}

TTcpIpChoice TCliUi::RunTcpIpDialog(const tagTCPIPPara& para, int32_t& /*reWriteMode*/) {
  TTcpIpChoice c;
  if (!TakeDialogTurn()) return c;
  c.Para = para;
  if (FOptions.Link == TCliOptions::TLink::Tcp) {
    c.Para.fTCPServer = 0;
    c.Para.TCPServAddr = FOptions.TcpHost;
    c.Para.TCPServPort = FOptions.TcpPort;
  } else if (FOptions.Link == TCliOptions::TLink::Listen) {
    c.Para.fTCPServer = 1;
    c.Para.TCPPort = FOptions.ListenPort;
  }
  c.LocalAddressListed = true;  // no grid here, and no local-address check
  c.ModalResult = kModalOk;
  return c;
}

// ---- the run ------------------------------------------------------------

int RunCli(const TCliOptions& options, IHost& host, ILinkFactory& links, ISerialPortLister& ports,
           const QString& iniFileName, TCliStreams streams) {
  if (!options.SerialPort.empty() && SerialPortNumber(options.SerialPort) == 0) {
    std::fprintf(streams.Err,
                 "qvxupdate: '%s' is no serial port this tool can number (COMn, ttyS*, ttyUSB*, "
                 "ttyACM* or /dev/pts/N, or a link to one)\n\n%s",
                 options.SerialPort.c_str(), CliUsage().toLocal8Bit().constData());
    return kExitUsage;
  }

  if (!options.Port.empty() && SerialPortNumber(options.Port) == 0) {
    std::fprintf(streams.Err, "qvxupdate: --port '%s' is no serial port this tool can number\n\n%s",
                 options.Port.c_str(), CliUsage().toLocal8Bit().constData());
    return kExitUsage;
  }

  TQtImageSource images;  // the embedded images the update writes
  TCliUi ui(options, streams, ports);
  tagCOMPara mainComPara = InitialMainComPara();
  TFlashWrRXCont cont(host, links, ui, mainComPara);
  const int32_t detail = options.Detail ? 1 : 0;
  cont.FDetailLog = cont.FTxTrace = cont.FRxTrace = detail;
  LoadSettings(iniFileName, cont, mainComPara);
  const int32_t storedLinkKind = cont.FLinkKind;
  const tagTCPIPPara storedTcpPara = cont.FTcpPara;

  switch (options.Link) {
    case TCliOptions::TLink::Serial:
      cont.FLinkKind = 0;  // as the dialog's switch to the serial type
      break;
    case TCliOptions::TLink::Tcp:
    case TCliOptions::TLink::Listen:
      if (cont.FLinkKind == 0) cont.FLinkKind = 1;
      break;
    case TCliOptions::TLink::FromSettings:
      break;
  }
  if (options.ReWrite) cont.FReWriteMode = 1;

  const TFlashWrRXCont::TStartupOutcome outcome =
      cont.RunStartupConnection(mainComPara.WriteSpeedIndex);
  if (!options.Handler.empty() || !options.RestoreParams.empty()) {
    std::string maintResult;
    const int maintStatus =
        RunCliMaintenance(options, cont, ui, mainComPara, outcome, streams, &maintResult);
    EndCliRun(options, cont, mainComPara, iniFileName, storedLinkKind, storedTcpPara, streams,
              maintResult);
    return maintStatus;
  }

  int status = kExitNoReader;
  std::string result = "NOREADER";
  const bool accepted =
      !outcome.Ended && outcome.ReaderFound && cont.FReaderAccepted != 0 && !ui.UpdateDisabled();
  if (accepted && options.Identify) {
    status = kExitOk;
    result = "OK";
  } else if (accepted) {
    // As the window's update command, pressed once the start-up accepted the reader.
    cont.FImageSource = &images;
    ui.SetController(&cont);
    int32_t updateResult = 0;
    int32_t comPortNumber = 0;
    const tagTCPIPPara lastTcpPara = ui.LastTcpPara();
    std::string romVersionText = outcome.RomVersionText;
    const TUpdateOutcome update =
        TB_WriteClick(cont, {updateResult, comPortNumber, lastTcpPara, romVersionText});
    status = update.Ok ? kExitOk : kExitUpdateNg;
    result = update.Ok ? "OK" : "NG " + std::to_string(update.Result);
  }

  ui.EndProgressLine();
  EndCliRun(options, cont, mainComPara, iniFileName, storedLinkKind, storedTcpPara, streams,
            result);
  return status;
}
