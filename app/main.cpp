// The tool's start: with --cli the headless front end; otherwise the
// application object, the main window, the version window and the event loop.
#include <cstdio>
#include <cstring>

#include <QApplication>

#include "app/Cli.h"
#include "app/FormUi.h"
#include "app/InfoDialogs.h"
#include "app/Simulate.h"
#include "app/TRXProgAppForm.h"
#include "link/FlashWrRXCont.h"
#include "link/qt/QtHost.h"
#include "link/qt/QtLinkFactory.h"

namespace {

const char kWindowUsage[] =
    "Usage: qvxupdate [--simulate] [--settings FILE]\n"
    "       qvxupdate --cli [options]   (qvxupdate --cli --help for those)\n";

}  // namespace

int main(int argc, char** argv) {
  // The plain event dispatcher: only it holds back socket and serial
  // notifications while the update pauses (the GLib one delivers them).
  qputenv("QT_NO_GLIB", "1");
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--cli") == 0) return CliMain(argc, argv);

  QApplication app(argc, argv);
  bool simulate = false;
  QString settings;
  const QStringList args = app.arguments().mid(1);
  for (int i = 0; i < args.size(); ++i) {
    if (args[i] == QLatin1String("--simulate")) {
      simulate = true;
    } else if (args[i] == QLatin1String("--settings") && i + 1 < args.size()) {
      settings = args[++i];
    } else if (args[i] == QLatin1String("--help") || args[i] == QLatin1String("-h")) {
      std::fputs(kWindowUsage, stdout);
      return kExitOk;
    } else {
      std::fprintf(stderr, "qvxupdate: unknown option '%s'\n\n%s",
                   args[i].toLocal8Bit().constData(), kWindowUsage);
      return kExitUsage;
    }
  }

  MapJapaneseFonts();
  TQtHost host;
  TQtLinkFactory links;
  TBuiltInReader simulator;
  TRXProgAppForm form(host, links, settings);
  TAboutBox about;
  form.SetAboutBox(&about);

  if (simulate) {
    QString error;
    if (!simulator.Start(&error)) {
      std::fprintf(stderr, "qvxupdate: the simulated reader could not start: %s\n",
                   error.toLocal8Bit().constData());
      return kExitNoReader;
    }
    // Connect without asking; the settings keep what the operator had.
    form.KeepStoredLinkOnSave();
    form.Controller()->FLinkKind = 1;
    form.FormUi().FPresetTcpChoice =
        SimulatedTcpChoice(simulator.Port(), form.Controller()->FTcpPara);
  }
  form.EnableStartupOnShow();
  form.show();
  return app.exec();
}
