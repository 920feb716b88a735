// The parameter backup file: its format refuses damage, it is written
// atomically under a new name and rotated, it exists before the reader's
// memory is touched, and a restore from it puts the reader's settings back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>

#include "link/FlashWrRXCont.h"
#include "link/PortNames.h"
#include "reader/ParamBackupFile.h"
#include "sim/InProcessLink.h"
#include "sim/VirtualHost.h"
#include "sim/reader/SimReader.h"
#include "support/BackupDir.h"
#include "support/ScriptedLink.h"
#include "support/TestUi.h"

namespace fs = std::filesystem;
namespace pb = ParamBackupFile;

namespace {

std::vector<uint8_t> Load(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}

void Store(const fs::path& p, const std::vector<uint8_t>& b) {
  std::ofstream(p, std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

std::vector<fs::path> Files(const fs::path& dir) {
  std::vector<fs::path> out;
  if (fs::exists(dir))
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

pb::TParamBackup Backup(const std::string& rom, const TBytes& image) {
  return {rom, std::vector<uint8_t>(image.begin(), image.end())};
}

struct TParamBackupTest : ::testing::Test {
  TVirtualHost Host;
  TSimLinkFactory Links{Host};
  TTestUi Ui;
  std::unique_ptr<TSimReader> R;
  std::unique_ptr<TFlashWrRXCont> C;
  fs::path Dir;

  void SetUp() override { Dir = FreshBackupDir("qvx-backup-"); }
  void TearDown() override { fs::remove_all(Dir); }
  void Start(TSimReaderOptions options = {}) {
    C.reset();
    R = std::make_unique<TSimReader>(std::move(options));
    Links.AddSerialDevice("ttyUSB0", R.get());
    C = MakeQuietController(Host, Links, Ui, tagCOMPara{});
    ASSERT_TRUE(C->OpenComPort(ComPortNumber("ttyUSB0")));
    std::strcpy(C->FSavedRomVersion, "2130KRV07");
  }
  TBytes& Memory() { return R->ParamMemory().FMemory; }
  size_t Sent(int detail) {
    return static_cast<size_t>(
        std::count_if(R->FReaderRequests.begin(), R->FReaderRequests.end(),
                      [&](const TSimRequest& r) { return r.Detail() == detail; }));
  }
};

TEST_F(TParamBackupTest, FormatRoundTripsAndRefusesAnyDamage) {
  const TBytes own = TSimParamMemory::OwnSettings();
  const auto good = pb::Encode(Backup("2130KRV07", own));
  pb::TParamBackup back;
  std::string error;
  ASSERT_TRUE(pb::Decode(good, back, error)) << error;
  EXPECT_EQ(back.RomVersion, "2130KRV07");
  EXPECT_EQ(TBytes(back.Image.begin(), back.Image.end()), own);

  for (size_t length : {size_t{0}, size_t{11}, size_t{28}, size_t{2000}, good.size() - 1}) {
    EXPECT_FALSE(pb::Decode({good.begin(), good.begin() + static_cast<long>(length)}, back, error));
    EXPECT_TRUE(error.find("truncated") == 0 || error.find("too short") == 0) << error;
  }
  for (size_t pos : {size_t{0}, size_t{8}, size_t{10}, size_t{12}, size_t{1500}, good.size() - 1}) {
    auto bad = good;
    bad[pos] ^= 0x10;
    EXPECT_FALSE(pb::Decode(bad, back, error)) << pos;
  }
  auto longer = good;
  longer.push_back(0);
  EXPECT_FALSE(pb::Decode(longer, back, error));
}

TEST_F(TParamBackupTest, WritesUnderNewNamesWithoutLeavingPartialFiles) {
  std::tm local{};
  local.tm_year = 2026 - 1900;
  local.tm_mon = 11;
  local.tm_mday = 14;
  local.tm_hour = 15;
  local.tm_min = 30;
  local.tm_sec = 12;
  local.tm_isdst = -1;
  const auto when = std::chrono::system_clock::from_time_t(std::mktime(&local));
  fs::path first, second;
  std::string error;
  ASSERT_TRUE(
      pb::Write(Dir, Backup("2130KRV07", TSimParamMemory::OwnSettings()), first, error, when));
  ASSERT_TRUE(
      pb::Write(Dir, Backup("2130KRV07", TSimParamMemory::FactoryDefaults()), second, error, when));
  EXPECT_EQ(first.filename(), "params-20261214-153012-2130KRV07.qvxparam");
  EXPECT_EQ(second.filename(), "params-20261214-153012-2130KRV07-2.qvxparam");
  EXPECT_EQ(Files(Dir), (std::vector<fs::path>{second, first}));  // no temporary file left
  pb::TParamBackup back;
  ASSERT_TRUE(pb::Read(first, back, error));
  EXPECT_EQ(TBytes(back.Image.begin(), back.Image.end()), TSimParamMemory::OwnSettings());

  // A folder that cannot be made.
  const fs::path blocked = Dir / "blocked";
  Store(blocked, {1});
  fs::path none;
  EXPECT_FALSE(pb::Write(blocked / "sub", back, none, error));
  EXPECT_NE(error.find("cannot create the backup folder"), std::string::npos) << error;
  EXPECT_TRUE(none.empty());
}

TEST_F(TParamBackupTest, PruneKeepsTheNewestAndNeverTheSpare) {
  fs::create_directories(Dir);
  const auto now = fs::file_time_type::clock::now();
  std::vector<fs::path> made;
  for (int i = 0; i < 25; ++i) {
    made.push_back(Dir / ("params-2026010" + std::to_string(i % 10) + "-" + std::to_string(i) +
                          "-X.qvxparam"));
    Store(made.back(), {1});
    fs::last_write_time(made.back(), now - std::chrono::hours(100 - i));
  }
  Store(Dir / "notes.txt", {1});
  pb::Prune(Dir, 20, {made[0]});
  EXPECT_TRUE(fs::exists(made[0]));
  for (int i = 1; i < 5; ++i) EXPECT_FALSE(fs::exists(made[i])) << i;
  for (int i = 5; i < 25; ++i) EXPECT_TRUE(fs::exists(made[i])) << i;
  EXPECT_TRUE(fs::exists(Dir / "notes.txt"));
}

TEST_F(TParamBackupTest, FolderFollowsTheEnvironment) {
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  EXPECT_EQ(pb::DefaultFolder(), Dir);
  unsetenv("QVX_BACKUP_DIR");
  setenv("XDG_DATA_HOME", "/srv/data", 1);
  EXPECT_EQ(pb::DefaultFolder(), fs::path("/srv/data/qvxupdate/param-backups"));
  setenv("XDG_DATA_HOME", "relative", 1);  // not absolute: ignored
  setenv("HOME", "/home/op", 1);
  EXPECT_EQ(pb::DefaultFolder(), fs::path("/home/op/.local/share/qvxupdate/param-backups"));
  unsetenv("XDG_DATA_HOME");
  setenv("HOME", home.c_str(), 1);
}

TEST_F(TParamBackupTest, BackupIsOnDiskBeforeTheDefaultLoadAndPutsTheReaderBack) {
  Start();
  std::vector<fs::path> atLoad;
  R->ParamMemory().OnRequest = [&](const TSimRequest& r) {
    if (r.Detail() == 0x6F && atLoad.empty()) atLoad = Files(Dir);
  };
  ASSERT_TRUE(R->FOptions.SetSwitch("param-fault=silent:U:71@1x3"));
  EXPECT_EQ(C->RestoreParameters(), 0);
  EXPECT_TRUE(Ui.FLog.empty());  // no new always line in the update's log
  ASSERT_EQ(atLoad.size(), 1u);
  const fs::path saved = atLoad[0];
  EXPECT_EQ(C->FLastParamBackupPath, saved.string());
  EXPECT_NE(Memory(), TSimParamMemory::OwnSettings());  // the reader now holds defaults
  pb::TParamBackup file;
  std::string error;
  ASSERT_TRUE(pb::Read(saved, file, error)) << error;
  EXPECT_EQ(file.RomVersion, "2130KRV07");
  EXPECT_EQ(TBytes(file.Image.begin(), file.Image.end()), TSimParamMemory::OwnSettings());

  // Restoring from the file puts the settings back, after saving what was there.
  R->FOptions.Param.Faults.clear();
  const TBytes beforeRestore = Memory();
  C->FDetailLog = 1;
  EXPECT_EQ(C->RestoreParametersFromFile(saved.string()), 1) << C->FParamError;
  EXPECT_EQ(Memory(), TSimParamMemory::OwnSettings());
  ASSERT_NE(C->FLastParamBackupPath, saved.string());
  EXPECT_TRUE(Ui.HasLine("Parameter backup: " + C->FLastParamBackupPath));
  ASSERT_TRUE(pb::Read(C->FLastParamBackupPath, file, error)) << error;
  EXPECT_EQ(TBytes(file.Image.begin(), file.Image.end()), beforeRestore);
  EXPECT_EQ(Files(Dir).size(), 2u);
  EXPECT_EQ(R->ParamMemory().FConclusions, 1);
}

TEST_F(TParamBackupTest, NoBackupFileMeansNoChangeOnTheReader) {
  Start();
  Store(Dir.string() + "-file", {1});
  setenv("QVX_BACKUP_DIR", (Dir.string() + "-file").c_str(), 1);
  EXPECT_EQ(C->RestoreParameters(), 0);
  fs::remove(Dir.string() + "-file");
  EXPECT_EQ(C->FParamError.find("backup file not written"), 0u) << C->FParamError;
  EXPECT_EQ(Sent(0x6F), 0u);
  EXPECT_EQ(Sent(0x75), 0u);
  EXPECT_EQ(Memory(), TSimParamMemory::OwnSettings());
}

TEST_F(TParamBackupTest, RestoreFromFileRefusesBadFilesAndReaders) {
  fs::path good;
  std::string error;
  ASSERT_TRUE(pb::Write(Dir, Backup("2130KRV07", TSimParamMemory::FactoryDefaults()), good, error));
  auto damaged = Load(good);
  damaged[100] ^= 1;
  Store(Dir / "damaged.qvxparam", damaged);
  Store(Dir / "short.qvxparam", {damaged.begin(), damaged.begin() + 100});
  fs::path otherVariant;
  ASSERT_TRUE(
      pb::Write(Dir, Backup("2130KRV08", TSimParamMemory::FactoryDefaults()), otherVariant, error));

  Start();
  const std::vector<std::pair<fs::path, std::string>> files = {
      {Dir / "damaged.qvxparam", "damaged (checksum mismatch)"},
      {Dir / "short.qvxparam", "truncated (100 of 2976 bytes)"},
      {Dir / "missing.qvxparam", "is not a file"},
      {otherVariant, "not a KRV07 reader"}};
  for (const auto& [path, why] : files) {
    EXPECT_EQ(C->RestoreParametersFromFile(path.string()), 0) << path;
    EXPECT_NE(C->FParamError.find(why), std::string::npos) << C->FParamError;
  }
  EXPECT_TRUE(R->FReaderRequests.empty());

  // A reader whose firmware lacks the restore code is asked its version only.
  TSimReaderOptions o;
  o.RomVersion = "2130KRV08";
  Start(o);
  EXPECT_EQ(C->RestoreParametersFromFile(good.string()), 0);
  EXPECT_NE(C->FParamError.find("2130KRV08"), std::string::npos) << C->FParamError;
  for (const auto& r : R->FReaderRequests) EXPECT_EQ(r.Detail(), 0x90);
  EXPECT_EQ(Memory(), TSimParamMemory::OwnSettings());
}

}  // namespace
