// The parameter restore against the simulated reader in virtual time: the
// round trip, the region checks, the order and size of every read and write,
// retries that succeed and a failure at each step.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "link/FlashWrRXCont.h"
#include "link/PortNames.h"
#include "sim/InProcessLink.h"
#include "sim/VirtualHost.h"
#include "sim/reader/SimReader.h"
#include "support/BackupDir.h"
#include "support/ScriptedLink.h"
#include "support/TestUi.h"

namespace fs = std::filesystem;

namespace {

struct TParamRestoreTest : ::testing::Test {
  TVirtualHost Host;
  TSimLinkFactory Links{Host};
  TTestUi Ui;
  std::unique_ptr<TSimReader> R;
  std::unique_ptr<TFlashWrRXCont> C;
  fs::path Dir;

  void SetUp() override {
    Dir = FreshBackupDir("qvx-restore-");
    Start();
  }
  void TearDown() override { fs::remove_all(Dir); }
  // A fresh reader (its own settings, no faults, counts from zero) and tool.
  void Start() {
    C.reset();
    R = std::make_unique<TSimReader>();
    Links.AddSerialDevice("ttyUSB0", R.get());
    C = MakeQuietController(Host, Links, Ui, tagCOMPara{});
    ASSERT_TRUE(C->OpenComPort(ComPortNumber("ttyUSB0")));
    std::strcpy(C->FSavedRomVersion, "2130KRV07");
  }
  TBytes& Memory() { return R->ParamMemory().FMemory; }
  void Zero(int first, int last) {
    std::fill(Memory().begin() + first * 4, Memory().begin() + (last + 1) * 4, 0);
  }
  std::vector<TSimRequest> Requests(uint8_t letter, int detail) {
    std::vector<TSimRequest> out;
    for (const auto& r : R->FReaderRequests)
      if (r.Letter == letter && r.Detail() == detail) out.push_back(r);
    return out;
  }
  // Every parameter command as a short token: r<word>+<words> block read,
  // w.. block write, a<word> word read, b<word> word write, F default load,
  // P preparation, C conclusion.
  std::string Trace() {
    std::string s;
    for (const auto& r : R->FReaderRequests) {
      const auto& d = r.Data;
      const int detail = r.Detail();
      if (detail == 0x74 || detail == 0x75)
        s += (detail == 0x74 ? " r" : " w") + std::to_string((d[1] << 8 | d[2]) / 4) + "+" +
             std::to_string(d[3] / 4);
      else if (detail == 0xA5 || detail == 0xB5)
        s += (detail == 0xA5 ? " a" : " b") + std::to_string(d[1] | d[2] << 8);
      else
        s += detail == 0x6F ? " F" : detail == 0x71 ? " P" : " C";
    }
    return s + " ";
  }
};

TEST_F(TParamRestoreTest, WithoutTheVariantNothingIsSent) {
  std::strcpy(C->FSavedRomVersion, "2130KRV08");
  EXPECT_EQ(C->RestoreParameters(), 0);
  EXPECT_TRUE(R->FReaderRequests.empty());
  EXPECT_FALSE(fs::exists(Dir));
}

TEST_F(TParamRestoreTest, RoundTripGivesTheReaderItsOwnSettingsBackWithEitherAck) {
  const TBytes before = Memory();
  uint64_t concludedAt = 0;
  R->ParamMemory().OnRequest = [&](const TSimRequest& r) {
    if (r.Detail() == 0x9D) concludedAt = Host.NowMs();
  };
  for (const std::string ack : {"plain", "echo"}) {
    ASSERT_TRUE(R->FOptions.SetSwitch("param-ack=" + ack));
    EXPECT_EQ(C->RestoreParameters(), 1) << C->FParamError;
    EXPECT_EQ(Memory(), before);
    EXPECT_EQ(Host.NowMs() - concludedAt, 2000u);  // the pause after the concluding command
  }
  EXPECT_EQ(R->ParamMemory().FFactoryLoads, 6);
  EXPECT_EQ(R->ParamMemory().FPreparations, 2);
  EXPECT_EQ(R->ParamMemory().FConclusions, 2);
}

TEST_F(TParamRestoreTest, EmptyRegionsAreFilledAndOneSetByteKeepsARegion) {
  Zero(480, 579);
  Memory()[560 * 4 + 1] = 7;  // check 4's region counts as set
  Memory()[351 * 4 + 2] = 0;
  Memory()[353 * 4 + 2] = Memory()[353 * 4 + 3] = 0;
  Memory()[354 * 4 + 0] = 0;
  TBytes expected = Memory();
  expected[351 * 4 + 2] = 0xFF;
  expected[353 * 4 + 2] = expected[353 * 4 + 3] = expected[354 * 4] = 20;
  const TBytes record = {0, 2, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
  std::copy(record.begin(), record.end(), expected.begin() + 480 * 4);
  TBytes tables(4, 0);
  for (uint8_t n = 1; n <= 10; ++n) {
    const TBytes group = {0, 0, 0, 0, n, 0, 0x76, 0xFD, 0xFF, 0xFF, 0xFF, 0xFF};
    tables.insert(tables.end(), group.begin(), group.end());
  }
  tables.insert(tables.end(), 4, 0);
  std::copy(tables.begin(), tables.end(), expected.begin() + 483 * 4);

  EXPECT_EQ(C->RestoreParameters(), 1) << C->FParamError;
  EXPECT_EQ(Memory(), expected);
}

TEST_F(TParamRestoreTest, CheckOneWritesByteTwoOnlyWhenItIsZeroTryingEachStepTwice) {
  ASSERT_TRUE(R->FOptions.SetSwitch("param-fault=refuse:U:74@1"));
  ASSERT_TRUE(R->FOptions.SetSwitch("param-fault=refuse:U:75@1"));
  Memory()[351 * 4 + 2] = 5;
  EXPECT_EQ(C->EnsureWord351(), 2);
  EXPECT_TRUE(Requests('U', 0x75).empty());

  Memory()[351 * 4 + 2] = 0;
  const TBytes word(Memory().begin() + 351 * 4, Memory().begin() + 352 * 4);
  EXPECT_EQ(C->EnsureWord351(), 1);
  EXPECT_EQ(C->FCheckStatus[0], 1u);
  const auto writes = Requests('U', 0x75);
  ASSERT_EQ(writes.size(), 2u);  // refused once, then taken
  EXPECT_EQ(writes[1].Data, (TBytes{0x75, 0x05, 0x7C, 0x04, word[0], word[1], 0xFF, word[3]}));
}

TEST_F(TParamRestoreTest, CheckFourFillsFiveBlocksUnlessAnyByteIsSet) {
  Zero(515, 579);
  EXPECT_EQ(C->EnsureFill515(), 1);
  const auto writes = Requests('U', 0x75);
  ASSERT_EQ(writes.size(), 5u);
  const std::vector<std::pair<uint16_t, uint8_t>> blocks = {
      {0x080C, 64}, {0x084C, 64}, {0x088C, 64}, {0x08CC, 64}, {0x090C, 4}};
  for (size_t i = 0; i < blocks.size(); ++i) {
    TBytes data = {0x75, static_cast<uint8_t>(blocks[i].first >> 8),
                   static_cast<uint8_t>(blocks[i].first & 0xFF), blocks[i].second};
    data.insert(data.end(), blocks[i].second, 0x18);
    if (i == 0) std::fill_n(data.begin() + 4, 4, 0);
    EXPECT_EQ(writes[i].Data, data) << i;
  }

  Zero(515, 579);
  Memory()[579 * 4 + 3] = 1;
  R->FReaderRequests.clear();
  EXPECT_EQ(C->EnsureFill515(), 2);
  EXPECT_TRUE(Requests('U', 0x75).empty());
}

TEST_F(TParamRestoreTest, ReadsAndWritesComeInTheDescribedChunks) {
  ASSERT_EQ(C->RestoreParameters(), 1) << C->FParamError;
  const std::string t = Trace();
  // Backup and default image: 46 reads of 16 words around the three loads.
  EXPECT_EQ(t.find(" r0+16 r16+16 r32+16 r48+16 "), 0u);
  EXPECT_NE(t.find(" r704+16 r720+16 F F F r0+16 "), std::string::npos);
  // The region checks, each needed once, then the verify's first reads.
  EXPECT_NE(t.find(" r720+16 r351+1 w351+1 r351+1 r480+3 w480+3 r480+3 r483+16 r499+16 w483+16 "
                   "r483+16 w499+16 r499+16 r515+16 r531+16 r547+16 r563+16 r579+1 w515+16 r515+16 "
                   "w531+16 r531+16 w547+16 r547+16 w563+16 r563+16 w579+1 r579+1 r353+1 w353+1 "
                   "r353+1 r354+1 w354+1 r354+1 r33+1 r0+16 r16+16 r32+1 a33 r34+16 "),
            std::string::npos);
  // Verify after the default load: word 33 and 351 to 354 by the word read.
  EXPECT_NE(t.find(" r322+16 r338+4 r342+4 r346+4 r350+1 a351 a352 a353 a354 r355+16 "),
            std::string::npos);
  EXPECT_NE(t.find(" r451+16 r467+4 r471+4 r475+4 r479+1 P "), std::string::npos);
  // Write-back: 16+16+4+1+1, word 38 alone, then on to 735.
  EXPECT_NE(t.find(" P w0+16 r0+16 w16+16 r16+16 w32+4 r32+4 w36+1 r36+1 w37+1 r37+1 b38 a38 "
                   "w39+16 r39+16 "),
            std::string::npos);
  EXPECT_NE(t.find(" w727+4 r727+4 w731+4 r731+4 w735+1 r735+1 "), std::string::npos);
  // Verify after the write-back: 0 to 350 as one range.
  EXPECT_NE(t.find(" r320+16 r336+4 r340+4 r344+4 r348+1 r349+1 r350+1 a351 a352 a353 a354 "),
            std::string::npos);
  EXPECT_TRUE(t.ends_with(" r451+16 r467+4 r471+4 r475+4 r479+1 C ")) << t.substr(t.size() - 60);

  // Word 38 goes by the single-word write only (number bytes 26 00).
  const auto wordWrites = Requests('U', 0xB5);
  ASSERT_EQ(wordWrites.size(), 1u);
  EXPECT_EQ(wordWrites[0].Data[1], 0x26);
  EXPECT_EQ(wordWrites[0].Data[2], 0x00);
}

TEST_F(TParamRestoreTest, RetriesSucceedOnTheSecondTry) {
  const std::vector<std::string> faults = {
      "refuse:U:74@5",      // backup read
      "silent:N:6F@1x2",    // only the third default load counts
      "bad-sum:U:74@50",    // default image read
      "refuse:U:74@93",     // check 1's read, once more inside the check
      "refuse:U:75@10",     // check 5's write: the next cycle runs it again
      "silent:U:A5@1",      // verify read of word 33
      "refuse:U:71@1x2",    // preparation
      "refuse:U:75@12",     // first write-back chunk
      "bad-data:U:74@160",  // a write-back read-back
      "refuse:U:B5@1x2",    // word 38
  };
  for (const std::string& fault : faults) {
    Start();
    ASSERT_TRUE(R->FOptions.SetSwitch("param-fault=" + fault)) << fault;
    EXPECT_EQ(C->RestoreParameters(), 1) << fault << ": " << C->FParamError;
    EXPECT_EQ(Memory(), TSimParamMemory::OwnSettings()) << fault;
  }
}

TEST_F(TParamRestoreTest, AFailureAtEachStepStopsTheRestore) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"refuse:U:74@1x3", "backup read of words 0-15 failed"},
      {"refuse:N:6F@3", "factory default load not acknowledged"},
      {"silent:U:74@47x3", "default read of words 0-15 failed"},
      {"refuse:U:75@1x*", "region checks not completed: 1 2 3 4 5 6"},
      {"bad-data:U:A5@1", "verify found word 33 different"},
      {"silent:U:71@1x3", "memory preparation not acknowledged"},
      {"refuse:U:75@12x3", "write-back of words 0-15 failed"},
      {"refuse:U:B5@1x3", "write-back of word 38 failed"},
      {"refuse:U:75@63x*", "region checks not completed: 1"},  // second pass
      {"bad-data:U:A5@7", "verify found word 351 different"},  // second verify
  };
  for (const auto& [fault, why] : cases) {
    Start();
    Memory()[351 * 4 + 2] = 0;  // so that the second pass has a word to write
    ASSERT_TRUE(R->FOptions.SetSwitch("param-fault=" + fault)) << fault;
    EXPECT_EQ(C->RestoreParameters(), 0) << fault;
    EXPECT_EQ(C->FParamError, why) << fault;
    EXPECT_EQ(R->ParamMemory().FConclusions, 0) << fault;
  }
  // Bad fault switches are refused.
  for (const char* bad : {"param-fault=refuse:U:7@1", "param-fault=oops:U:74@1",
                          "param-fault=refuse:U:74@0", "param-ack=maybe"})
    EXPECT_FALSE(R->FOptions.SetSwitch(bad)) << bad;
}

}  // namespace
