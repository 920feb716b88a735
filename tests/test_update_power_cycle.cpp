// The manual restart, end to end: a reader that answers the end processing
// and then stays silent until its power is cycled. The built qvxupdate asks
// the operator, closes and reopens the serial port (which the simulator takes
// as the power cycle), reads the new version and finishes the update.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include "link/PortNames.h"

namespace {

TEST(UpdatePowerCycle, SilentReaderIsRestartedByTheOperatorOverSerial) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QProcess sim;
  sim.start(QVXSIM_PATH, {"--serial", "--silent-after-first-version"});
  ASSERT_TRUE(sim.waitForReadyRead(10000));
  const QString line = QString::fromLocal8Bit(sim.readLine()).trimmed();
  ASSERT_TRUE(line.startsWith("serial: ")) << line.toStdString();
  const QString path = line.mid(8);
  if (ComPortNumber(path.toStdString()) == 0)
    GTEST_SKIP() << "no port number for " << path.toStdString();

  QProcess tool;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QVX_BACKUP_DIR", dir.filePath("backups"));
  tool.setProcessEnvironment(env);
  tool.start(QVXUPDATE_PATH,
             {"--cli", "--yes", "--serial", path, "--settings", dir.filePath("q.ini")});
  ASSERT_TRUE(tool.waitForFinished(180000));
  const QString out = QString::fromUtf8(tool.readAllStandardOutput());
  const QString err = QString::fromUtf8(tool.readAllStandardError());
  EXPECT_EQ(tool.exitCode(), 0) << out.toStdString() << err.toStdString();
  // The update went on past the silent reader.
  EXPECT_TRUE(out.contains("OK：終了処理"));
  EXPECT_TRUE(out.contains("OK：ROM Version"));
  EXPECT_TRUE(out.contains("ROM Version : 2130KRV07"));
  EXPECT_TRUE(out.contains("アップデートが正常に終了しました。"));
  EXPECT_TRUE(err.contains("result: OK"));

  sim.terminate();
  EXPECT_TRUE(sim.waitForFinished(5000));
  // The port was closed and opened again: only the manual restart does that
  // on a serial link, and the simulator took it as the power cycle.
  EXPECT_GE(QString::fromLocal8Bit(sim.readAllStandardError()).count("link opened"), 2);
}

}  // namespace
