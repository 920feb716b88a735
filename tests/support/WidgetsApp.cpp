#include "support/WidgetsApp.h"

#include "app/TRXProgAppForm.h"

TWidgetsEnvironment::TWidgetsEnvironment(const std::string& appName, TOptions options)
    : FName(appName), FOptions(options) {}

void TWidgetsEnvironment::SetUp() {
  FArgc = 1;
  FArgv[0] = FName.data();
  if (!FOptions.Glib) qputenv("QT_NO_GLIB", "1");
  if (!FOptions.Widgets) {
    FApp = std::make_unique<QCoreApplication>(FArgc, FArgv);
    return;
  }
  FApp = std::make_unique<QApplication>(FArgc, FArgv);
  if (FOptions.MapFonts) MapJapaneseFonts();
  if (!FOptions.QuitOnLastWindowClosed) QApplication::setQuitOnLastWindowClosed(false);
}

void TWidgetsEnvironment::TearDown() {
  FApp.reset();
}

::testing::Environment* AddWidgetsEnvironment(const std::string& appName,
                                              TWidgetsEnvironment::TOptions options) {
  return ::testing::AddGlobalTestEnvironment(new TWidgetsEnvironment(appName, options));
}
