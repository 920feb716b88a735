// The process side of --cli: the application object without windows, the
// real host and links, the built-in simulator when asked for.
#include <unistd.h>

#include <QCoreApplication>

#include "app/Cli.h"
#include "app/Platform.h"
#include "app/Settings.h"
#include "app/Simulate.h"
#include "link/qt/QtHost.h"
#include "link/qt/QtLinkFactory.h"

int CliMain(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  TCliOptions options;
  QString error;
  if (!ParseCliOptions(app.arguments().mid(1), &options, &error)) {
    std::fprintf(stderr, "qvxupdate: %s\n\n%s", error.toLocal8Bit().constData(),
                 CliUsage().toLocal8Bit().constData());
    return kExitUsage;
  }
  if (options.Help) {
    std::fputs(CliUsage().toLocal8Bit().constData(), stdout);
    return kExitOk;
  }

  TQtHost host;
  TQtLinkFactory links;
  TSystemPortLister ports;
  TCliStreams streams;
  streams.ErrIsTerminal = isatty(fileno(stderr)) != 0;
  const QString ini = options.SettingsFile.isEmpty()
                          ? IniFileNameFor(QCoreApplication::applicationFilePath())
                          : options.SettingsFile;

  TBuiltInReader simulator;
  if (options.Simulate) {
    if (!simulator.Start(&error)) {
      std::fprintf(stderr,
                   "qvxupdate: the simulated reader could not start: %s\nresult: NOREADER\n",
                   error.toLocal8Bit().constData());
      return kExitNoReader;
    }
    options.Link = TCliOptions::TLink::Tcp;
    options.TcpHost = kSimulatorAddress;
    options.TcpPort = simulator.Port();
  }
  return RunCli(options, host, links, ports, ini, streams);
}
