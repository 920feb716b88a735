// The manual restart, end to end: a reader that answers the end processing
// and then stays silent until its power is cycled. The built qvxupdate asks
// the operator, closes and reopens the serial port (which the simulator takes
// as the power cycle), reads the new version and finishes the update.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>

#include "link/PortNames.h"
#include "support/ToolRuns.h"

namespace {

bool HasLine(const TLines& lines, const std::string& text) {
  return std::find(lines.begin(), lines.end(), text) != lines.end();
}

TEST(UpdatePowerCycle, SilentReaderIsRestartedByTheOperatorOverSerial) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  TSimProcess sim({"--serial", "--silent-after-first-version"});
  ASSERT_TRUE(sim.Line.startsWith("serial: /dev/pts/")) << sim.Line.toStdString();
  if (ComPortNumber(sim.Value().toStdString()) == 0) GTEST_SKIP() << "no port number";

  // Standard input is closed: each confirmation is answered as by Enter.
  const TToolRun run =
      RunQvxUpdate({"--cli", "--serial", sim.Value(), "--settings", dir.filePath("q.ini")},
                   dir.filePath("backups"), 180000);
  EXPECT_EQ(run.Status, 0);
  // The operator was asked for the power cycle, then for the final 確認.
  EXPECT_TRUE(HasLine(run.Err, "confirm: R/Wの電源を入れ直し， 「確認」 を押してください (Enter)"));
  EXPECT_TRUE(HasLine(run.Err, "confirm: OK (Enter)"));
  EXPECT_TRUE(HasLine(run.Err, "result: OK"));
  EXPECT_TRUE(HasLine(run.Out, "OK：終了処理"));
  EXPECT_TRUE(HasLine(run.Out, "OK：ROM Version"));
  EXPECT_TRUE(HasLine(run.Out, "ROM Version : 2130KRV07"));
  EXPECT_TRUE(HasLine(run.Out, "アップデートが正常に終了しました。"));
}

}  // namespace
