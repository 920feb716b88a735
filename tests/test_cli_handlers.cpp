// The command line's --handler and --restore-params: their options, runs in
// virtual time against the simulated reader and boot-mode target (standard
// output, standard error, exit status), then the built executables against
// qvxsim over pseudo-terminals.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <QTemporaryDir>

#include "app/Cli.h"
#include "app/HiddenMenus.h"
#include "app/IniFile.h"
#include "link/EnumCom.h"
#include "link/PortNames.h"
#include "reader/ParamBackupFile.h"
#include "sim/InProcessLink.h"
#include "sim/VirtualHost.h"
#include "sim/mcu/SimMcuBootTarget.h"
#include "sim/reader/SimReader.h"
#include "support/FixedPorts.h"
#include "support/ToolRuns.h"
#include "support/WidgetsApp.h"

namespace fs = std::filesystem;
namespace pb = ParamBackupFile;

namespace {

const auto* const kEnvironment = AddWidgetsEnvironment("test_cli_handlers", {.Widgets = false});

bool Has(const TLines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The file a "backup: PATH" line names.
std::string BackupNamed(const TLines& err) {
  for (const std::string& l : err)
    if (l.rfind("backup: ", 0) == 0) return l.substr(8);
  return {};
}

TBytes ImageOf(const std::string& path) {
  pb::TParamBackup b;
  std::string error;
  EXPECT_TRUE(pb::Read(path, b, error)) << path << ": " << error;
  return b.Image;
}

std::string WriteBackup(const fs::path& folder, const TBytes& image) {
  fs::path written;
  std::string error;
  EXPECT_TRUE(pb::Write(folder, {"2120KRV07", image}, written, error)) << error;
  return written.string();
}

// A copy of the file with one byte flipped.
std::string Damaged(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes{std::istreambuf_iterator<char>(in), {}};
  bytes[bytes.size() / 2] ^= 0x20;
  const std::string copy = path + ".damaged";
  std::ofstream(copy, std::ios::binary) << bytes;
  return copy;
}

// ---- options ----------------------------------------------------------------

QString ParseError(const QStringList& args) {
  TCliOptions o;
  QString error;
  EXPECT_FALSE(ParseCliOptions(args, &o, &error)) << args.join(' ').toStdString();
  return error;
}

TEST(CliHandlerOptions, NamesPortsAndFilesAreChecked) {
  TCliOptions o;
  QString error;
  ASSERT_TRUE(ParseCliOptions({"--handler", "MnSetCOMPortClick", "--port", "COM3"}, &o, &error));
  EXPECT_EQ(o.Port, "COM3");
  ASSERT_TRUE(ParseCliOptions({"--restore-params=/tmp/p.qvxparam", "--rewrite"}, &o, &error));
  EXPECT_EQ(o.RestoreParams, "/tmp/p.qvxparam");

  EXPECT_TRUE(
      ParseError({"--handler", "NoSuchHandler"}).contains("unknown handler 'NoSuchHandler'"));
  EXPECT_TRUE(ParseError({"--handler", "MnRestoreParamClick"}).contains("--restore-params FILE"));
  EXPECT_TRUE(ParseError({"--handler", "MnSetCOMPortClick"}).contains("--port PORT"));
  EXPECT_TRUE(ParseError({"--handler", "Rom1Click", "--port", "COM3"}).contains("--port goes"));
  EXPECT_TRUE(ParseError({"--restore-params", "f", "--identify"}).contains("--restore-params"));
  EXPECT_TRUE(
      ParseError({"--restore-params", "f", "--handler", "Rom1Click"}).contains("--restore-params"));
  EXPECT_TRUE(ParseError({"--restore-params"}).contains("needs a value"));

  // The help lists every name --handler takes, and only those.
  const QString usage = CliUsage();
  for (const std::string& name : THiddenMenus::HandlerNames())
    EXPECT_EQ(usage.contains(QString::fromStdString(name)), CliHandlerKnown(name)) << name;
  EXPECT_FALSE(CliHandlerKnown(THiddenMenus::kRestoreParams));
}

// ---- runs in virtual time ---------------------------------------------------

struct TCliHandlerTest : ::testing::Test {
  QTemporaryDir Dir;
  TVirtualHost Host;
  TSimLinkFactory Links{Host};
  TFixedPorts Ports;  // none
  std::vector<std::unique_ptr<TSimReader>> Readers;
  TSimMcuBootTarget Mcu;
  TCapture Out, Err;

  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    setenv(pb::kFolderVariable, Dir.filePath("backups").toLocal8Bit().constData(), 1);
    Links.AddSerialDevice("ttyUSB1", &Mcu);
  }
  TSimReader& Reader(std::initializer_list<const char*> switches = {}) {
    TSimReaderOptions o;
    for (const char* s : switches) EXPECT_TRUE(o.SetSwitch(s)) << s;
    Readers.push_back(std::make_unique<TSimReader>(o));
    return *Readers.back();
  }
  // Out and Err hold this run's lines.
  int Run(const QStringList& args) {
    Out.Clear();
    Err.Clear();
    TCliOptions o;
    QString error;
    EXPECT_TRUE(ParseCliOptions(args, &o, &error)) << error.toStdString();
    TCliStreams streams{Out.File(), Err.File(), stdin, false};
    return RunCli(o, Host, Links, Ports, Dir.filePath("cli.ini"), streams);
  }
  QString Backups() const { return Dir.filePath("backups"); }
};

const TLines kSerialFound = {"ROM Version : 2120KRV07", "Find QVX R/W ", "PORT   : 257",
                             "Speed  : 115200", "Module : QVX-K417      "};

TLines With(TLines lines, std::initializer_list<std::string> more) {
  lines.insert(lines.end(), more);
  return lines;
}

TEST_F(TCliHandlerTest, ReaderHandlerOutcomeDecidesTheExitStatus) {
  Links.AddSerialDevice("ttyUSB0", &Reader());
  EXPECT_EQ(Run({"--serial", "ttyUSB0", "--handler", "MnGetPowerClick"}), kExitOk);
  EXPECT_EQ(Out.Lines(), With(kSerialFound, {"Set PowerRef : OK"}));
  EXPECT_EQ(Err.Lines(), TLines{"result: OK"});

  Links.AddSerialDevice("ttyUSB0", &Reader({"refuse=N:71"}));
  EXPECT_EQ(Run({"--serial", "ttyUSB0", "--handler", "MnInitClick"}), kExitHandlerNg);
  EXPECT_EQ(Out.Lines(), With(kSerialFound, {"TxInitEEPROM : NG"}));
  EXPECT_EQ(Err.Lines(), TLines{"result: NG"});

  // Nothing to report.
  EXPECT_EQ(Run({"--serial", "ttyUSB0", "--handler", "MnSetConfigClick"}), kExitOk);
  EXPECT_EQ(Out.Lines(), kSerialFound);
  EXPECT_EQ(Err.Lines(), TLines{"result: DONE"});
}

TEST_F(TCliHandlerTest, BootModeHandlerShowsItsDetailLinesOnlyWithDetail) {
  // Re-write mode opens the target's port without looking for a reader.
  EXPECT_EQ(Run({"--serial", "ttyUSB1", "--rewrite", "--handler", "MnBitRateClick"}), kExitOk);
  EXPECT_EQ(Out.Lines(), TLines{"再書き込みモードで、ファームのアップデートを実行します。"});
  EXPECT_EQ(Err.Lines(), TLines{"result: OK"});

  // A fresh target, now with the success line and the TX/RX traces.
  TSimMcuBootTarget fresh;
  Links.AddSerialDevice("ttyUSB3", &fresh);
  EXPECT_EQ(Run({"--serial", "ttyUSB3", "--rewrite", "--detail", "--handler", "MnBitRateClick"}),
            kExitOk);
  const TLines out = Out.Lines();
  EXPECT_TRUE(Has(out, "OK: ビットレート合わせ込み")) << testing::PrintToString(out);
  EXPECT_TRUE(Has(out, "TX: 55 "));

  // A target that refuses the matching: the always line and status 1.
  TSimMcuBootTarget refusing;
  refusing.FFaults.RefuseBitRate = true;
  Links.AddSerialDevice("ttyUSB2", &refusing);
  EXPECT_EQ(Run({"--serial", "ttyUSB2", "--rewrite", "--handler", "MnBitRateClick"}),
            kExitHandlerNg);
  EXPECT_TRUE(Has(Out.Lines(), "NG: ビットレート合わせ込み"));
  EXPECT_EQ(Err.Lines().back(), "result: NG");
}

TEST_F(TCliHandlerTest, DialogHandlersTakeTheirAnswersFromTheOptions) {
  Links.AddSerialDevice("ttyUSB0", &Reader());
  EXPECT_EQ(Run({"--serial", "ttyUSB0", "--detail", "--handler", "MnSetCOMPortClick", "--port",
                 "/dev/ttyUSB1"}),
            kExitOk);
  EXPECT_EQ(Out.Lines().back(), "Open ttyUSB1 : OK");
  TIniFile ini;
  ASSERT_TRUE(ReadIniFile(Dir.filePath("cli.ini"), &ini, nullptr));
  EXPECT_EQ(ini.ReadInteger("Option", "Port", -1), ComPortNumber("ttyUSB1"));

  EXPECT_EQ(Run({"--serial", "ttyUSB0", "--handler", "MnSetCOMPortClick", "--port", "ttyUSB7"}),
            kExitHandlerNg);
  EXPECT_EQ(Err.Lines().front().rfind("message: ttyUSB7がオープン出来ません", 0), 0u);

  // The TCP/IP test runs the connection step a second time.
  Links.AddTcpEndpoint("10.1.2.3", 9004, &Reader({"tcp"}));
  EXPECT_EQ(Run({"--tcp", "10.1.2.3:9004", "--handler", "Mn_Setting_testClick"}), kExitOk);
  const TLines out = Out.Lines();
  EXPECT_EQ(std::count(out.begin(), out.end(), "Find QVX R/W"), 2);
  EXPECT_EQ(Err.Lines().back(), "result: DONE");
}

TEST_F(TCliHandlerTest, RestoreParamsWritesTheFileBackAndNamesTheBackupFirst) {
  TSimReader& reader = Reader();
  Links.AddSerialDevice("ttyUSB0", &reader);
  const std::string file =
      WriteBackup(Dir.filePath("saved").toStdString(), TSimParamMemory::OwnSettings());
  reader.ParamMemory().FMemory = TSimParamMemory::FactoryDefaults();

  EXPECT_EQ(Run({"--serial", "ttyUSB0", "--restore-params", QString::fromStdString(file)}),
            kExitOk);
  EXPECT_EQ(Out.Lines(), With(kSerialFound, {"Restore Params : OK"}));
  const TLines err = Err.Lines();
  ASSERT_EQ(err.size(), 2u);
  EXPECT_EQ(err[1], "result: OK");
  EXPECT_EQ(reader.ParamMemory().FMemory, TSimParamMemory::OwnSettings());
  // What the reader held before went to the backup folder.
  const std::string backup = BackupNamed(err);
  EXPECT_EQ(fs::path(backup).parent_path(), fs::path(Backups().toStdString()));
  EXPECT_EQ(ImageOf(backup), TSimParamMemory::FactoryDefaults());

  // A damaged file: NG before the reader's memory is touched.
  int memoryRequests = 0;
  reader.ParamMemory().OnRequest = [&](const TSimRequest&) { ++memoryRequests; };
  EXPECT_EQ(Run({"--serial", "ttyUSB0", "--restore-params", QString::fromStdString(Damaged(file))}),
            kExitHandlerNg);
  EXPECT_EQ(Out.Lines().back(), "Restore Params : NG");
  const TLines err2 = Err.Lines();
  EXPECT_NE(err2[0].find("parameter restore failed"), std::string::npos) << err2[0];
  EXPECT_EQ(err2.back(), "result: NG");
  EXPECT_EQ(BackupNamed(err2), "");
  EXPECT_EQ(reader.ParamMemory().FMemory, TSimParamMemory::OwnSettings());
  EXPECT_EQ(memoryRequests, 0);

  // No reader: nothing is attempted.
  Links.AddSerialDevice("ttyUSB0", &Reader({"no-reader"}));
  EXPECT_EQ(Run({"--serial", "ttyUSB0", "--restore-params", QString::fromStdString(file)}),
            kExitNoReader);
  EXPECT_EQ(Err.Lines().back(), "result: NOREADER");
}

// ---- the built executables --------------------------------------------------

struct TCliHandlerEndToEnd : ::testing::Test {
  QTemporaryDir Dir;

  TToolRun Tool(const QStringList& args) {
    return RunQvxUpdate(QStringList{"--settings", Dir.filePath("e2e.ini")} + args,
                        Dir.filePath("backups"), 120000);
  }
};

TEST_F(TCliHandlerEndToEnd, HandlersOfBothMenusAndUnknownNames) {
  {
    TSimProcess sim({"--serial"});
    ASSERT_TRUE(sim.Value().startsWith("/dev/pts/")) << sim.Value().toStdString();
    const TToolRun r = Tool({"--serial", sim.Value(), "--handler", "MnGetPowerClick"});
    EXPECT_EQ(r.Status, kExitOk);
    ASSERT_FALSE(r.Out.empty());
    EXPECT_EQ(r.Out.back(), "Set PowerRef : OK");
    EXPECT_EQ(r.Err, TLines{"result: OK"});
  }
  {
    TSimProcess mcu({"--serial", "--mcu"});
    const TToolRun r =
        Tool({"--serial", mcu.Value(), "--rewrite", "--detail", "--handler", "MnCmdCheckClick"});
    EXPECT_EQ(r.Status, kExitOk);
    const long ok = std::count_if(r.Out.begin(), r.Out.end(),
                                  [](const std::string& l) { return l.rfind("OK: ", 0) == 0; });
    EXPECT_EQ(ok, 15);
    EXPECT_TRUE(Has(r.Out, "書き込みサイズ: 256"));
    EXPECT_EQ(r.Err.back(), "result: OK");
  }
  const TToolRun r = Tool({"--handler", "NoSuchHandler"});
  EXPECT_EQ(r.Status, kExitUsage);
  EXPECT_TRUE(r.Out.empty());
  ASSERT_FALSE(r.Err.empty());
  EXPECT_NE(r.Err[0].find("unknown handler 'NoSuchHandler'"), std::string::npos);
  EXPECT_TRUE(Has(r.Err, "Handlers for --handler:"));
}

TEST_F(TCliHandlerEndToEnd, RestoreParamsRoundTripAgainstTheSimulator) {
  TSimProcess sim({"--serial"});
  ASSERT_TRUE(sim.Value().startsWith("/dev/pts/")) << sim.Value().toStdString();
  // The reader's own settings with a hundred words changed.
  TBytes changed = TSimParamMemory::OwnSettings();
  for (int i = 100 * 4; i < 200 * 4; ++i) changed[static_cast<size_t>(i)] ^= 0x5A;
  const std::string file = WriteBackup(Dir.filePath("saved").toStdString(), changed);

  const TToolRun first =
      Tool({"--serial", sim.Value(), "--restore-params", QString::fromStdString(file)});
  EXPECT_EQ(first.Status, kExitOk);
  EXPECT_EQ(first.Out.back(), "Restore Params : OK");
  EXPECT_EQ(first.Err.back(), "result: OK");
  const std::string before = BackupNamed(first.Err);
  ASSERT_FALSE(before.empty());
  EXPECT_EQ(ImageOf(before), TSimParamMemory::OwnSettings());

  // Putting the tool's own backup back: the backup written first this time
  // holds what the first run wrote to the reader.
  const TToolRun second =
      Tool({"--serial", sim.Value(), "--restore-params", QString::fromStdString(before)});
  EXPECT_EQ(second.Status, kExitOk);
  const std::string afterFirst = BackupNamed(second.Err);
  ASSERT_FALSE(afterFirst.empty());
  EXPECT_EQ(ImageOf(afterFirst), changed);

  const TToolRun damaged =
      Tool({"--serial", sim.Value(), "--restore-params", QString::fromStdString(Damaged(file))});
  EXPECT_EQ(damaged.Status, kExitHandlerNg);
  EXPECT_EQ(damaged.Out.back(), "Restore Params : NG");
  EXPECT_EQ(damaged.Err.back(), "result: NG");
}

}  // namespace
