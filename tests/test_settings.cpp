// The settings file: defaults, number forms, what each key drives, keeping
// everything else in the file as it was, and failures to write.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "app/IniFile.h"
#include "app/Settings.h"
#include "link/FlashWrRXCont.h"
#include "sim/InProcessLink.h"
#include "sim/ScriptedDevice.h"
#include "sim/VirtualHost.h"
#include "support/TestUi.h"

namespace {

std::string ReadAll(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll().toStdString();
}

void WriteAll(const QString& path, const std::string& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

struct TSettingsTest : ::testing::Test {
  QTemporaryDir Dir;
  QString Ini;
  TVirtualHost Host;
  TSimLinkFactory Links{Host};
  TTestUi Ui;
  TScriptedDevice Device;
  tagCOMPara MainPara;
  std::unique_ptr<TFlashWrRXCont> C;

  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    Ini = Dir.filePath("qvxupdate.ini");
    MainPara.BaudRate = 115200;
    C = std::make_unique<TFlashWrRXCont>(Host, Links, Ui, MainPara);
  }
  void Load() { LoadSettings(Ini, *C, MainPara); }
  bool Save(QString* error = nullptr) { return SaveSettings(Ini, *C, MainPara, error); }
  TIniFile Saved() const { return TIniFile(ReadAll(Ini)); }
};

TEST_F(TSettingsTest, FirstStartGivesDefaultsAndSaveCreatesEveryKey) {
  Load();
  EXPECT_EQ(C->FLinkKind, 1);
  EXPECT_EQ(MainPara.Port, 1);
  EXPECT_EQ(C->FComPara.Port, 1);
  EXPECT_EQ(C->FTcpPara.TCPPort, 10777);
  EXPECT_EQ(C->FTcpPara.fTCPServer, 0);
  EXPECT_EQ(C->FTcpPara.TCPServPort, 9004);
  EXPECT_EQ(C->FTcpPara.TCPServAddr, kDefaultIfbAddress);

  QString error;
  ASSERT_TRUE(Save(&error)) << error.toStdString();
  const std::string text = ReadAll(Ini);
  EXPECT_EQ(text,
            "[Option]\nUse_USB_TCP=1\nPort=1\nTCPPort=10777\nTCPServPort=9004\nfTCPServer=0\n"
            "TCPServAddr=" +
                std::string(kDefaultIfbAddress) + "\n");
  // No temporary file is left beside it.
  EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files), QStringList{"qvxupdate.ini"});
}

TEST(IniNumbers, DecimalAndHexadecimalForms) {
  struct TCase {
    const char* Text;
    std::optional<int32_t> Value;
  };
  const TCase cases[] = {
      {"0x2A19", 10777},
      {"0X2a19", 10777},
      {"0x", std::nullopt},
      {"0X", std::nullopt},
      {"0x0", 0},
      {"0xFFFFFFFF", -1},
      {"0x123456789", std::nullopt},  // more than 32 bits
      {"0xG1", std::nullopt},
      {"0x-1", std::nullopt},
      {"12", 12},
      {"  12 ", 12},
      {"-5", -5},
      {"+7", 7},
      {"-0", 0},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"2147483648", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"12abc", std::nullopt},
      {"", std::nullopt},
      {"-", std::nullopt},
      {"1 2", std::nullopt},
      {"1.5", std::nullopt},
      {"-0x10", std::nullopt},
      {"０", std::nullopt},  // a full-width digit
  };
  for (const auto& c : cases) EXPECT_EQ(ParseIniInteger(c.Text), c.Value) << "text: " << c.Text;
}

TEST_F(TSettingsTest, HexGarbageAndNegativeValuesInTheFile) {
  WriteAll(Ini,
           "[Option]\nUse_USB_TCP=-1\nPort=-3\nTCPPort=0x1f90\nTCPServPort=ninety\n"
           "fTCPServer=0x\nTCPServAddr=\n");
  Load();
  EXPECT_EQ(C->FLinkKind, -1);  // any value but 0 means TCP/IP
  EXPECT_EQ(C->FComPara.Port, -3);
  EXPECT_EQ(C->FTcpPara.TCPPort, 8080);
  EXPECT_EQ(C->FTcpPara.TCPServPort, 9004);  // not a number: default
  EXPECT_EQ(C->FTcpPara.fTCPServer, 0);      // "0x" alone: default
  EXPECT_EQ(C->FTcpPara.TCPServAddr, "");    // present, though empty
  // A negative port has no device name; saving does not fail on it.
  EXPECT_TRUE(Save());
}

TEST_F(TSettingsTest, LinkKindAndPortGoWhereTheyDrive) {
  for (int kind : {0, 1, 2}) {
    WriteAll(Ini, "[Option]\nUse_USB_TCP=" + std::to_string(kind) + "\nPort=7\n");
    Load();
    EXPECT_EQ(C->FLinkKind, kind);
    EXPECT_EQ(MainPara.Port, 7);
    EXPECT_EQ(C->FComPara.Port, 7);
  }
  // A run that never opens the serial port keeps the stored port.
  MainPara.Port = 0;
  ASSERT_TRUE(Save());
  EXPECT_EQ(Saved().ReadInteger("Option", "Port", 0), 7);
  EXPECT_EQ(MainPara.Port, 7);

  // The port the controller last used is what is saved, and the window's
  // record is refreshed from it.
  Links.AddSerialDevice("ttyS2", &Device);
  ASSERT_TRUE(C->OpenComPort(3));
  ASSERT_TRUE(Save());
  EXPECT_EQ(Saved().ReadInteger("Option", "Port", 0), 3);
  EXPECT_EQ(MainPara.Port, 3);
  EXPECT_EQ(MainPara.BaudRate, 115200);
}

TEST_F(TSettingsTest, SavedValuesComeFromTheController) {
  Load();
  C->FLinkKind = 0;
  C->FTcpPara = {4001, 1, 4002, "10.20.30.40"};
  ASSERT_TRUE(Save());
  const TIniFile ini = Saved();
  EXPECT_EQ(ini.ReadInteger("Option", "Use_USB_TCP", -9), 0);
  EXPECT_EQ(ini.ReadInteger("Option", "TCPPort", -9), 4001);
  EXPECT_EQ(ini.ReadInteger("Option", "fTCPServer", -9), 1);
  EXPECT_EQ(ini.ReadInteger("Option", "TCPServPort", -9), 4002);
  EXPECT_EQ(ini.ReadString("Option", "TCPServAddr"), "10.20.30.40");

  // Read back by a second start.
  auto other = std::make_unique<TFlashWrRXCont>(Host, Links, Ui, MainPara);
  tagCOMPara otherPara;
  LoadSettings(Ini, *other, otherPara);
  EXPECT_EQ(other->FLinkKind, 0);
  EXPECT_EQ(other->FTcpPara.TCPServAddr, "10.20.30.40");
  EXPECT_EQ(other->FTcpPara.fTCPServer, 1);
}

TEST_F(TSettingsTest, EverythingElseInTheFileIsKeptByteForByte) {
  const std::string before =
      "; written by the service tool\n"
      "# and edited by hand\n"
      "[Paths]\n"
      "Log=C:\\Program Files\\QVX\\log\\\n"
      "List=a,b,c ; not a comment here\n"
      "\n"
      "[option]\n"
      "  port = 7   \n"
      "Extra=keep;me\n"
      "TCPServAddr = \"10.0.0.5\"\n"
      "\n"
      "; heading of the next section\n"
      "[Zeta]\n"
      "z=1";
  WriteAll(Ini, before);
  Load();
  EXPECT_EQ(C->FComPara.Port, 7);                  // names compare without case
  EXPECT_EQ(C->FTcpPara.TCPServAddr, "10.0.0.5");  // quotes removed
  C->FTcpPara.TCPServAddr = "10.0.0.6";
  ASSERT_TRUE(Save());
  const std::string after =
      "; written by the service tool\n"
      "# and edited by hand\n"
      "[Paths]\n"
      "Log=C:\\Program Files\\QVX\\log\\\n"
      "List=a,b,c ; not a comment here\n"
      "\n"
      "[option]\n"
      "  port = 7\n"
      "Extra=keep;me\n"
      "TCPServAddr = 10.0.0.6\n"
      "Use_USB_TCP=1\n"
      "TCPPort=10777\n"
      "TCPServPort=9004\n"
      "fTCPServer=0\n"
      "\n"
      "; heading of the next section\n"
      "[Zeta]\n"
      "z=1";
  EXPECT_EQ(ReadAll(Ini), after);
  // A second save changes nothing.
  ASSERT_TRUE(Save());
  EXPECT_EQ(ReadAll(Ini), after);
}

TEST_F(TSettingsTest, CrlfAndBomFilesKeepTheirForm) {
  const std::string bom = "\xEF\xBB\xBF";
  WriteAll(Ini, bom + "[Option]\r\nUse_USB_TCP=0\r\nPort=12\r\n\r\n[Other]\r\nx=y\r\n");
  Load();
  EXPECT_EQ(C->FLinkKind, 0);  // the BOM does not hide the first section
  EXPECT_EQ(C->FComPara.Port, 12);
  ASSERT_TRUE(Save());
  EXPECT_EQ(ReadAll(Ini), bom +
                              "[Option]\r\nUse_USB_TCP=0\r\nPort=12\r\nTCPPort=10777\r\n"
                              "TCPServPort=9004\r\nfTCPServer=0\r\nTCPServAddr=" +
                              kDefaultIfbAddress + "\r\n\r\n[Other]\r\nx=y\r\n");
}

TEST_F(TSettingsTest, MissingSectionIsAddedAtTheEnd) {
  WriteAll(Ini, "[Other]\r\nx=y");  // no line end at the end
  Load();
  ASSERT_TRUE(Save());
  const std::string text = ReadAll(Ini);
  EXPECT_EQ(text.rfind("[Other]\r\nx=y\r\n[Option]\r\nUse_USB_TCP=1\r\n", 0), 0u) << text;
  EXPECT_EQ(Saved().ReadString("Other", "x"), "y");
  EXPECT_EQ(Saved().ReadInteger("Option", "TCPPort", 0), 10777);
}

TEST_F(TSettingsTest, OnlyTheFirstSectionAndKeyCount) {
  WriteAll(Ini, "[Option]\nPort=4\nPort=5\n[Option]\nPort=6\nUse_USB_TCP=0\n");
  Load();
  EXPECT_EQ(C->FComPara.Port, 4);
  EXPECT_EQ(C->FLinkKind, 1);  // the key sits in the second section only
  C->FLinkKind = 2;
  ASSERT_TRUE(Save());
  const TIniFile ini = Saved();
  EXPECT_EQ(ini.ReadInteger("Option", "Use_USB_TCP", 0), 2);
  const std::string text = ReadAll(Ini);
  const std::string second = "\n[Option]\nPort=6\nUse_USB_TCP=0\n";
  EXPECT_EQ(text.substr(text.size() - second.size()), second);
  EXPECT_EQ(text.rfind("[Option]\nPort=4\nPort=5\nUse_USB_TCP=2\n", 0), 0u) << text;
}

TEST_F(TSettingsTest, ALineBreakInAValueCannotAddLines) {
  Load();
  C->FTcpPara.TCPServAddr = "10.1.1.1\r\n[Option]\nUse_USB_TCP=9";
  ASSERT_TRUE(Save());
  const TIniFile ini = Saved();
  EXPECT_EQ(ini.ReadString("Option", "TCPServAddr"), "10.1.1.1");
  EXPECT_EQ(ini.ReadInteger("Option", "Use_USB_TCP", 0), 1);
}

TEST_F(TSettingsTest, UnwritableFileIsReportedNotCrashed) {
  QString error;
  // The settings path names a folder.
  ASSERT_TRUE(QDir(Dir.path()).mkdir("qvxupdate.ini"));
  Load();  // reads as defaults, no message
  EXPECT_EQ(C->FLinkKind, 1);
  EXPECT_FALSE(Save(&error));
  EXPECT_TRUE(error.contains(Ini)) << error.toStdString();

  // The folder does not exist.
  Ini = Dir.filePath("missing/qvxupdate.ini");
  error.clear();
  EXPECT_FALSE(Save(&error));
  EXPECT_FALSE(error.isEmpty());
  EXPECT_TRUE(Ui.FMessages.empty());  // reporting is the window's business
}

TEST_F(TSettingsTest, WriteProtectionLeavesTheOldFileWhole) {
  if (geteuid() == 0) GTEST_SKIP() << "file permissions do not bind root";
  const std::string before = "[Option]\nPort=9\n; mine\n";
  WriteAll(Ini, before);
  QString error;

  QFile::setPermissions(Ini, QFile::ReadOwner);
  EXPECT_FALSE(Save(&error));
  EXPECT_EQ(ReadAll(Ini), before);

  QFile::setPermissions(Ini, QFile::ReadOwner | QFile::WriteOwner);
  QFile::setPermissions(Dir.path(), QFile::ReadOwner | QFile::ExeOwner);
  EXPECT_FALSE(Save(&error));
  EXPECT_EQ(ReadAll(Ini), before);
  QFile::setPermissions(Dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

  // A file that cannot be read is not replaced by a fresh one.
  QFile::setPermissions(Ini, QFile::WriteOwner);
  EXPECT_FALSE(Save(&error));
  QFile::setPermissions(Ini, QFile::ReadOwner | QFile::WriteOwner);
  EXPECT_EQ(ReadAll(Ini), before);
}

TEST(IniFileName, BesideTheProgramWithItsBaseName) {
  EXPECT_EQ(IniFileNameFor("C:/Tools/QVXUpdate.exe"), "C:/Tools/QVXUpdate.ini");
  EXPECT_EQ(IniFileNameFor("/opt/qvx/qvxupdate"), "/opt/qvx/qvxupdate.ini");
  // Only the file name's last dot counts, not one in a folder name.
  EXPECT_EQ(IniFileNameFor("/opt/qvx-1.1/qvxupdate"), "/opt/qvx-1.1/qvxupdate.ini");
  EXPECT_EQ(IniFileNameFor("/opt/tool.v2.exe"), "/opt/tool.v2.ini");
}

}  // namespace
