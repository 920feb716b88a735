// The tool's start: the application object, the main window, the event loop.
#include <QApplication>

#include "app/TRXProgAppForm.h"
#include "link/qt/QtHost.h"
#include "link/qt/QtLinkFactory.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  MapJapaneseFonts();
  TQtHost host;
  TQtLinkFactory links;
  TRXProgAppForm form(host, links);
  form.show();
  return app.exec();
}
