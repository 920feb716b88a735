// The one QApplication of a widget test executable (or QCoreApplication of
// one without windows): made before the first test, gone after the last, so
// that every window and socket a test opens has it.
#pragma once
#include <gtest/gtest.h>

#include <QApplication>
#include <memory>
#include <string>

class TWidgetsEnvironment : public ::testing::Environment {
 public:
  struct TOptions {
    bool MapFonts = false;               // the Japanese font substitutes
    bool QuitOnLastWindowClosed = true;  // Qt's default
    bool Widgets = true;                 // false: a QCoreApplication
    bool Glib = true;  // false: the event dispatcher the program uses (app/main.cpp)
  };
  // appName becomes argv[0] (and so the application's name).
  TWidgetsEnvironment(const std::string& appName, TOptions options);

  void SetUp() override;
  void TearDown() override;

 private:
  std::string FName;
  TOptions FOptions;
  int FArgc = 1;  // QApplication keeps a reference to it
  char* FArgv[2] = {nullptr, nullptr};
  std::unique_ptr<QCoreApplication> FApp;
};

// Registers the environment with GoogleTest; use once per executable, at
// namespace scope.
::testing::Environment* AddWidgetsEnvironment(const std::string& appName,
                                              TWidgetsEnvironment::TOptions options);
