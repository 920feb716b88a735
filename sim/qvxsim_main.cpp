// qvxsim: serves a simulated device over a pseudo-terminal (the tool opens it
// as a serial port) or over TCP, as server or as client like the reader's
// interface board. Link events go to stderr; the one line on stdout tells the
// caller where to connect.
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QStringList>
#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

#include "sim/SimDevice.h"
#include "sim/SimUnit.h"
#include "sim/mcu/SimMcuBootTarget.h"
#include "sim/qt/QtSimScheduler.h"
#include "sim/qt/SimPtyTransport.h"
#include "sim/qt/SimTcpTransports.h"

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;

const char kUsage[] =
    "usage: qvxsim MODE [--SWITCH[=VALUE]...]\n"
    "modes:\n"
    "  --serial               create a pseudo-terminal and print \"serial: /dev/pts/N\"\n"
    "  --tcp-server PORT      listen on PORT (0: any free port) and print \"listening: PORT\"\n"
    "  --tcp-connect HOST:PORT  connect to the tool listening there, retrying every 500 ms,\n"
    "                         and print \"connecting: HOST:PORT\"\n"
    "  --help                 show this text\n"
    "Ends on SIGTERM or SIGINT.\n";

// What qvxsim serves: the whole reader unit, or with --mcu a microcontroller
// in its serial boot mode. deviceArgs are the options the transport did not
// take, each a switch written as --NAME[=VALUE].
struct TServed {
  std::unique_ptr<TSimUnit> Unit;
  std::unique_ptr<TSimMcuBootTarget> Mcu;
  TSimDevice& Device() {
    if (Mcu) return *Mcu;
    return Unit->Reader();
  }
};

bool MakeServed(ISimScheduler& scheduler, TSimLink link, const QStringList& deviceArgs,
                TServed* served, QString* error) {
  if (deviceArgs.contains("--mcu")) {
    if (deviceArgs.size() != 1) {
      *error = "--mcu takes no other switches";
      return false;
    }
    served->Mcu = std::make_unique<TSimMcuBootTarget>();
    // A pseudo-terminal carries no line rate: the target hears every byte.
    served->Mcu->FModelLineRate = false;
    return true;
  }
  std::vector<std::string> switches;
  for (const QString& a : deviceArgs) switches.push_back(a.mid(2).toStdString());
  std::string why;
  served->Unit = TSimUnit::Create(scheduler, link, switches, &why);
  if (!served->Unit) *error = QString::fromStdString(why);
  return served->Unit != nullptr;
}

struct TOptions {
  enum TMode { None, Serial, TcpServer, TcpConnect } Mode = None;
  bool Help = false;
  QString Host;
  int Port = 0;
  QStringList DeviceArgs;
};

bool ParsePort(const QString& text, int lowest, int* port) {
  bool ok = false;
  const int value = text.toInt(&ok, 10);
  if (!ok || value < lowest || value > 65535) return false;
  *port = value;
  return true;
}

bool ParseOptions(const QStringList& args, TOptions* o, QString* error) {
  auto setMode = [&](TOptions::TMode mode) {
    if (o->Mode != TOptions::None) {
      *error = "give exactly one of --serial, --tcp-server, --tcp-connect";
      return false;
    }
    o->Mode = mode;
    return true;
  };
  for (int i = 0; i < args.size(); ++i) {
    QString arg = args[i];
    QString value;
    const qsizetype eq = arg.indexOf('=');
    if (arg.startsWith("--") && eq > 0) {
      value = arg.mid(eq + 1);
      arg = arg.left(eq);
    }
    auto takeValue = [&]() {
      if (!value.isNull()) return true;
      if (i + 1 >= args.size()) {
        *error = arg + " needs a value";
        return false;
      }
      value = args[++i];
      return true;
    };
    if ((arg == "--help" || arg == "--serial") && !value.isNull()) {
      *error = arg + " takes no value";
      return false;
    }
    if (arg == "--help" || arg == "-h") {
      o->Help = true;
    } else if (arg == "--serial") {
      if (!setMode(TOptions::Serial)) return false;
    } else if (arg == "--tcp-server") {
      if (!setMode(TOptions::TcpServer) || !takeValue()) return false;
      if (!ParsePort(value, 0, &o->Port)) {
        *error = "bad port \"" + value + "\"";
        return false;
      }
    } else if (arg == "--tcp-connect") {
      if (!setMode(TOptions::TcpConnect) || !takeValue()) return false;
      const qsizetype colon = value.lastIndexOf(':');
      if (colon <= 0 || !ParsePort(value.mid(colon + 1), 1, &o->Port)) {
        *error = "bad address \"" + value + "\" (want HOST:PORT)";
        return false;
      }
      o->Host = value.left(colon);
    } else {
      o->DeviceArgs << args[i];  // the device's own switches and their values
    }
  }
  if (!o->Help && o->Mode == TOptions::None) {
    *error = "no mode given";
    return false;
  }
  return true;
}

int gSignalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char c = 1;
  (void)!write(gSignalPipe[1], &c, 1);
}

// SIGTERM and SIGINT end the event loop, so that every link is closed on the way out.
bool QuitOnSignals(QCoreApplication& app) {
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalPipe) != 0) return false;
  auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, &app);
  QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] { app.quit(); });
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return true;
}

void LogEvent(const std::string& text) {
  std::fprintf(stderr, "qvxsim: %s\n", text.c_str());
  std::fflush(stderr);
}

void PrintLine(const QString& line) {
  std::printf("%s\n", line.toLocal8Bit().constData());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  TOptions options;
  QString error;
  if (!ParseOptions(app.arguments().mid(1), &options, &error)) {
    std::fprintf(stderr, "qvxsim: %s\n%s", error.toLocal8Bit().constData(), kUsage);
    return kExitUsage;
  }
  if (options.Help) {
    std::fputs(kUsage, stdout);
    std::fputs("  --mcu                  serve a microcontroller in its serial boot mode instead\n",
               stdout);
    std::fputs("reader unit switches (--NAME[=VALUE]):\n", stdout);
    for (const auto& l : TSimUnit::SwitchHelp()) std::printf("  %s\n", l.c_str());
    return 0;
  }
  TQtSimScheduler scheduler;
  const TSimLink link = options.Mode == TOptions::Serial ? TSimLink::Serial : TSimLink::Tcp;
  TServed served;
  if (!MakeServed(scheduler, link, options.DeviceArgs, &served, &error)) {
    std::fprintf(stderr, "qvxsim: %s\n%s", error.toLocal8Bit().constData(), kUsage);
    return kExitUsage;
  }
  if (!QuitOnSignals(app)) {
    std::perror("qvxsim: signal pipe");
    return kExitFailure;
  }

  // Declared after the unit: they go first on the way out.
  std::unique_ptr<TSimPtyTransport> pty;
  std::unique_ptr<TSimTcpServerTransport> server;
  std::unique_ptr<TSimTcpClientTransport> client;
  switch (options.Mode) {
    case TOptions::Serial:
      pty = std::make_unique<TSimPtyTransport>(served.Device(), scheduler);
      pty->OnEvent = LogEvent;
      if (!pty->Open()) {
        LogEvent(pty->ErrorText());
        return kExitFailure;
      }
      if (!pty->WatchingOpens())
        LogEvent("cannot watch the port's opens; a quick reopen may go unseen");
      PrintLine("serial: " + QString::fromStdString(pty->SlavePath()));
      break;
    case TOptions::TcpServer:
      server = std::make_unique<TSimTcpServerTransport>(served.Device(), scheduler);
      server->OnEvent = LogEvent;
      if (!server->Listen(options.Port)) {
        LogEvent(server->ErrorText());
        return kExitFailure;
      }
      PrintLine("listening: " + QString::number(server->Port()));
      break;
    case TOptions::TcpConnect:
      client = std::make_unique<TSimTcpClientTransport>(served.Device(), scheduler);
      client->OnEvent = LogEvent;
      PrintLine("connecting: " + options.Host + ":" + QString::number(options.Port));
      client->Start(options.Host, options.Port);
      break;
    case TOptions::None:
      break;
  }
  const int rc = app.exec();
  LogEvent("stopping");
  return rc;
}
