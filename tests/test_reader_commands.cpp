// Identification, mode and interface-board commands against scripted answers:
// what each command takes from an answer, its time-outs and log lines, and
// the acceptance decisions built on them.
#include <gtest/gtest.h>

#include <cstring>

#include "support/ScriptedLink.h"

namespace {

// Records the main window's update entries being disabled.
struct TEntriesUi : TTestUi {
  void DisableUpdateEntries(bool alsoPopup) override {
    ++FDisabled;
    FAlsoPopup = alsoPopup;
  }
  int FDisabled = 0;
  bool FAlsoPopup = false;
};

TBytes TextAnswer(uint8_t status, uint8_t detail, const std::string& text) {
  TBytes d(1 + text.size(), detail);
  std::copy(text.begin(), text.end(), d.begin() + 1);
  return MakeReaderFrame(status, d);
}

struct TReaderCommandTest : TScriptedLinkTest<TEntriesUi> {
  void SetUp() override { Connect(115200); }
};

// ---- model name and model check ------------------------------------------

TEST_F(TReaderCommandTest, ModelCheckComparesOnlyTheReceivedLength) {
  struct TCase {
    std::string name;
    int match;
  };
  const std::vector<TCase> cases = {
      {"QVX-K417      ", 1},  {"QVX-K417", 1},       {"", 1},         {"QVX-K417       ", 0},
      {"QVX-K417      X", 0}, {"QVX-K418      ", 0}, {"qVX-K417", 0}, {"QVX-K417  x   ", 0},
  };
  for (const auto& c : cases) {
    // Pad short answers to the 17 bytes the read waits for, as stray bytes after the frame.
    TBytes answer = TextAnswer('0', 0x93, c.name);
    if (answer.size() < 17) answer.resize(17, 0x00);
    AnswerWith(answer);
    EXPECT_EQ(C->CheckReaderModel(false), c.match) << "[" << c.name << "]";
    EXPECT_EQ(std::string(C->FModelName), c.name);
  }
}

TEST_F(TReaderCommandTest, LongModelNameNeverOverrunsTheField) {
  C->FReaderAccepted = 0x5A5A5A5A;  // the field declared right after the name
  AnswerWith(TextAnswer('0', 0x93, std::string("QVX-K417      ") + "ABCDEFGHIJKLMNOP"));
  EXPECT_EQ(C->ReadModelName(false, true), 1);
  EXPECT_EQ(std::string(C->FModelName), "QVX-K417      ABCDEFG");  // 21 characters
  EXPECT_EQ(C->FReaderAccepted, 0x5A5A5A5A);
  EXPECT_TRUE(Ui.HasLine("Module : QVX-K417      ABCDEFG"));
  EXPECT_EQ(C->CheckReaderModel(false), 0);
}

TEST_F(TReaderCommandTest, ModelNameWaitsForTheNameBeyondSeventeenBytes) {
  const TBytes answer = TextAnswer('0', 0x93, "QVX-K417      ");  // 22 bytes
  Device.OnReceive = [answer](TScriptedDevice& d, const TBytes&) {
    d.Reply(TBytes(answer.begin(), answer.begin() + 17), 5);
    d.Reply(TBytes(answer.begin() + 17, answer.end()), 400);
  };
  EXPECT_EQ(C->ReadModelName(true, false), 1);
  EXPECT_EQ(std::string(C->FModelName), "QVX-K417      ");

  // The rest never comes: no name is taken from bytes that did not arrive.
  std::strcpy(C->FModelName, "before");
  Device.OnReceive = [answer](TScriptedDevice& d, const TBytes&) {
    d.Reply(TBytes(answer.begin(), answer.begin() + 17), 5);
  };
  C->FDetailLog = 1;
  const uint32_t start = Host.TickCount();
  EXPECT_EQ(C->ReadModelName(false, true), 0);
  EXPECT_EQ(Elapsed(start), 1000u);
  EXPECT_EQ(std::string(C->FModelName), "before");
  EXPECT_FALSE(Ui.HasLine("Time Over(10)"));  // this read writes no time-out line
}

// ---- ROM versions and the interface-board gate ---------------------------

TEST_F(TReaderCommandTest, RomVersionIsTakenWhateverTheStatusSays) {
  AnswerWith(TextAnswer('1', 0x90, "2120KRV07"));
  EXPECT_EQ(C->ReadRomVersion(true), 1);
  EXPECT_STREQ(C->FRomVersion, "2120KRV07");
  EXPECT_TRUE(Ui.HasLine("ROM Version : 2120KRV07"));

  // The interface board's version does look at the status.
  std::strcpy(C->FRomVersion, "2120KRV07");
  AnswerWith(TextAnswer('1', 0x90, "1022IFB01"));
  EXPECT_EQ(C->ReadIfbRomVersion(true), 0);
  EXPECT_STREQ(C->FRomVersion, "2120KRV07");
  AnswerWith(TextAnswer('0', 0x90, "1022IFB01"));
  EXPECT_EQ(C->ReadIfbRomVersion(true), 1);
  EXPECT_STREQ(C->FRomVersion, "1022IFB01");
  EXPECT_TRUE(Ui.HasLine("IFBROM Version : 1022IFB01"));
}

TEST_F(TReaderCommandTest, BoardVersionGateNeedsADecimalVersionOfAtLeastTheMinimum) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"1021IFB01", 0}, {"1022IFB01", 1}, {"1100IFB01", 1}, {"ABCDIFB01", 0},
      {"10 2IFB01", 0}, {"-022IFB01", 0}, {"9999IFB01", 1},
  };
  for (const auto& [version, ok] : cases) {
    AnswerWith(TextAnswer('0', 0x90, version));
    EXPECT_EQ(C->CheckIfbVersion(1022), ok) << version;
  }
}

TEST_F(TReaderCommandTest, FailedBoardGateDisablesAllEntriesUnlessTheReaderIsMissing) {
  C->FReaderAccepted = 1;
  AnswerWith(TextAnswer('0', 0x90, "1021IFB01"));
  EXPECT_EQ(C->CheckIfbVersion(1022), 0);
  EXPECT_EQ(Ui.FDisabled, 1);
  EXPECT_TRUE(Ui.FAlsoPopup);
  EXPECT_EQ(C->FMessageText,
            "対応外のI/Fモジュールです。Ver1.022以上のI/Fモジュール搭載品のみTCP/"
            "IP接続でのアップデートが可能です。");
  EXPECT_EQ(Ui.FLog,
            (std::vector<std::string>{C->FMessageText,
                                      "取扱説明書を参考にI/Fのバージョンを確認してください。"}));
  EXPECT_EQ(C->FReaderAccepted, 1);  // left as it was
  EXPECT_TRUE(Ui.FMessages.empty());

  // A silent board fails the gate the same way; with the reader missing it stays quiet.
  Ui.FLog.clear();
  C->FMessageText.clear();
  C->FReaderMissing = 1;
  Device.OnReceive = nullptr;
  EXPECT_EQ(C->CheckIfbVersion(1022), 0);
  EXPECT_EQ(Ui.FDisabled, 1);
  EXPECT_TRUE(C->FMessageText.empty());
  EXPECT_TRUE(Ui.FLog.empty());
}

// ---- acceptance -----------------------------------------------------------

TEST_F(TReaderCommandTest, RewriteModeAcceptsWithoutAnyTraffic) {
  C->FReWriteMode = 1;
  C->FMessageText = "old";
  EXPECT_EQ(C->AcceptReader(true), 1);
  EXPECT_EQ(C->FReaderAccepted, 1);
  EXPECT_TRUE(C->FMessageText.empty());
  EXPECT_TRUE(Device.FReceived.empty());
  EXPECT_EQ(C->AcceptReader(false), 1);
  EXPECT_TRUE(Device.FReceived.empty());
}

TEST_F(TReaderCommandTest, MissingReaderIsRefusedWithTextsFlagsAndDisabledEntries) {
  C->FReaderAccepted = 1;
  C->FDetailLog = 1;
  EXPECT_EQ(C->AcceptReader(false), 0);
  EXPECT_EQ(C->FReaderAccepted, 0);
  EXPECT_EQ(C->FReaderMissing, 1);
  EXPECT_EQ(C->FMessageText, "R/Wモジュールが見つかりませんでした。");
  EXPECT_EQ(Ui.FLog, (std::vector<std::string>{"R/Wモジュールが見つかりませんでした。",
                                               "R/Wの接続を確認してください。", ""}));
  EXPECT_EQ(Ui.FDisabled, 1);
  EXPECT_FALSE(Ui.FAlsoPopup);
  EXPECT_TRUE(Ui.FMessages.empty());
  EXPECT_TRUE(Device.FReceived.empty());
}

TEST_F(TReaderCommandTest, WrongModelShowsTheMessageBoxAndKeepsEntriesEnabled) {
  AnswerWith(TextAnswer('0', 0x93, "QVX-K316      "));
  EXPECT_EQ(C->AcceptReader(true), 1);
  EXPECT_EQ(C->FReaderAccepted, 0);
  const std::string text = "対応外のR/Wモジュールです。お使いのRW対応のツールをお使いください。";
  EXPECT_EQ(C->FMessageText, text);
  ASSERT_EQ(Ui.FMessages.size(), 1u);
  EXPECT_EQ(Ui.FMessages[0], text);
  EXPECT_EQ(Ui.FLastKind, TMsgKind::Error);
  EXPECT_TRUE(Ui.HasLine("Module : QVX-K316      "));
  EXPECT_EQ(Ui.FDisabled, 0);

  AnswerWith(TextAnswer('0', 0x93, "QVX-K417      "));
  EXPECT_EQ(C->AcceptReader(true), 1);
  EXPECT_EQ(C->FReaderAccepted, 1);
  EXPECT_TRUE(C->FMessageText.empty());
  EXPECT_EQ(Ui.FMessages.size(), 1u);
}

// ---- mode and board commands ---------------------------------------------

TEST_F(TReaderCommandTest, AcknowledgementsSucceedOnlyOnStatusZero) {
  uint16_t word = 0x7777;
  for (uint8_t status : {uint8_t{'0'}, uint8_t{'1'}}) {
    const int want = status == '0' ? 1 : 0;
    AnswerWith(MakeReaderFrame(status, {0xFE}));
    EXPECT_EQ(C->SetProgMode(), want);
    AnswerWith(MakeReaderFrame(status, {}));
    EXPECT_EQ(C->DousaModeSet(false, 0, 0, 8, 0), want);
    AnswerWith(MakeReaderFrame(status, {0x01}));
    EXPECT_EQ(C->IfbDousaModeSet(0x0094), want);
    EXPECT_EQ(C->SetIFBMode(0x0014, true), want);
    AnswerWith(MakeReaderFrame(status, {0x0A}));
    EXPECT_EQ(C->RestartIfb(), want);
    AnswerWith(MakeReaderFrame(status, {0x00, 0x12, 0x01}));
    EXPECT_EQ(C->GetIFBMode(word, true), want);
    EXPECT_EQ(word, want ? 0x0112 : 0x7777);
    word = 0x7777;
  }
  EXPECT_EQ(Ui.FLog, (std::vector<std::string>{"SetIFBMode : OK", "GetIFBMode : OK"}));
}

TEST_F(TReaderCommandTest, SetProgModeLogsItsOutcomeAsDetail) {
  C->FDetailLog = 1;
  AnswerWith(MakeReaderFrame('0', {0xFE}));
  C->SetProgMode();
  Device.OnReceive = nullptr;
  C->SetProgMode();
  EXPECT_EQ(Ui.FLog, (std::vector<std::string>{"OK：SetProgMode_QVX", "NG：SetProgMode_QVX"}));
}

TEST_F(TReaderCommandTest, ProgModeWithCodeSwitchesTo19200AnsweredOrNot) {
  C->FDetailLog = 1;
  AnswerWith(MakeReaderFrame('0', {0x9B}));
  EXPECT_EQ(C->SetProgModeWithCode(), 1);
  EXPECT_EQ(C->CommX1->BaudRate(), 19200);
  EXPECT_TRUE(Ui.HasLine("ACK Recieve"));

  C->CommX1->SetBaudRate(115200);
  AnswerWith(MakeReaderFrame('2', {0x9B}));
  EXPECT_EQ(C->SetProgModeWithCode(), 0);
  EXPECT_TRUE(Ui.HasLine("Error"));
  EXPECT_EQ(C->CommX1->BaudRate(), 19200);

  C->CommX1->SetBaudRate(115200);
  Device.OnReceive = nullptr;
  const uint32_t start = Host.TickCount();
  EXPECT_EQ(C->SetProgModeWithCode(), 0);
  EXPECT_EQ(Elapsed(start), 1500u);
  EXPECT_EQ(Ui.FLog.back(), "Time Over(10)");
  EXPECT_EQ(C->CommX1->BaudRate(), 19200);
}

TEST_F(TReaderCommandTest, SilentReaderTimesOutAfterTheStatedTimes) {
  C->FDetailLog = 1;
  uint16_t word = 0;
  const std::vector<std::tuple<const char*, uint32_t, bool, std::function<int()>>> cases = {
      {"ReadRomVersion", 1000, true, [&] { return C->ReadRomVersion(true); }},
      {"ReadModelName", 1000, false, [&] { return C->ReadModelName(false, true); }},
      {"SetProgMode", 1000, false, [&] { return C->SetProgMode(); }},
      {"DousaModeSet", 1000, false, [&] { return C->DousaModeSet(false, 0, 0, 8, 0); }},
      {"IfbDousaModeSet", 1000, false, [&] { return C->IfbDousaModeSet(0x94); }},
      {"SetIFBMode", 1000, true, [&] { return C->SetIFBMode(0x14, true); }},
      {"GetIFBMode", 1000, true, [&] { return C->GetIFBMode(word, true); }},
      {"ReadIfbRomVersion", 1000, true, [&] { return C->ReadIfbRomVersion(true); }},
      {"RestartIfb", 1500, false, [&] { return C->RestartIfb(); }},
      {"IfbCmdThrough", 1000, false,
       [&] {
         C->IfbCmdThrough();
         return 0;
       }},
  };
  for (const auto& [name, ms, timeOverLine, run] : cases) {
    Ui.FLog.clear();
    const uint32_t start = Host.TickCount();
    EXPECT_EQ(run(), 0) << name;
    EXPECT_EQ(Elapsed(start), ms) << name;
    EXPECT_EQ(Ui.HasLine("Time Over(10)"), timeOverLine) << name;
  }
}

TEST_F(TReaderCommandTest, RestartAckCountsFromHalfASecondAfterSending) {
  // An ack that arrives during the pause is already there when the wait starts.
  AnswerWith(MakeReaderFrame('0', {0x0A}), 100);
  uint32_t start = Host.TickCount();
  EXPECT_EQ(C->RestartIfb(), 1);
  EXPECT_EQ(Elapsed(start), 500u);

  AnswerWith(MakeReaderFrame('0', {0x0A}), 1400);
  start = Host.TickCount();
  EXPECT_EQ(C->RestartIfb(), 1);
  EXPECT_LE(Elapsed(start), 1402u);
}

TEST_F(TReaderCommandTest, StaleBytesAreDiscardedBeforeEachRequest) {
  const TBytes stale = TextAnswer('0', 0x90, "0000STALE");
  C->AppendRx(stale.data(), static_cast<int>(stale.size()));
  AnswerWith(TextAnswer('0', 0x90, "2130KRV07"), 50);
  EXPECT_EQ(C->ReadRomVersion(false), 1);
  EXPECT_STREQ(C->FRomVersion, "2130KRV07");
}

}  // namespace
