// The headless command line: its options, and the start-up it runs in
// virtual time against the simulated reader (exact standard output, the
// standard error lines, exit statuses, the settings file); then the built
// executables end to end over a pseudo-terminal and loopback TCP.
#include <gtest/gtest.h>

#include <cstdio>

#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include "app/Cli.h"
#include "app/IniFile.h"
#include "app/Simulate.h"
#include "link/EnumCom.h"
#include "link/PortNames.h"
#include "sim/InProcessLink.h"
#include "sim/VirtualHost.h"
#include "sim/reader/SimReader.h"
#include "support/FixedPorts.h"
#include "support/RealLinks.h"
#include "support/ToolRuns.h"
#include "support/WidgetsApp.h"

namespace {

const auto* const kEnvironment = AddWidgetsEnvironment("test_cli", {.Widgets = false});

// ---- options --------------------------------------------------------------

TCliOptions Parse(const QStringList& args) {
  TCliOptions o;
  QString error;
  EXPECT_TRUE(ParseCliOptions(args, &o, &error)) << error.toStdString();
  return o;
}

QString ParseError(const QStringList& args) {
  TCliOptions o;
  QString error;
  EXPECT_FALSE(ParseCliOptions(args, &o, &error)) << args.join(' ').toStdString();
  return error;
}

TEST(CliOptions, EveryOptionOfTheContract) {
  TCliOptions o = Parse({"--cli", "--serial", "/dev/pts/3", "--rewrite", "--yes", "--identify",
                         "--detail", "--settings", "/tmp/x.ini"});
  EXPECT_EQ(o.Link, TCliOptions::TLink::Serial);
  EXPECT_EQ(o.SerialPort, "/dev/pts/3");
  EXPECT_TRUE(o.ReWrite && o.Yes && o.Identify && o.Detail);
  EXPECT_EQ(o.SettingsFile, "/tmp/x.ini");

  o = Parse({"--tcp=192.168.1.200:9004"});
  EXPECT_EQ(o.Link, TCliOptions::TLink::Tcp);
  EXPECT_EQ(o.TcpHost, "192.168.1.200");
  EXPECT_EQ(o.TcpPort, 9004);

  o = Parse({"--listen", "10777", "--identify"});
  EXPECT_EQ(o.Link, TCliOptions::TLink::Listen);
  EXPECT_EQ(o.ListenPort, 10777);

  o = Parse({"--auto-check"});
  EXPECT_EQ(o.Link, TCliOptions::TLink::Serial);
  EXPECT_TRUE(o.AutoCheck);
  EXPECT_TRUE(o.SerialPort.empty());

  o = Parse({"--simulate", "--identify"});
  EXPECT_TRUE(o.Simulate);
  EXPECT_EQ(o.Link, TCliOptions::TLink::FromSettings);
  EXPECT_TRUE(Parse({"--help"}).Help);
  EXPECT_TRUE(CliUsage().contains("--handler NAME"));
}

TEST(CliOptions, UsageErrorsSayWhat) {
  EXPECT_TRUE(ParseError({"--bogus"}).contains("--bogus"));
  EXPECT_TRUE(ParseError({"--serial"}).contains("needs a value"));
  EXPECT_TRUE(ParseError({"--serial="}).contains("needs a value"));
  EXPECT_TRUE(ParseError({"--tcp", "localhost:9004"}).contains("dotted IPv4"));
  EXPECT_TRUE(ParseError({"--tcp", "10.0.0.1"}).contains("HOST:PORT"));
  EXPECT_TRUE(ParseError({"--tcp", "10.0.0.1:0"}).contains("1 to 65535"));
  EXPECT_TRUE(ParseError({"--tcp", "10.0.0.1:70000"}).contains("1 to 65535"));
  EXPECT_TRUE(ParseError({"--listen", "x"}).contains("--listen"));
  EXPECT_TRUE(ParseError({"--serial", "COM3", "--tcp", "1.2.3.4:5"}).contains("one of"));
  EXPECT_TRUE(ParseError({"--auto-check", "--listen", "5"}).contains("--auto-check"));
  EXPECT_TRUE(ParseError({"--auto-check", "--rewrite"}).contains("--rewrite"));
  EXPECT_TRUE(ParseError({"--simulate", "--serial", "COM1"}).contains("--simulate"));
  EXPECT_TRUE(ParseError({"--identify=yes"}).contains("takes no value"));
  EXPECT_TRUE(ParseError({"--handler", "Rom1"}).contains("unknown handler 'Rom1'"));
  EXPECT_EQ(TCliUi::MessageLine("a\n\nb\r\nc"), "message: a  b c");
}

// ---- the run in virtual time ----------------------------------------------

struct TCliRunTest : ::testing::Test {
  QTemporaryDir Dir;
  TVirtualHost Host;
  TSimLinkFactory Links{Host};
  TFixedPorts Ports;
  std::vector<std::unique_ptr<TSimReader>> Readers;
  TCapture Out, Err;

  TSimReader& Reader(std::initializer_list<const char*> switches) {
    TSimReaderOptions o;
    for (const char* s : switches) EXPECT_TRUE(o.SetSwitch(s)) << s;
    Readers.push_back(std::make_unique<TSimReader>(o));
    return *Readers.back();
  }
  QString Ini() const { return Dir.filePath("qvxupdate.ini"); }
  void WriteIni(const std::string& text) {
    QFile f(Ini());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text.data(), static_cast<qint64>(text.size()));
  }
  TIniFile ReadIni() {
    TIniFile ini;
    EXPECT_TRUE(ReadIniFile(Ini(), &ini, nullptr));
    return ini;
  }
  int Run(const QStringList& args) {
    TCliOptions o;
    QString error;
    EXPECT_TRUE(ParseCliOptions(args, &o, &error)) << error.toStdString();
    return Run(o);
  }
  int Run(const TCliOptions& o) {
    TCliStreams streams;
    streams.Out = Out.File();
    streams.Err = Err.File();
    return RunCli(o, Host, Links, Ports, Ini(), streams);
  }
};

TEST_F(TCliRunTest, SerialIdentifyPrintsExactlyTheLogAndSavesThePort) {
  Links.AddSerialDevice("ttyUSB1", &Reader({}));
  EXPECT_EQ(Run({"--serial", "/dev/ttyUSB1", "--identify"}), kExitOk);
  EXPECT_EQ(SplitLines(Out.Text()),
            (TLines{"ROM Version : 2120KRV07", "Find QVX R/W ", "PORT   : 258", "Speed  : 115200",
                    "Module : QVX-K417      "}));
  EXPECT_EQ(Err.Text(), "result: OK\n");
  TIniFile ini = ReadIni();
  EXPECT_EQ(ini.ReadInteger("Option", "Use_USB_TCP", -1), 0);
  EXPECT_EQ(ini.ReadInteger("Option", "Port", -1), 258);
}

TEST_F(TCliRunTest, AutoCheckSearchesTheListedPortsInTheirOrder) {
  Links.AddSerialDevice("ttyACM0", &Reader({"no-reader"}));
  Links.AddSerialDevice("ttyUSB0", &Reader({}));
  Ports.Ports = {{"ttyUSB0", "FT232R"}, {"ttyACM0", "CDC"}};
  EXPECT_EQ(Run({"--auto-check", "--identify"}), kExitOk);
  EXPECT_EQ(SplitLines(Out.Text())[2], "PORT   : 257");
  EXPECT_EQ(Readers[0]->FReaderRequests.size(), 0u);  // tried first: ttyACM0 sorts first
}

TEST_F(TCliRunTest, ChosenPortWithoutReaderEndsWithStatusTwo) {
  Links.AddSerialDevice("ttyUSB0", &Reader({"no-reader"}));
  EXPECT_EQ(Run({"--serial", "ttyUSB0", "--identify"}), kExitNoReader);
  EXPECT_EQ(SplitLines(Out.Text()),
            (TLines{"R/Wモジュールが見つかりませんでした。", "R/Wの接続を確認してください。"}));
  EXPECT_EQ(Err.Text(), "result: NOREADER\n");
}

TEST_F(TCliRunTest, AFailingConnectionStepEndsTheRunInsteadOfLooping) {
  // No port listed: the selection error, then the run ends.
  EXPECT_EQ(Run({"--auto-check", "--identify"}), kExitNoReader);
  EXPECT_EQ(Out.Text(), "");
  EXPECT_EQ(Err.Text(),
            "message: COM選択に問題があります。  COMの再選択をしてください。\nresult: NOREADER\n");
  // Settings are saved on this way out too.
  EXPECT_EQ(ReadIni().ReadInteger("Option", "Use_USB_TCP", -1), 0);
}

TEST_F(TCliRunTest, MissingSerialPortShowsTheOpenFailure) {
  EXPECT_EQ(Run({"--serial", "/dev/ttyUSB9", "--identify"}), kExitNoReader);
  EXPECT_EQ(
      SplitLines(Err.Text())[0],
      "message: ttyUSB9がオープン出来ません!!    ポートを及びパラメータ設定を再確認してください。");
  EXPECT_EQ(Run({"--serial", "/no/such/device", "--identify"}), kExitUsage);
}

TEST_F(TCliRunTest, TcpClientWithWrongModelIsRefused) {
  Links.AddTcpEndpoint("10.1.2.3", 9004, &Reader({"tcp", "wrong-model"}));
  EXPECT_EQ(Run({"--tcp", "10.1.2.3:9004", "--identify"}), kExitNoReader);
  EXPECT_EQ(SplitLines(Out.Text()),
            (TLines{"ROM Version : 2120KRV07", "Find QVX R/W", "Module : QVX-K316      "}));
  EXPECT_EQ(SplitLines(Err.Text()),
            (TLines{"message: 対応外のR/Wモジュールです。お使いのRW対応のツールをお使いください。",
                    "result: NOREADER"}));
  // The values went into the settings as the dialog's "接続" would put them.
  TIniFile ini = ReadIni();
  EXPECT_EQ(ini.ReadInteger("Option", "Use_USB_TCP", -1), 1);
  EXPECT_EQ(ini.ReadString("Option", "TCPServAddr"), "10.1.2.3");
  EXPECT_EQ(ini.ReadInteger("Option", "fTCPServer", -1), 0);
}

TEST_F(TCliRunTest, TcpServerWithOldBoardIsRefused) {
  Links.AddBoardConnectingTo(10999, &Reader({"tcp", "old-board"}));
  EXPECT_EQ(Run({"--listen", "10999", "--identify"}), kExitNoReader);
  const TLines out = SplitLines(Out.Text());
  ASSERT_EQ(out.size(), 5u);
  EXPECT_EQ(out[3],
            "対応外のI/Fモジュールです。Ver1.022以上のI/Fモジュール搭載品のみTCP/"
            "IP接続でのアップデートが可能です。");
  EXPECT_EQ(Err.Text(), "result: NOREADER\n");
  EXPECT_EQ(ReadIni().ReadInteger("Option", "TCPPort", -1), 10999);
  EXPECT_EQ(ReadIni().ReadInteger("Option", "fTCPServer", -1), 1);
}

TEST_F(TCliRunTest, WithoutIdentifyTheUpdateRuns) {
  // A reader without a boot monitor: the download cannot get through.
  Links.AddTcpEndpoint("10.1.2.3", 9004, &Reader({"tcp"}));
  EXPECT_EQ(Run({"--tcp", "10.1.2.3:9004", "--yes"}), kExitUpdateNg);
  const TLines out = SplitLines(Out.Text());
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(
      out.back(),
      "再度ソフトを起動し、［再書込み行う］にチェックを入れてもう一度書き込みを行ってください。");
  EXPECT_EQ(SplitLines(Err.Text()), TLines{"result: NG 3"});
}

TEST_F(TCliRunTest, WithoutLinkOptionTheSettingsDecide) {
  WriteIni("; kept\n[Option]\nUse_USB_TCP=2\nTCPServAddr=10.1.2.3\nTCPServPort=9100\n");
  Links.AddTcpEndpoint("10.1.2.3", 9100, &Reader({"tcp", "old-board"}));
  // Link kind 2: TCP/IP without the board gate.
  EXPECT_EQ(Run({"--identify"}), kExitOk);
  EXPECT_EQ(SplitLines(Out.Text()).size(), 3u);
  TIniFile ini = ReadIni();
  EXPECT_EQ(ini.ReadInteger("Option", "Use_USB_TCP", -1), 2);
  QFile f(Ini());
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_TRUE(f.readAll().startsWith("; kept\n"));
}

TEST_F(TCliRunTest, ReWriteAndDetailSwitches) {
  Links.AddSerialDevice("ttyUSB0", &Reader({}));
  EXPECT_EQ(Run({"--serial", "ttyUSB0", "--rewrite", "--identify"}), kExitOk);
  EXPECT_EQ(Out.Text(), "再書き込みモードで、ファームのアップデートを実行します。\n");
  EXPECT_TRUE(Readers[0]->FReaderRequests.empty());

  TCapture out2, err2;
  TCliOptions o = Parse({"--serial", "ttyUSB0", "--detail", "--identify"});
  TCliStreams streams{out2.File(), err2.File(), stdin, false};
  EXPECT_EQ(RunCli(o, Host, Links, Ports, Ini(), streams), kExitOk);
  const std::string text = out2.Text();
  EXPECT_NE(text.find("Check PORT:257\n"), std::string::npos);
  EXPECT_NE(text.find("TX: 02 00 4E 07 00 00 00 08 01 00 00 03 63 0D \n"), std::string::npos);
  EXPECT_NE(text.find("RX: "), std::string::npos);
}

TEST_F(TCliRunTest, SimulatedConnectionLeavesTheStoredBoardAddressAlone) {
  WriteIni("[Option]\nUse_USB_TCP=0\nPort=5\nTCPServAddr=192.168.7.7\nTCPServPort=9004\n");
  Links.AddTcpEndpoint("127.0.0.1", 40123, &Reader({"tcp"}));
  TCliOptions o = Parse({"--simulate", "--identify"});
  o.Link = TCliOptions::TLink::Tcp;  // as the front end sets it for the simulator
  o.TcpHost = "127.0.0.1";
  o.TcpPort = 40123;
  EXPECT_EQ(Run(o), kExitOk);
  TIniFile ini = ReadIni();
  EXPECT_EQ(ini.ReadInteger("Option", "Use_USB_TCP", -1), 0);
  EXPECT_EQ(ini.ReadString("Option", "TCPServAddr"), "192.168.7.7");
  EXPECT_EQ(ini.ReadInteger("Option", "TCPServPort", -1), 9004);
  EXPECT_EQ(ini.ReadInteger("Option", "Port", -1), 5);
}

// ---- the built-in simulator over real loopback TCP ------------------------

TEST(BuiltInReader, AnswersOverLoopbackAndTakesANewConnection) {
  TBuiltInReader sim;
  QString error;
  ASSERT_TRUE(sim.Start(&error)) << error.toStdString();
  ASSERT_GT(sim.Port(), 0);
  const TTcpIpChoice choice = SimulatedTcpChoice(sim.Port(), {10777, 1, 9004, "192.168.7.7"});
  EXPECT_EQ(choice.ModalResult, kModalOk);
  EXPECT_EQ(choice.Para.fTCPServer, 0);
  EXPECT_EQ(choice.Para.TCPServAddr, "127.0.0.1");
  EXPECT_EQ(choice.Para.TCPPort, 10777);

  const QByteArray romRequest("\x02\x00\x4F\x02\x90\x00\x03\xE6\x0D", 9);
  for (int round = 0; round < 2; ++round) {
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(sim.Port()));
    ASSERT_TRUE(socket.waitForConnected(2000));
    socket.write(romRequest);
    QByteArray answer;
    QElapsedTimer t;
    t.start();
    while (answer.size() < 17 && t.elapsed() < 3000) {
      QTest::qWait(5);
      answer += socket.readAll();
    }
    ASSERT_EQ(answer.size(), 17) << "round " << round;
    EXPECT_EQ(answer.mid(5, 9), "2120KRV07");
    socket.disconnectFromHost();
    QTest::qWait(20);
  }
}

// ---- the built executables end to end -------------------------------------

const TLines kTcpFound = {"ROM Version : 2120KRV07", "Find QVX R/W", "Module : QVX-K417      "};
const TLines kNoReader = {"R/Wモジュールが見つかりませんでした。", "R/Wの接続を確認してください。"};

struct TEndToEndTest : ::testing::Test {
  QTemporaryDir Dir;
  QStringList Settings() const { return {"--settings", Dir.filePath("e2e.ini")}; }
};

TEST_F(TEndToEndTest, OverAPseudoTerminal) {
  {
    TSimProcess sim({"--serial"});
    ASSERT_TRUE(sim.Line.startsWith("serial: /dev/pts/")) << sim.Line.toStdString();
    const TToolRun r =
        RunQvxUpdate(QStringList{"--identify", "--serial", sim.Value()} + Settings());
    EXPECT_EQ(r.Status, kExitOk);
    EXPECT_EQ(r.Out, (TLines{"ROM Version : 2120KRV07", "Find QVX R/W ",
                             "PORT   : " + std::to_string(ComPortNumber(sim.Value().toStdString())),
                             "Speed  : 115200", "Module : QVX-K417      "}));
    EXPECT_EQ(r.Err, (TLines{"result: OK"}));
  }
  {
    TSimProcess sim({"--serial", "--no-reader"});
    const TToolRun r =
        RunQvxUpdate(QStringList{"--identify", "--serial", sim.Value()} + Settings());
    EXPECT_EQ(r.Status, kExitNoReader);
    EXPECT_EQ(r.Out, kNoReader);
    EXPECT_EQ(r.Err, (TLines{"result: NOREADER"}));
  }
}

TEST_F(TEndToEndTest, AsTcpClientOfTheBoard) {
  struct TCase {
    const char* Fault;
    int Status;
    TLines Out;
    TLines Err;
  };
  const TCase cases[] = {
      {nullptr, kExitOk, kTcpFound, {"result: OK"}},
      {"--no-reader", kExitNoReader, kNoReader, {"result: NOREADER"}},
      {"--wrong-model",
       kExitNoReader,
       {"ROM Version : 2120KRV07", "Find QVX R/W", "Module : QVX-K316      "},
       {"message: 対応外のR/Wモジュールです。お使いのRW対応のツールをお使いください。",
        "result: NOREADER"}},
  };
  for (const TCase& c : cases) {
    QStringList simArgs{"--tcp-server", "0"};
    if (c.Fault) simArgs << c.Fault;
    TSimProcess sim(simArgs);
    ASSERT_TRUE(sim.Line.startsWith("listening: ")) << sim.Line.toStdString();
    const TToolRun r =
        RunQvxUpdate(QStringList{"--identify", "--tcp", "127.0.0.1:" + sim.Value()} + Settings());
    EXPECT_EQ(r.Status, c.Status) << (c.Fault ? c.Fault : "reader");
    EXPECT_EQ(r.Out, c.Out);
    EXPECT_EQ(r.Err, c.Err);
  }
}

TEST_F(TEndToEndTest, AsTcpServerTheBoardConnectsTo) {
  for (bool oldBoard : {false, true}) {
    const int port = FreeTcpPort();
    ASSERT_GT(port, 0);
    QStringList simArgs{"--tcp-connect", "127.0.0.1:" + QString::number(port)};
    if (oldBoard) simArgs << "--old-board";
    TSimProcess sim(simArgs);
    ASSERT_TRUE(sim.Line.startsWith("connecting: ")) << sim.Line.toStdString();
    const TToolRun r =
        RunQvxUpdate(QStringList{"--identify", "--listen", QString::number(port)} + Settings());
    if (!oldBoard) {
      EXPECT_EQ(r.Status, kExitOk);
      EXPECT_EQ(r.Out, kTcpFound);
      EXPECT_EQ(r.Err, (TLines{"result: OK"}));
    } else {
      EXPECT_EQ(r.Status, kExitNoReader);
      TLines out = kTcpFound;
      out.push_back(
          "対応外のI/Fモジュールです。Ver1.022以上のI/Fモジュール搭載品のみTCP/"
          "IP接続でのアップデートが可能です。");
      out.push_back("取扱説明書を参考にI/Fのバージョンを確認してください。");
      EXPECT_EQ(r.Out, out);
      EXPECT_EQ(r.Err, (TLines{"result: NOREADER"}));
    }
  }
}

TEST_F(TEndToEndTest, SimulateAndUsageErrors) {
  TToolRun r = RunQvxUpdate(QStringList{"--simulate", "--identify"} + Settings());
  EXPECT_EQ(r.Status, kExitOk);
  EXPECT_EQ(r.Out, kTcpFound);
  TIniFile ini;
  ASSERT_TRUE(ReadIniFile(Dir.filePath("e2e.ini"), &ini, nullptr));
  EXPECT_EQ(ini.ReadString("Option", "TCPServAddr"), kDefaultIfbAddress);

  r = RunQvxUpdate(QStringList{"--tcp", "localhost:9004"} + Settings());
  EXPECT_EQ(r.Status, kExitUsage);
  EXPECT_TRUE(r.Out.empty());
  ASSERT_FALSE(r.Err.empty());
  EXPECT_NE(r.Err[0].find("dotted IPv4"), std::string::npos);
  r = RunQvxUpdate({"--help"});
  EXPECT_EQ(r.Status, kExitOk);
  ASSERT_FALSE(r.Out.empty());
  EXPECT_EQ(r.Out[0], "Usage: qvxupdate --cli [options]");
}

}  // namespace
