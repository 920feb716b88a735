#include "support/ToolRuns.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QProcessEnvironment>

#include "reader/ParamBackupFile.h"

TLines SplitLines(const std::string& text) {
  TLines lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

TCapture::TCapture(const std::string& content) : FFile(std::tmpfile()) {
  std::fputs(content.c_str(), FFile);
  std::rewind(FFile);
}

TCapture::~TCapture() {
  std::fclose(FFile);
}

std::string TCapture::Text() {
  std::fflush(FFile);
  std::rewind(FFile);
  std::string s;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, FFile)) > 0) s.append(buf, n);
  return s;
}

void TCapture::Clear() {
  std::fflush(FFile);
  EXPECT_EQ(ftruncate(fileno(FFile), 0), 0);
  std::rewind(FFile);
}

TSimProcess::TSimProcess(const QStringList& args) {
  FProcess.start(QStringLiteral(QVXSIM_PATH), args);
  if (!FProcess.waitForStarted(5000)) return;
  QElapsedTimer t;
  t.start();
  while (!FProcess.canReadLine() && t.elapsed() < 5000) FProcess.waitForReadyRead(100);
  Line = QString::fromUtf8(FProcess.readLine()).trimmed();
}

TSimProcess::~TSimProcess() {
  FProcess.terminate();
  if (!FProcess.waitForFinished(3000)) FProcess.kill();
}

TToolRun RunQvxUpdate(const QStringList& args, const QString& backupDir, int timeoutMs) {
  QProcess p;
  if (!backupDir.isEmpty()) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(ParamBackupFile::kFolderVariable), backupDir);
    p.setProcessEnvironment(env);
  }
  p.start(QStringLiteral(QVXUPDATE_PATH), QStringList{"--cli"} + args);
  p.closeWriteChannel();
  TToolRun r;
  if (!p.waitForFinished(timeoutMs)) {
    p.kill();
    p.waitForFinished(3000);
    return r;
  }
  r.Status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.Out = SplitLines(p.readAllStandardOutput().toStdString());
  r.Err = SplitLines(p.readAllStandardError().toStdString());
  return r;
}
