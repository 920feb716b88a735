// The maintenance commands and the reader items of the configuration menu:
// exact request bytes and answer checks against scripted answers, then every
// handler against the simulated reader in virtual time, with refusals and
// silence at each step of the factory setting.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>

#include "link/FlashWrRXCont.h"
#include "link/PortNames.h"
#include "reader/MaintenanceMenu.h"
#include "sim/InProcessLink.h"
#include "sim/VirtualHost.h"
#include "sim/reader/SimReader.h"
#include "support/ScriptedLink.h"

namespace {

TBytes Range(const TBytes& b, size_t first, size_t n) {
  return TBytes(b.begin() + static_cast<ptrdiff_t>(first),
                b.begin() + static_cast<ptrdiff_t>(first + n));
}

// ---- against scripted answers --------------------------------------------

using TMaintCommandTest = TScriptedLinkTest<>;

TEST_F(TMaintCommandTest, RequestsCarryTheirExactBytes) {
  uint8_t out[256] = {};
  const uint8_t power[] = {0x84, 0x00};
  const uint8_t ref250[] = {0xFA, 0x00};
  int length = 15;
  // The transmitter-on sum is 0x1F4: only its low byte goes out.
  EXPECT_EQ(Sent([&] { C->TxOnOff(true); }),
            (TBytes{0x02, 0x00, 0x4E, 0x02, 0x9E, 0x01, 0x03, 0xF4, 0x0D}));
  EXPECT_EQ(Sent([&] { C->TxOnOff(false); }),
            (TBytes{0x02, 0x00, 0x4E, 0x02, 0x9E, 0x00, 0x03, 0xF3, 0x0D}));
  EXPECT_EQ(Sent([&] { C->PassThroughCmd('O', 2, power, length, out, sizeof out); }),
            (TBytes{0x02, 0x00, 0x4F, 0x02, 0x84, 0x00, 0x03, 0xDA, 0x0D}));
  EXPECT_EQ(Sent([&] { C->EepromInitCmd(); }),
            (TBytes{0x02, 0x00, 0x4E, 0x01, 0x71, 0x03, 0xC5, 0x0D}));
  EXPECT_EQ(Sent([&] { C->EepromWriteCmd(0xFF, 0x29, 1, ref250, 8); }),
            (TBytes{0x02, 0x00, 0x4E, 0x06, 0x83, 0xFF, 0x29, 0x01, 0xFA, 0x00, 0x03, 0xFF, 0x0D}));
  EXPECT_EQ(Sent([&] { C->EepromReadCmd(0xFE, 1, 62, out, sizeof out); }),
            (TBytes{0x02, 0x00, 0x4F, 0x04, 0x83, 0xFE, 0x01, 0x3E, 0x03, 0x18, 0x0D}));

  // LEN 3 with the detail code alone, LEN 4 when detail 0x83 carries the selector.
  // The dumps (with trace and detail on) carry each selector's labels.
  C->FTxTrace = C->FDetailLog = 1;
  struct TRead {
    uint8_t Selector;
    TBytes Data;
    const char* ReadLabel;
    const char* WriteLabel;
  };
  const std::vector<TRead> reads = {
      {0x00, {0x70, 0x05, 0x02}, "EEPROM_RDWR_CMD RX: ", "EEPROM_RDWR_CMD TX: "},
      {0x01, {0x72, 0x05, 0x02}, "EEPROM_RDWR_CMD2 RX: ", "EEPROM_RDWR_CMD2 TX: "},
      {0x02, {0x73, 0x05, 0x02}, "EEPROM_RDWR_CMD3 RX: ", "EEPROM_RDWR_CMD3 TX: "},
      {0x03, {0x83, 0x03, 0x05, 0x02}, "EEPROM_RDWR_CMD4 RX: ", "EEPROM_RDWR_CMD4 TX: "},
      {0xFE, {0x83, 0xFE, 0x05, 0x02}, "Read Factory Init Data RX: ", "??????? TX: "},
      {0xFF, {0x83, 0xFF, 0x05, 0x02}, "Read All EEPROM RX: ", "EEPROM_ALLDATA TX: "},
      {0x10, {0x7C, 0x05, 0x02}, "RC663_EEPROM_RDWR RX: ", "??????? TX: "},
  };
  for (const TRead& r : reads) {
    Ui.FLog.clear();
    const TBytes sent = Sent([&] { C->EepromReadCmd(r.Selector, 5, 2, out, sizeof out); });
    ASSERT_GE(sent.size(), 4u);
    EXPECT_EQ(sent[3], r.Data.size()) << int(r.Selector);
    EXPECT_EQ(Range(sent, 4, r.Data.size()), r.Data) << int(r.Selector);
    C->EepromWriteCmd(r.Selector, 5, 1, ref250, 8);
    ASSERT_FALSE(Ui.FLog.empty());
    EXPECT_TRUE(Ui.HasLine(r.ReadLabel)) << int(r.Selector);
    EXPECT_TRUE(Ui.HasLine(r.WriteLabel)) << int(r.Selector);
  }
}

TEST_F(TMaintCommandTest, ReadCopiesOnlyWhenDetailIndexAndCountAreEchoed) {
  const TBytes words = {0x11, 0x22, 0x33, 0x44};
  const auto answer = [&](uint8_t status, uint8_t detail, uint8_t index, uint8_t count) {
    TBytes d{detail, index, count};
    d.insert(d.end(), words.begin(), words.end());
    return MakeReaderFrame(status, d);
  };
  struct TCase {
    TBytes Answer;
    int Want;
  };
  const std::vector<TCase> cases = {
      {answer('0', 0x83, 7, 2), 1}, {answer('1', 0x83, 7, 2), 0}, {answer('0', 0x70, 7, 2), 0},
      {answer('0', 0x83, 8, 2), 0}, {answer('0', 0x83, 7, 3), 0},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    AnswerWith(cases[i].Answer);
    EXPECT_EQ(C->EepromReadCmd(0x03, 7, 2, out, sizeof out), cases[i].Want) << i;
    EXPECT_EQ(TBytes(out, out + 4), cases[i].Want ? words : TBytes(4, 0xEE)) << i;
  }
  // LEN is taken but not looked at.
  TBytes odd = answer('0', 0x70, 7, 2);
  odd[3] = 0x99;
  AnswerWith(odd);
  uint8_t out[4] = {};
  EXPECT_EQ(C->EepromReadCmd(0x00, 7, 2, out, sizeof out), 1);
  // An answer one byte short of 2 x count + 10 is never taken.
  odd.pop_back();
  AnswerWith(odd);
  EXPECT_EQ(C->EepromReadCmd(0x00, 7, 2, out, sizeof out), 0);
}

TEST_F(TMaintCommandTest, PassThroughReturnsTheAnswerWithoutItsFirstThreeBytes) {
  const TBytes reply = MakeReaderFrame('0', {0x84, 0x00, 0x18, 0x01, 0xFA, 0x00, 0x00, 0x00});
  AnswerWith(reply);
  const uint8_t data[] = {0x84, 0x00};
  uint8_t out[12] = {};
  int length = 15;
  EXPECT_EQ(C->PassThroughCmd('O', 2, data, length, out, sizeof out), 1);
  EXPECT_EQ(length, 12);
  EXPECT_EQ(TBytes(out, out + 12), Range(reply, 3, 12));

  // Refused: nothing copied, the length left as given.
  AnswerWith(MakeReaderFrame('1', {0x84}));
  std::memset(out, 0xEE, sizeof out);
  length = 8;
  EXPECT_EQ(C->PassThroughCmd('O', 2, data, length, out, sizeof out), 0);
  EXPECT_EQ(length, 8);
  EXPECT_EQ(out[0], 0xEE);
}

TEST_F(TMaintCommandTest, ImpossibleArgumentsFailWithoutSending) {
  uint8_t out[300] = {};
  const uint8_t data[300] = {};
  int tooLong = 16;  // 13 bytes would not fit the 12 given
  int tooShort = 2;
  Device.FReceived.clear();
  EXPECT_EQ(C->PassThroughCmd('O', 2, data, tooLong, out, 12), 0);
  EXPECT_EQ(C->PassThroughCmd('O', 2, data, tooShort, out, 12), 0);
  EXPECT_EQ(C->EepromWriteCmd(0xFF, 1, 126, data, 8), 0);  // LEN would be 256
  EXPECT_EQ(C->EepromWriteCmd(0xFF, 1, 0, data, 8), 0);
  EXPECT_EQ(C->EepromReadCmd(0xFF, 1, 127, out, sizeof out), 0);
  EXPECT_EQ(C->EepromReadCmd(0xFF, 1, 62, out, 123), 0);  // output one byte short
  EXPECT_TRUE(Device.FReceived.empty());

  // The largest write still fits one LEN byte.
  const TBytes sent = Sent([&] { C->EepromWriteCmd(0x10, 1, 125, data, 8); });
  ASSERT_EQ(sent.size(), 254u + 7u);
  EXPECT_EQ(sent[3], 254);
}

TEST_F(TMaintCommandTest, SilenceAndRefusalFailEveryCommandAfterOneSecond) {
  uint8_t out[124] = {};
  const uint8_t data[2] = {0xFA, 0x00};
  const std::vector<std::pair<const char*, std::function<int()>>> commands = {
      {"TxOnOff", [&] { return C->TxOnOff(true); }},
      {"PassThroughCmd",
       [&] {
         int n = 15;
         return C->PassThroughCmd('O', 2, data, n, out, sizeof out);
       }},
      {"EepromWriteCmd", [&] { return C->EepromWriteCmd(0xFF, 0x29, 1, data, 8); }},
      {"EepromReadCmd", [&] { return C->EepromReadCmd(0xFE, 1, 62, out, sizeof out); }},
      {"EepromInitCmd", [&] { return C->EepromInitCmd(); }},
  };
  for (const auto& [name, run] : commands) {
    Device.OnReceive = nullptr;
    const uint32_t start = Host.TickCount();
    EXPECT_EQ(run(), 0) << name;
    EXPECT_EQ(Host.TickCount() - start, 1000u) << name;
    // A refusal long enough for any of them.
    AnswerWith(MakeReaderFrame('1', TBytes(124 + 3, 0x83)));
    EXPECT_EQ(run(), 0) << name;
  }
}

// ---- against the simulated reader --------------------------------------------

struct TMaintMenuTest : ::testing::Test {
  TVirtualHost Host;
  TSimLinkFactory Links{Host};
  TTestUi Ui;
  std::unique_ptr<TSimReader> R;
  std::unique_ptr<TFlashWrRXCont> C;
  tagCOMPara MainPara;
  std::vector<std::pair<std::string, bool>> MainLog;  // text, always line
  std::unique_ptr<TReaderMaintMenu> M;

  void SetUp() override {
    R = std::make_unique<TSimReader>();
    Links.AddSerialDevice("ttyUSB0", R.get());
    MainPara.Port = ComPortNumber("ttyUSB0");
    MainPara.BaudRate = 115200;
    C = MakeQuietController(Host, Links, Ui, MainPara);
    M = std::make_unique<TReaderMaintMenu>(*C, MainPara, [this](const std::string& t, bool force) {
      MainLog.push_back({t, force});
    });
    ASSERT_TRUE(C->OpenComPort(MainPara.Port));
  }
  TSimSettingsMemory& S() { return R->SettingsMemory(); }
  std::vector<std::string> Always() const {
    std::vector<std::string> lines;
    for (const auto& [text, force] : MainLog)
      if (force) lines.push_back(text);
    return lines;
  }
  // Every settings request as a token: N83FF/62 a write, O83FE/62 a read
  // with its selector, N71 and others by letter and detail.
  std::string Trace() const {
    std::string s;
    char buf[16];
    for (const auto& r : R->FReaderRequests) {
      const auto& d = r.Data;
      if (r.Detail() == 0x83)
        std::snprintf(buf, sizeof buf, " %c83%02X/%d", r.Letter, d[1], d.size() > 3 ? d[3] : -1);
      else
        std::snprintf(buf, sizeof buf, " %c%02X", r.Letter, r.Detail());
      s += buf;
    }
    return s;
  }
  static TBytes Carried(TBytes to, const TBytes& from) {
    for (size_t pos : {50, 51, 62, 63, 78, 79}) to[pos] = from[pos];
    std::copy(from.begin() + 80, from.end(), to.begin() + 80);
    return to;
  }
};

TEST_F(TMaintMenuTest, FactoryDataLineHoldsExactly124HexPairs) {
  M->MngetInitDataClick();
  ASSERT_EQ(Always().size(), 2u);
  EXPECT_EQ(Always()[0], "EEPROM_FACTALLDATA : OK");
  EXPECT_EQ(Always()[1], HexTrace("", S().FFactory.data(), 124));
  EXPECT_EQ(Always()[1].size(), 124u * 3);

  MainLog.clear();
  R->FOptions.Refuse('O', 0x83);
  M->MngetInitDataClick();
  EXPECT_EQ(Always(), (std::vector<std::string>{"EEPROM_FACTALLDATA : NG"}));
}

TEST_F(TMaintMenuTest, ReferencePowerOutsideTwoToThreeHundredIsStoredAs250) {
  const std::vector<std::pair<uint16_t, uint16_t>> cases = {{199, 250}, {200, 200}, {300, 300},
                                                            {301, 250}, {0, 250},   {0xFFFF, 250}};
  for (const auto& [measured, stored] : cases) {
    MainLog.clear();
    R->FOptions.Settings.RefPower = measured;
    S().FAll[80] = S().FAll[81] = 0x77;
    M->MnGetPowerClick();
    EXPECT_EQ(Always(), (std::vector<std::string>{"Set PowerRef : OK"})) << measured;
    EXPECT_EQ(S().FAll[80] | S().FAll[81] << 8, stored) << measured;
  }
  // The transmitter is left on; the values are detail lines of the main log.
  EXPECT_TRUE(S().FTxOn);
  EXPECT_EQ(MainLog[0], std::make_pair(std::string("POWER       : 280"), false));
  EXPECT_EQ(MainLog[1], std::make_pair(std::string("REF POWER   : 65535"), false));
  EXPECT_EQ(R->FReaderRequests.back().Data, (TBytes{0x83, 0xFF, 0x29, 0x01, 0xFA, 0x00}));
}

TEST_F(TMaintMenuTest, PowerProcedureStopsAtARefusedOrSilentStep) {
  const TBytes before = S().FAll;
  for (const std::string fault :
       {"refuse=N:9E", "settings-fault=silent:O:84@1", "settings-fault=refuse:N:83@1"}) {
    R->FOptions = TSimReaderOptions{};
    ASSERT_TRUE(R->FOptions.SetSwitch(fault));
    R->FReaderRequests.clear();
    MainLog.clear();
    M->MnGetPowerClick();
    EXPECT_EQ(Always(), (std::vector<std::string>{"Set PowerRef : NG"})) << fault;
    EXPECT_EQ(S().FAll, before) << fault;
  }
  EXPECT_EQ(Trace(), " N9E O84 N83FF/1");  // the last run got as far as the write
  // Refused transmitter: nothing after it.
  R->FOptions = TSimReaderOptions{};
  R->FOptions.Refuse('N', 0x9E);
  R->FReaderRequests.clear();
  M->MnGetPowerClick();
  EXPECT_EQ(Trace(), " N9E");
}

TEST_F(TMaintMenuTest, FactorySettingCarriesTheReaderValuesOverAndWritesEachAreaOnce) {
  const TBytes own = S().FAll;
  const TBytes factory = S().FFactory;
  M->mnSetFactInitClick();
  EXPECT_EQ(Always(), (std::vector<std::string>{" : OK"}));
  EXPECT_EQ(Trace(),
            " O83FE/62 O83FF/62 N71 O83FE/62 N83FF/62 N8300/20 N8301/10 N8302/8 N8303/24"
            " O83FE/62 O83FF/62");
  EXPECT_EQ(S().FFactory, factory);
  EXPECT_EQ(S().FAll, Carried(own, factory));
  EXPECT_EQ(S().FInits, 1);

  // Each write sends exactly the bytes of its part of the image: area 2 its 8 words.
  const TBytes patched = Carried(own, factory);
  const std::vector<std::tuple<uint8_t, size_t, size_t>> areas = {
      {0x00, 0, 40}, {0x01, 40, 20}, {0x02, 60, 16}, {0x03, 76, 48}};
  for (const auto& [selector, first, n] : areas) {
    const auto w = std::find_if(R->FReaderRequests.begin(), R->FReaderRequests.end(),
                                [s = selector](const TSimRequest& r) {
                                  return r.Letter == 'N' && r.Data.size() > 1 && r.Data[1] == s;
                                });
    ASSERT_NE(w, R->FReaderRequests.end());
    TBytes want{0x83, selector, 0x01, static_cast<uint8_t>(n / 2)};
    const TBytes part = Range(patched, first, n);
    want.insert(want.end(), part.begin(), part.end());
    EXPECT_EQ(w->Data, want) << int(selector);
  }
}

TEST_F(TMaintMenuTest, FactorySettingTakesTheCarriedValuesFromTheReadAfterInit) {
  // The initialisation changes the reader-specific values of the factory data.
  S().OnRequest = [this](const TSimRequest& r) {
    if (r.Letter == 'N' && r.Detail() == 0x71)
      for (size_t pos : {50, 63, 79, 80, 123}) S().FFactory[pos] ^= 0x5A;
  };
  const TBytes own = S().FAll;
  M->mnSetFactInitClick();
  EXPECT_EQ(Always(), (std::vector<std::string>{" : OK"}));
  EXPECT_EQ(S().FAll, Carried(own, S().FFactory));
}

TEST_F(TMaintMenuTest, FactorySettingStopsAtTheFirstFailedStep) {
  enum TLeft { Own, Initialised, Partly };  // what the reader's settings are afterwards
  struct TCase {
    std::string Fault;
    std::string Trace;  // how far it got
    TLeft Left;
  };
  const std::string reads = " O83FE/62 O83FF/62 N71 O83FE/62";
  const std::string writes = reads + " N83FF/62 N8300/20 N8301/10 N8302/8 N8303/24";
  const std::vector<TCase> cases = {
      {"settings-fault=refuse:O:83:FE@1", " O83FE/62", Own},
      {"settings-fault=silent:O:83:FF@1", " O83FE/62 O83FF/62", Own},
      {"refuse=N:71", " O83FE/62 O83FF/62 N71", Own},
      {"settings-fault=bad-echo:O:83:FE@2", reads, Initialised},
      {"settings-fault=refuse:N:83:FF@1", reads + " N83FF/62", Initialised},
      {"settings-fault=refuse:N:83:02@1", reads + " N83FF/62 N8300/20 N8301/10 N8302/8", Partly},
      {"settings-fault=bad-data:O:83:FE@3", writes + " O83FE/62", Partly},
      // A byte spoiled on its way into area 3 shows in the final comparison.
      {"settings-fault=bad-data:N:83:03@1", writes + " O83FE/62 O83FF/62", Partly},
  };
  for (const TCase& c : cases) {
    C->CloseLink();
    R = std::make_unique<TSimReader>();
    Links.AddSerialDevice("ttyUSB0", R.get());
    ASSERT_TRUE(C->OpenComPort(MainPara.Port));
    ASSERT_TRUE(R->FOptions.SetSwitch(c.Fault)) << c.Fault;
    MainLog.clear();
    M->mnSetFactInitClick();
    EXPECT_EQ(Always(), (std::vector<std::string>{" : NG"})) << c.Fault;
    EXPECT_EQ(Trace(), c.Trace) << c.Fault;
    if (c.Left == Own) {
      EXPECT_EQ(S().FAll, TSimSettingsMemory::OwnSettings()) << c.Fault;
    } else if (c.Left == Initialised) {
      EXPECT_EQ(S().FAll, S().FFactory) << c.Fault;
    }
  }
}

TEST_F(TMaintMenuTest, PortItemsOpenAt19200AndCloseWithTheirLines) {
  M->Open1Click();
  EXPECT_EQ(C->CommX1->BaudRate(), 19200);
  EXPECT_TRUE(C->CommX1->IsOpen());
  M->Clsoe1Click();
  EXPECT_FALSE(C->CommX1->IsOpen());
  MainPara.Port = ComPortNumber("ttyUSB7");  // no such device
  M->Open1Click();
  EXPECT_EQ(Always(),
            (std::vector<std::string>{"Open ttyUSB0 : OK", "Clse COM Port", "Open ttyUSB7 : NG"}));
  EXPECT_EQ(Ui.FMessages.size(), 1u);  // the port's own message box
}

TEST_F(TMaintMenuTest, RomBootAndInitItemsLogTheirOutcome) {
  M->Rom1Click();
  M->MnInitClick();
  EXPECT_EQ(S().FAll, S().FFactory);
  M->Boot1Click();
  EXPECT_EQ(C->CommX1->BaudRate(), 19200);
  EXPECT_EQ(Always(), (std::vector<std::string>{"ROM Version : 2120KRV07", "TxInitEEPROM : OK",
                                                "SetProgMode :  : OK"}));

  // In program mode the reader no longer answers commands: a silent ROM read logs nothing.
  MainLog.clear();
  M->Rom1Click();
  M->MnInitClick();
  M->Boot1Click();
  EXPECT_EQ(Always(), (std::vector<std::string>{"TxInitEEPROM : NG", "SetProgMode :  : NG"}));
}

TEST_F(TMaintMenuTest, HandlersRunByName) {
  EXPECT_TRUE(M->RunHandler("MnInitClick"));
  EXPECT_EQ(M->FLastResult, 1);
  EXPECT_EQ(S().FInits, 1);
  EXPECT_TRUE(M->RunHandler("MnSetConfigClick"));
  EXPECT_EQ(M->FLastResult, -1);
  EXPECT_FALSE(M->RunHandler("mninitclick"));
  EXPECT_FALSE(M->RunHandler("Mn_Setting_testClick"));
  EXPECT_EQ(Always(), (std::vector<std::string>{"TxInitEEPROM : OK"}));

  // Without the main window's log the controller's log takes the lines.
  TReaderMaintMenu plain(*C, MainPara);
  plain.MnInitClick();
  EXPECT_TRUE(Ui.HasLine("TxInitEEPROM : OK"));
}

// ---- the simulated memory's own rules ------------------------------------------

TEST(TSimSettingsMemoryTest, RefusesWritesThatRunPastTheirAreaOrHitTheFactoryData) {
  TSimSettingsOptions options;
  TSimSettingsMemory m(options);
  const auto write = [&](uint8_t selector, uint8_t index, uint8_t count) {
    TSimRequest r{'N', {0x83, selector, index, count}};
    r.Data.insert(r.Data.end(), 2u * count, 0xAB);
    return m.Handle(r).Status;
  };
  const TBytes before = m.FAll;
  EXPECT_EQ(write(0x02, 1, 9), SimFrame::kRefused);  // area 2 holds 8 words
  EXPECT_EQ(write(0x02, 2, 8), SimFrame::kRefused);
  EXPECT_EQ(write(0x00, 0, 1), SimFrame::kRefused);  // indexes count from 1
  EXPECT_EQ(write(0xFE, 1, 1), SimFrame::kRefused);
  EXPECT_EQ(m.FAll, before);
  EXPECT_EQ(write(0x02, 1, 8), SimFrame::kAccepted);
  EXPECT_EQ(Range(m.FAll, 60, 16), TBytes(16, 0xAB));
  EXPECT_EQ(Range(m.FAll, 58, 2), Range(before, 58, 2));
  EXPECT_EQ(Range(m.FAll, 76, 2), Range(before, 76, 2));

  for (const std::string bad :
       {"settings-fault=refuse:N:83@0", "settings-fault=oops:N:83@1", "settings-fault=refuse:N:8@1",
        "settings-fault=refuse:N:83:F@1", "tx-power=70000", "ref-power="})
    EXPECT_FALSE(options.SetSwitch(bad.substr(0, bad.find('=')), bad.substr(bad.find('=') + 1)))
        << bad;
}

}  // namespace
