// The command-menu handlers against the simulated boot-mode target in
// virtual time: their lines, their decoded replies, the command check run.
#include <gtest/gtest.h>

#include <set>

#include "link/Checksums.h"
#include "link/PortNames.h"
#include "mcuboot/BootFrame.h"
#include "mcuboot/McuBootMenu.h"
#include "sim/InProcessLink.h"
#include "sim/ScriptedDevice.h"
#include "sim/VirtualHost.h"
#include "sim/mcu/SimMcuBootTarget.h"
#include "support/ScriptedLink.h"
#include "support/TestUi.h"

namespace {

using TLines = std::vector<std::string>;
const std::string kDashes = "--------------------------";

struct TMcuMenuTest : ::testing::Test {
  TVirtualHost Host;
  TSimLinkFactory Links{Host};
  TTestUi Ui;
  TSimMcuBootTarget Target;
  TScriptedDevice Script;
  tagCOMPara Para;  // the main window's record
  std::unique_ptr<TFlashWrRXCont> C;
  std::unique_ptr<TMcuBootMenu> Menu;

  void SetUp() override {
    // ttyUSB1 is number 258: a port number past one byte.
    Links.AddSerialDevice("ttyUSB1", &Target);
    Links.AddSerialDevice("ttyUSB0", &Script);
    Para.Port = ComPortNumber("ttyUSB1");
    Para.BaudRate = 115200;
    Para.BootNewBitRate = 115200;  // as the main window starts it
    C = MakeQuietController(Host, Links, Ui, Para);
    C->FDetailLog = 1;
    Menu = std::make_unique<TMcuBootMenu>(*C, Para);
  }
  // Lines logged from now on.
  TLines Run(void (TMcuBootMenu::*handler)()) {
    Ui.FLog.clear();
    ((*Menu).*handler)();
    return Ui.FLog;
  }
  TBytes Sent(void (TMcuBootMenu::*handler)()) {
    Script.FReceived.clear();
    ((*Menu).*handler)();
    return Script.FReceived;
  }
  void UseScript() {
    Para.Port = ComPortNumber("ttyUSB0");
    ASSERT_TRUE(C->OpenComPort(Para.Port));
  }
};

TLines AreaLines(int k, const std::string& first, const std::string& last) {
  return {std::to_string(k) + kDashes, "領域先頭アドレス: 0x" + first,
          "領域最終アドレス: 0x" + last};
}

TLines Concat(std::initializer_list<TLines> parts) {
  TLines all;
  for (const TLines& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST_F(TMcuMenuTest, CommandCheckRunsFifteenHandlersWithTheirDecodedLines) {
  const TLines userAreas = Concat(
      {{"領域数: 2"}, AreaLines(1, "00080000", "000BFFFF"), AreaLines(2, "000C0000", "000FFFFF")});
  const TLines expected = Concat({
      {"OK: ビットレート合わせ込み"},
      {"OK: サポートデバイス問い合わせ ", "デバイス数: 2", "文字数: 13", "デバイスコード: 7505",
       "品名: QVX-M7505", "文字数: 13", "デバイスコード: 7506", "品名: QVX-M7506"},
      {"OK: デバイス選択"},
      {"OK: クロックモード問い合わせ ", "クロックモード: 0"},
      {"OK: クロックモード選択"},
      {"OK: 逓倍比問い合わせ", "クロック数: 2", "逓倍比種類: 4", "逓倍比: 1", "逓倍比: 2",
       "逓倍比: 4", "逓倍比: 8", "逓倍比種類: 3", "逓倍比: 1", "逓倍比: 2", "逓倍比: 4"},
      {"OK: 動作周波数問い合わせ", "クロック数: 2", "最小周波数: 12.50MHz", "最大周波数: 50.00MHz",
       "最小周波数: .50MHz", "最大周波数: 40.00MHz"},
      {"OK: 新ビットレート選択"},
      {"OK: ユーザブート領域情報問い合わせ", "領域数: 1"},
      AreaLines(1, "00010000", "00017FFF"),
      {"OK: ユーザ領域情報問い合わせ ユーザ領域の個数"},
      userAreas,
      {"OK: データ領域有無問い合わせ", "データ領域あり"},
      {"OK: データ領域情報問い合わせ", "領域数: 1", "データ領域先頭アドレス: 0x00008000",
       "データ領域最終アドレス: 0x0000BFFF"},
      {"OK: 消去ブロック情報問い合わせ"},
      userAreas,
      {"OK: // 書き込みサイズ問い合わせ", "書き込みサイズ: 256"},
      {"OK: 書き込み消去ステータス遷移"},
  });
  EXPECT_EQ(Run(&TMcuBootMenu::MnCmdCheckClick), expected);
  EXPECT_EQ(C->CommX1->PortName(), "ttyUSB1");
  EXPECT_EQ(C->CommX1->BaudRate(), 115200);
  EXPECT_EQ(Target.State(), TSimMcuBootTarget::TState::HostCommand);
  EXPECT_TRUE(Ui.FMessages.empty());
}

TEST_F(TMcuMenuTest, CommandCheckGoesOnWhenEveryHandlerFails) {
  Target.FFaults.Silent = true;
  C->FDetailLog = 0;  // as in the window: only the failure lines show
  const TLines expected = {"NG: ビットレート合わせ込み",
                           "NG: サポートデバイス問い合わせ ",
                           "NG: デバイス選択",
                           "NG: クロックモード問い合わせ ",
                           "NG: クロックモード選択",
                           "NG: 逓倍比問い合わせ",
                           "NG: 動作周波数問い合わせ",
                           "NG: 新ビットレート選択",
                           "NG: ユーザブート領域情報問い合わせ",
                           "NG: ユーザ領域情報問い合わせ ユーザ領域の個数",
                           "NG: データ領域有無問い合わせ",
                           "NG: データ領域情報問い合わせ",
                           "NG: 消去ブロック情報問い合わせ",
                           "NG: // 書き込みサイズ問い合わせ",
                           "NG: 書き込み消去ステータス遷移"};
  EXPECT_EQ(Run(&TMcuBootMenu::MnCmdCheckClick), expected);
  EXPECT_EQ(C->CommX1->BaudRate(), 19200);  // a failed matching leaves 19200
}

TEST_F(TMcuMenuTest, FailingFirstStepDoesNotStopTheRest) {
  Target.FFaults.RefuseBitRate = true;
  const TLines log = Run(&TMcuBootMenu::MnCmdCheckClick);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front(), "NG: ビットレート合わせ込み");
  // Every later handler still sent its command (the target, unmatched,
  // counts them as matching bytes or ignores them) and reported.
  int reports = 0;
  for (const std::string& l : log) reports += l.rfind("NG: ", 0) == 0 || l.rfind("OK: ", 0) == 0;
  EXPECT_EQ(reports, TMcuBootMenu::kCmdCheckCount);
}

TEST_F(TMcuMenuTest, HostCommandHandlersAgainstTheTarget) {
  Menu->MnCmdCheckClick();
  EXPECT_EQ(Run(&TMcuBootMenu::MnBootProgInfoClick),
            (TLines{"OK: ブートプログラムステータス問い合わせ",
                    "ステータス: 書き込み消去ホストコマンド待ち", "エラー: エラーなし"}));
  EXPECT_EQ(Run(&TMcuBootMenu::MnUserBootSumCheckClick),
            (TLines{"OK: ユーザブート領域サムチェック", "サムチェック: 0x007F8000"}));
  EXPECT_EQ(Run(&TMcuBootMenu::MnUserAreaSumCheckClick),
            (TLines{"OK: ユーザ領域サムチェック", "サムチェック: 0x07F80000"}));
  EXPECT_EQ(Run(&TMcuBootMenu::MnDataSumCheckClick),
            (TLines{"OK: データ領域チェックサム", "サムチェック: 0x003FC000"}));
  EXPECT_EQ(Run(&TMcuBootMenu::MnUserBootBlankCheckClick),
            (TLines{"OK: ユーザブート領域ブランクチェック"}));
  EXPECT_EQ(Run(&TMcuBootMenu::MnMemReadClick), (TLines{"OK: メモリリード"}));

  EXPECT_EQ(Run(&TMcuBootMenu::MnReadLockBitStatusClick),
            (TLines{"OK: リードロックビットステータス", "ステータス: 64", "アンロック状態"}));
  EXPECT_EQ(Run(&TMcuBootMenu::MnProgLockBitClick), (TLines{"OK: ロックビットプログラム"}));
  EXPECT_EQ(Run(&TMcuBootMenu::MnReadLockBitStatusClick),
            (TLines{"OK: リードロックビットステータス", "ステータス: 0", "ロック状態"}));
  EXPECT_TRUE(Target.Locked(6));  // 0xFEFFFF decodes to 0xEFFFF
  EXPECT_EQ(Run(&TMcuBootMenu::MnDisaLockBitClick), (TLines{"OK: ロックビット無効"}));
  EXPECT_EQ(Run(&TMcuBootMenu::MnEnLockBitClick), (TLines{"OK: ロックビット有効"}));

  EXPECT_EQ(Run(&TMcuBootMenu::MnSelUserBootAreaClick),
            (TLines{"OK: ユーザブート領域書き込み選択"}));
  EXPECT_EQ(Run(&TMcuBootMenu::MnWrite256BytesClick), (TLines{"OK: 256バイト書き込み"}));
  EXPECT_EQ(Run(&TMcuBootMenu::MnSelUSerAreaClick), (TLines{"OK: ユーザ領域書き込み選択"}));
  EXPECT_EQ(Run(&TMcuBootMenu::MnWrite256BytesClick), (TLines{"OK: 256バイト書き込み"}));

  Target.Poke(0x90000, {0x12, 0x34});
  EXPECT_EQ(Run(&TMcuBootMenu::MnUserAreaBlankCheckClick),
            (TLines{"エラーコード: 52", "NG: ユーザ領域ブランクチェック"}));
  EXPECT_EQ(Run(&TMcuBootMenu::MnSelEraseClick), (TLines{"OK: 消去選択"}));
  EXPECT_EQ(Run(&TMcuBootMenu::MnBlockEraseClick), (TLines{"OK: ブロック消去"}));
  EXPECT_EQ(
      Run(&TMcuBootMenu::MnUserAreaBlankCheckClick),
      (TLines{"エラーコード: 52", "NG: ユーザ領域ブランクチェック"}));  // only ended the erase

  // Out of order: a block erase with no erase selected is refused.
  EXPECT_EQ(Run(&TMcuBootMenu::MnBlockEraseClick),
            (TLines{"エラーコード: 80", "NG: ブロック消去"}));
  EXPECT_EQ(Run(&TMcuBootMenu::MnBootProgInfoClick),
            (TLines{"OK: ブートプログラムステータス問い合わせ",
                    "ステータス: 書き込み消去ホストコマンド待ち", "エラー: コマンドエラー"}));
  Target.FFaults.OversizeMemoryRead = true;
  EXPECT_EQ(Run(&TMcuBootMenu::MnMemReadClick).back(), "NG: メモリリード");
}

TEST_F(TMcuMenuTest, StatusNamesTheRefusal) {
  Target.FDeviceCode = "7777";
  Menu->MnBitRateClick();
  EXPECT_EQ(Run(&TMcuBootMenu::MnDeviceSelectClick),
            (TLines{"エラーコード: 21", "NG: デバイス選択"}));
  EXPECT_EQ(Run(&TMcuBootMenu::MnBootProgInfoClick),
            (TLines{"OK: ブートプログラムステータス問い合わせ", "ステータス: デバイス選択待ち",
                    "エラー: デバイスコード不一致エラー"}));
}

TEST_F(TMcuMenuTest, NewBitRateTakesTheMainWindowsSettings) {
  UseScript();
  Script.OnReceive = [](TScriptedDevice& d, const TBytes&) { d.Reply({0x15, 0x24}); };
  TBytes sent = Sent(&TMcuBootMenu::MnSelectBitRateClick);
  EXPECT_EQ(sent, (TBytes{0x3F, 0x07, 0x04, 0x80, 0x00, 0x00, 0x02, 0x00, 0x00, 0x34}));
  EXPECT_TRUE(Ui.HasLine("NG: 新ビットレート選択"));

  Para.BootNewBitRate = 38400;
  Para.BootInputFreq = 9.999f;  // the fraction of 0.01 MHz is cut off
  Para.BootRatio1 = 4;
  Para.BootRatio2 = 2;
  sent = Sent(&TMcuBootMenu::MnSelectBitRateClick);
  ASSERT_EQ(sent.size(), 10u);
  EXPECT_EQ(TBytes(sent.begin() + 2, sent.end() - 1),
            (TBytes{0x01, 0x80, 0x03, 0xE7, 0x02, 0x04, 0x02}));

  Para.BootInputFreq = 1e9f;  // far past 16 bits: held at the largest value
  sent = Sent(&TMcuBootMenu::MnSelectBitRateClick);
  EXPECT_EQ(sent[4], 0xFF);
  EXPECT_EQ(sent[5], 0xFF);
}

TEST_F(TMcuMenuTest, BitRateHandlerOpensTheSetPortAt19200) {
  Para.Port = ComPortNumber("ttyUSB3");  // no such port
  EXPECT_EQ(Run(&TMcuBootMenu::MnBitRateClick), (TLines{"NG: ビットレート合わせ込み"}));
  ASSERT_EQ(Ui.FMessages.size(), 1u);
  EXPECT_EQ(Ui.FMessages[0].rfind("ttyUSB3", 0), 0u);

  Para.Port = ComPortNumber("ttyUSB1");
  EXPECT_EQ(Run(&TMcuBootMenu::MnBitRateClick), (TLines{"OK: ビットレート合わせ込み"}));
  EXPECT_EQ(C->CommX1->BaudRate(), 19200);
  EXPECT_EQ(Target.DeviceRate(), 19200);
}

TEST_F(TMcuMenuTest, HandlersByName) {
  const auto& handlers = TMcuBootMenu::Handlers();
  std::set<std::string> names;
  for (const auto& e : handlers) names.insert(e.Name);
  EXPECT_EQ(names.size(), handlers.size());
  EXPECT_EQ(handlers.size(), 39u);  // 31 commands, 7 idle items, the command check
  EXPECT_TRUE(names.count("MnSelUSerAreaClick"));
  EXPECT_TRUE(names.count("MnCRC1Click"));
  for (const auto h : TMcuBootMenu::CmdCheckOrder()) {
    bool listed = false;
    for (const auto& e : handlers) listed = listed || e.Handler == h;
    EXPECT_TRUE(listed);
  }

  UseScript();
  Script.OnReceive = [](TScriptedDevice& d, const TBytes&) {
    d.Reply({0x37, 0x02, 0x01, 0x00, 0xC6});
  };
  Ui.FLog.clear();
  EXPECT_TRUE(Menu->RunHandler("MnWriteSizeinfoClick"));
  EXPECT_EQ(Ui.FLog, (TLines{"OK: // 書き込みサイズ問い合わせ", "書き込みサイズ: 256"}));
  EXPECT_FALSE(Menu->RunHandler("MnNoSuchClick"));

  // The idle items send and log nothing.
  Script.FReceived.clear();
  Ui.FLog.clear();
  for (const char* idle : {"MnReadStsClick", "MnVer1Click", "MnEraseClick", "MnClrStsClick",
                           "MnSetProgModeClick", "MnSetReStartClick", "MnCRC1Click"})
    EXPECT_TRUE(Menu->RunHandler(idle));
  EXPECT_TRUE(Script.FReceived.empty());
  EXPECT_TRUE(Ui.FLog.empty());
}

// ---- decoders on hand-made replies --------------------------------------------

TBootResponse Response(uint8_t code, const TBytes& data) {
  TBootResponse r;
  r.Bytes[0] = code;
  r.Bytes[1] = static_cast<uint8_t>(data.size());
  std::copy(data.begin(), data.end(), r.Bytes + 2);
  r.Bytes[data.size() + 2] = BootSum(r.Bytes, data.size() + 2);
  r.Length = static_cast<int>(data.size()) + 3;
  return r;
}

TEST(McuBootDecode, Frequencies) {
  EXPECT_EQ(DecodeFrequency(Response(0x33, {1, 0x04, 0xE2, 0x13, 0x88})),
            (TLines{"クロック数: 1", "最小周波数: 12.50MHz", "最大周波数: 50.00MHz"}));
  EXPECT_EQ(FormatFrequency(50), ".50");
  EXPECT_EQ(FormatFrequency(0), ".00");
  EXPECT_EQ(FormatFrequency(7), ".07");
  EXPECT_EQ(FormatFrequency(65535), "655.35");
}

TEST(McuBootDecode, TextsAndFlags) {
  EXPECT_EQ(DecodeBootStatus(Response(0x5F, {0x3F, 0x00})),
            (TLines{"ステータス: 書き込み消去ホストコマンド待ち", "エラー: エラーなし"}));
  EXPECT_EQ(DecodeBootStatus(Response(0x5F, {0x99, 0x2C})),
            (TLines{"ステータス: ????", "エラー: ????"}));
  EXPECT_STREQ(BootErrorText(0xFF), "ビットレート合わせ込み確認エラー");
  EXPECT_STREQ(BootStatusText(0x1F),
               "書き込み消去ホストコマンド待ち状態への遷移待ち（ビットレート選択完了）");
  EXPECT_EQ(DecodeLockBitStatus(0x40), (TLines{"ステータス: 64", "アンロック状態"}));
  EXPECT_EQ(DecodeLockBitStatus(0x00), (TLines{"ステータス: 0", "ロック状態"}));
  EXPECT_EQ(DecodeLockBitStatus(0xC1), (TLines{"ステータス: 193", "アンロック状態"}));
  EXPECT_EQ(DecodeDataAreaExists(Response(0x3A, {0x21})), (TLines{"データ領域あり"}));
  EXPECT_EQ(DecodeDataAreaExists(Response(0x3A, {0x20})), (TLines{"データ領域なし"}));
}

TEST(McuBootDecode, RepliesShorterThanTheyClaimAreReadOnlyAsFarAsTheyGo) {
  // Five areas announced, one and a half present.
  TBytes data{5, 0, 0, 0x10, 0, 0, 0, 0x1F, 0xFF, 0, 0, 0x20};
  EXPECT_EQ(DecodeAreaList(Response(0x34, data)),
            Concat({{"領域数: 5"}, AreaLines(1, "00001000", "00001FFF")}));
  // One device announced, two entries shown; the second is cut off.
  TBytes devices{1, 6, '7', '5', '0', '5', 'A', 'B', 9, '7', '5'};
  EXPECT_EQ(
      DecodeSupportDevice(Response(0x30, devices)),
      (TLines{"デバイス数: 1", "文字数: 6", "デバイスコード: 7505", "品名: AB", "文字数: 9"}));
  // A character count below 4 gives an empty product name, not a wild read.
  EXPECT_EQ(DecodeSupportDevice(Response(0x30, {1, 2, '7', '5', '0', '5'})),
            (TLines{"デバイス数: 1", "文字数: 2", "デバイスコード: 7505", "品名: "}));
  EXPECT_EQ(DecodeMultiplyRatio(Response(0x32, {2, 3, 1, 2})),
            (TLines{"クロック数: 2", "逓倍比種類: 3", "逓倍比: 1", "逓倍比: 2"}));
  EXPECT_EQ(DecodeDataArea(Response(0x3B, {0})), (TLines{"領域数: 0"}));
  EXPECT_TRUE(DecodeSum(Response(0x5A, {1, 2})).empty());
}

}  // namespace
