// Running the command line from tests: its standard streams as temporary
// files, the built qvxsim in the background and the built qvxupdate --cli
// to its end.
#pragma once
#include <QProcess>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <string>
#include <vector>

using TLines = std::vector<std::string>;

// The lines of text without their '\n'; a last line without one counts too.
TLines SplitLines(const std::string& text);

// A temporary file as a stream, read back whole.
class TCapture {
 public:
  // content: what a reader of the stream finds (standard input).
  explicit TCapture(const std::string& content = {});
  ~TCapture();
  TCapture(const TCapture&) = delete;
  TCapture& operator=(const TCapture&) = delete;

  std::FILE* File() { return FFile; }
  std::string Text();
  TLines Lines() { return SplitLines(Text()); }
  // Empty again, for the next run's output.
  void Clear();
  long Position() { return std::ftell(FFile); }

 private:
  std::FILE* FFile;
};

// qvxsim in the background, with the one line it prints on start; ended
// when the object goes.
class TSimProcess {
 public:
  explicit TSimProcess(const QStringList& args);
  ~TSimProcess();
  TSimProcess(const TSimProcess&) = delete;
  TSimProcess& operator=(const TSimProcess&) = delete;

  // The text after "serial: ", "listening: " and the like.
  QString Value() const { return Line.section(QStringLiteral(": "), 1); }
  QString Line;

 private:
  QProcess FProcess;
};

// How a run of the built qvxupdate ended; Status -1 when it crashed or had
// to be killed.
struct TToolRun {
  int Status = -1;
  TLines Out;
  TLines Err;
};

// qvxupdate --cli args, with standard input closed. A non-empty backupDir
// becomes its QVX_BACKUP_DIR. Killed after timeoutMs.
TToolRun RunQvxUpdate(const QStringList& args, const QString& backupDir = {},
                      int timeoutMs = 60000);
