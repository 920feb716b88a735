#include "mcuboot/McuBootMenu.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "mcuboot/BootFrame.h"

namespace {
std::string Hex8(uint32_t v) {
  char s[9];
  std::snprintf(s, sizeof s, "%08X", v);
  return s;
}

std::string Dec(uint32_t v) {
  return std::to_string(v);
}

// Data bytes of a response, read in order; a read past the data fails and
// leaves the lines written so far.
class TDataReader {
 public:
  explicit TDataReader(const TBootResponse& r) : FData(r.Data()), FCount(r.DataCount()) {}
  bool Has(int n) const { return FPos + n <= FCount; }
  uint8_t U8() { return FData[FPos++]; }
  uint16_t U16() {
    const uint16_t v = BootU16(FData + FPos);
    FPos += 2;
    return v;
  }
  uint32_t U32() {
    const uint32_t v = BootU32(FData + FPos);
    FPos += 4;
    return v;
  }
  std::string Text(int n) {
    n = std::clamp(n, 0, FCount - FPos);
    std::string s(reinterpret_cast<const char*>(FData + FPos), static_cast<size_t>(n));
    FPos += n;
    return s;
  }

 private:
  const uint8_t* FData;
  int FCount;
  int FPos = 0;
};

const char kSeparatorDashes[] = "--------------------------";  // 26

// Inputs of the new-bit-rate selection from the record: rate in 100 bit/s and
// frequency in 0.01 MHz, each cut to what the 16-bit fields can carry.
uint16_t To16(double v) {
  if (!(v > 0)) return 0;
  return static_cast<uint16_t>(std::min(std::trunc(v), 65535.0));
}
}  // namespace

// ---- decoders --------------------------------------------------------------

std::string FormatFrequency(uint16_t hundredths) {
  const unsigned whole = hundredths / 100u;
  char frac[4];
  std::snprintf(frac, sizeof frac, ".%02u", hundredths % 100u);
  return (whole ? std::to_string(whole) : std::string()) + frac;
}

const char* BootStatusText(uint8_t status) {
  switch (status) {
    case 0x11:
      return "デバイス選択待ち";
    case 0x12:
      return "クロックモード選択待ち";
    case 0x13:
      return "ビットレート選択待ち";
    case 0x1F:
      return "書き込み消去ホストコマンド待ち状態への遷移待ち（ビットレート選択完了）";
    case 0x31:
      return "ユーザ領域の消去中/ユーザブート領域の消去中";
    case 0x3F:
      return "書き込み消去ホストコマンド待ち";
    case 0x4F:
      return "書き込みデータ受信待ち";
    case 0x5F:
      return "消去ブロック指定待ち";
    default:
      return "????";
  }
}

const char* BootErrorText(uint8_t error) {
  switch (error) {
    case 0x00:
      return "エラーなし";
    case 0x11:
      return "サムチェックエラー";
    case 0x21:
      return "デバイスコード不一致エラー";
    case 0x22:
      return "クロックモード不一致エラー";
    case 0x24:
      return "ビットレート選択不可エラー";
    case 0x25:
      return "入力周波数エラー";
    case 0x26:
      return "逓倍比エラー";
    case 0x27:
      return "動作周波数エラー";
    case 0x29:
      return "ブロック番号エラー";
    case 0x2A:
      return "アドレスエラー";
    case 0x2B:
      return "データ長エラー";
    case 0x51:
      return "消去エラー";
    case 0x52:
      return "未消去エラー";
    case 0x53:
      return "書き込みエラー";
    case 0x54:
      return "選択処理エラー";
    case 0x80:
      return "コマンドエラー";
    case 0xFF:
      return "ビットレート合わせ込み確認エラー";
    default:
      return "????";
  }
}

std::vector<std::string> DecodeSupportDevice(const TBootResponse& r) {
  std::vector<std::string> lines;
  TDataReader d(r);
  if (!d.Has(1)) return lines;
  lines.push_back("デバイス数: " + Dec(d.U8()));
  // Two entries whatever the count says, as far as the response holds them.
  for (int entry = 0; entry < 2 && d.Has(1); ++entry) {
    const int n = d.U8();
    lines.push_back("文字数: " + Dec(static_cast<uint32_t>(n)));
    if (!d.Has(4)) break;
    lines.push_back("デバイスコード: " + d.Text(4));
    lines.push_back("品名: " + d.Text(n - 4));
  }
  return lines;
}

std::vector<std::string> DecodeClockMode(const TBootResponse& r) {
  TDataReader d(r);
  if (!d.Has(1)) return {};
  return {"クロックモード: " + Dec(d.U8())};
}

std::vector<std::string> DecodeMultiplyRatio(const TBootResponse& r) {
  std::vector<std::string> lines;
  TDataReader d(r);
  if (!d.Has(1)) return lines;
  const int clocks = d.U8();
  lines.push_back("クロック数: " + Dec(static_cast<uint32_t>(clocks)));
  for (int c = 0; c < clocks && d.Has(1); ++c) {
    const int kinds = d.U8();
    lines.push_back("逓倍比種類: " + Dec(static_cast<uint32_t>(kinds)));
    for (int k = 0; k < kinds && d.Has(1); ++k) lines.push_back("逓倍比: " + Dec(d.U8()));
  }
  return lines;
}

std::vector<std::string> DecodeFrequency(const TBootResponse& r) {
  std::vector<std::string> lines;
  TDataReader d(r);
  if (!d.Has(1)) return lines;
  const int clocks = d.U8();
  lines.push_back("クロック数: " + Dec(static_cast<uint32_t>(clocks)));
  for (int c = 0; c < clocks && d.Has(4); ++c) {
    lines.push_back("最小周波数: " + FormatFrequency(d.U16()) + "MHz");
    lines.push_back("最大周波数: " + FormatFrequency(d.U16()) + "MHz");
  }
  return lines;
}

std::vector<std::string> DecodeAreaList(const TBootResponse& r) {
  std::vector<std::string> lines;
  TDataReader d(r);
  if (!d.Has(1)) return lines;
  const int areas = d.U8();
  lines.push_back("領域数: " + Dec(static_cast<uint32_t>(areas)));
  for (int k = 1; k <= areas && d.Has(8); ++k) {
    lines.push_back(Dec(static_cast<uint32_t>(k)) + kSeparatorDashes);
    lines.push_back("領域先頭アドレス: 0x" + Hex8(d.U32()));
    lines.push_back("領域最終アドレス: 0x" + Hex8(d.U32()));
  }
  return lines;
}

std::vector<std::string> DecodeWriteSize(const TBootResponse& r) {
  TDataReader d(r);
  if (!d.Has(2)) return {};
  return {"書き込みサイズ: " + Dec(d.U16())};
}

std::vector<std::string> DecodeDataAreaExists(const TBootResponse& r) {
  constexpr uint8_t kPresent = 0x21;
  TDataReader d(r);
  return {d.Has(1) && d.U8() == kPresent ? "データ領域あり" : "データ領域なし"};
}

std::vector<std::string> DecodeDataArea(const TBootResponse& r) {
  std::vector<std::string> lines;
  TDataReader d(r);
  if (!d.Has(1)) return lines;
  lines.push_back("領域数: " + Dec(d.U8()));
  // Only the first area is shown.
  if (!d.Has(8)) return lines;
  lines.push_back("データ領域先頭アドレス: 0x" + Hex8(d.U32()));
  lines.push_back("データ領域最終アドレス: 0x" + Hex8(d.U32()));
  return lines;
}

std::vector<std::string> DecodeBootStatus(const TBootResponse& r) {
  TDataReader d(r);
  if (!d.Has(2)) return {};
  const uint8_t status = d.U8();
  const uint8_t error = d.U8();
  return {std::string("ステータス: ") + BootStatusText(status),
          std::string("エラー: ") + BootErrorText(error)};
}

std::vector<std::string> DecodeSum(const TBootResponse& r) {
  TDataReader d(r);
  if (!d.Has(4)) return {};
  return {"サムチェック: 0x" + Hex8(d.U32())};
}

std::vector<std::string> DecodeLockBitStatus(uint8_t status) {
  constexpr uint8_t kUnlocked = 0x40;
  return {"ステータス: " + Dec(status), (status & kUnlocked) ? "アンロック状態" : "ロック状態"};
}

// ---- handlers ----------------------------------------------------------------

TMcuBootMenu::TMcuBootMenu(TFlashWrRXCont& cont, const tagCOMPara& mainComPara)
    : FCont(cont), FMainComPara(mainComPara) {}

bool TMcuBootMenu::Report(bool ok, const std::string& label) {
  // One NG decides the outcome of a run of several commands.
  FLastResult = ok && FLastResult != 0 ? 1 : 0;
  if (ok)
    FCont.AddLog("OK: " + label, false);
  else
    FCont.AddLog("NG: " + label, true);
  return ok;
}

void TMcuBootMenu::LogLines(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) FCont.AddLog(line, false);
}

void TMcuBootMenu::MnBitRateClick() {
  FCont.CommX1->SetBaudRate(kBitRateMatchBaudRate);
  // The whole port number: numbers of ports off Windows run past 255.
  bool ok = FCont.OpenComPort(FMainComPara.Port);
  if (ok) {
    FCont.ClearRxBuffer();
    ok = FCont.BitRateMatch();
  }
  Report(ok, "ビットレート合わせ込み");
}

void TMcuBootMenu::MnSupportDeviceClick() {
  TBootResponse r;
  if (Report(FCont.InquireSupportDevice(r), "サポートデバイス問い合わせ "))
    LogLines(DecodeSupportDevice(r));
}

void TMcuBootMenu::MnDeviceSelectClick() {
  Report(FCont.SelectDevice(kDeviceCode), "デバイス選択");
}

void TMcuBootMenu::MnClockInfoClick() {
  TBootResponse r;
  if (Report(FCont.InquireClockMode(r), "クロックモード問い合わせ ")) LogLines(DecodeClockMode(r));
}

void TMcuBootMenu::MnSelectClockModeClick() {
  Report(FCont.SelectClockMode(0), "クロックモード選択");
}

void TMcuBootMenu::MnTeibaiInfoClick() {
  TBootResponse r;
  if (Report(FCont.InquireMultiplyRatio(r), "逓倍比問い合わせ")) LogLines(DecodeMultiplyRatio(r));
}

void TMcuBootMenu::MnGetClockInfoClick() {
  TBootResponse r;
  if (Report(FCont.InquireFrequency(r), "動作周波数問い合わせ")) LogLines(DecodeFrequency(r));
}

void TMcuBootMenu::MnBootAreaInfoClick() {
  TBootResponse r;
  if (Report(FCont.InquireUserBootArea(r), "ユーザブート領域情報問い合わせ"))
    LogLines(DecodeAreaList(r));
}

void TMcuBootMenu::MnUserAreaInfoClick() {
  TBootResponse r;
  if (Report(FCont.InquireUserArea(r), "ユーザ領域情報問い合わせ ユーザ領域の個数"))
    LogLines(DecodeAreaList(r));
}

void TMcuBootMenu::MnEraseBlockInfoClick() {
  // The same inquiry as the user area's.
  TBootResponse r;
  if (Report(FCont.InquireUserArea(r), "消去ブロック情報問い合わせ")) LogLines(DecodeAreaList(r));
}

void TMcuBootMenu::MnWriteSizeinfoClick() {
  TBootResponse r;
  if (Report(FCont.InquireWriteSize(r), "// 書き込みサイズ問い合わせ"))
    LogLines(DecodeWriteSize(r));
}

void TMcuBootMenu::MnDataAreaChkClick() {
  TBootResponse r;
  if (Report(FCont.InquireDataAreaExists(r), "データ領域有無問い合わせ"))
    LogLines(DecodeDataAreaExists(r));
}

void TMcuBootMenu::MnDataAreaInfoClick() {
  TBootResponse r;
  if (Report(FCont.InquireDataArea(r), "データ領域情報問い合わせ")) LogLines(DecodeDataArea(r));
}

void TMcuBootMenu::MnSelectBitRateClick() {
  const uint16_t rate = To16(FMainComPara.BootNewBitRate / 100);
  const uint16_t freq = To16(static_cast<double>(FMainComPara.BootInputFreq) * 100.0);
  Report(FCont.SelectNewBitRate(rate, freq, FMainComPara.BootRatio1, FMainComPara.BootRatio2),
         "新ビットレート選択");
}

void TMcuBootMenu::MnEraseStatusSetClick() {
  uint8_t reply = 0;
  Report(FCont.EnterProgEraseState(reply), "書き込み消去ステータス遷移");
}

void TMcuBootMenu::MnBootProgInfoClick() {
  TBootResponse r;
  if (Report(FCont.InquireBootStatus(r), "ブートプログラムステータス問い合わせ"))
    LogLines(DecodeBootStatus(r));
}

void TMcuBootMenu::MnSelUserBootAreaClick() {
  Report(FCont.SelectUserBootAreaProgram(), "ユーザブート領域書き込み選択");
}

void TMcuBootMenu::MnSelUSerAreaClick() {
  Report(FCont.SelectUserAreaProgram(), "ユーザ領域書き込み選択");
}

void TMcuBootMenu::MnWrite256BytesClick() {
  uint8_t data[256];
  std::fill_n(data, 256, 0xFF);
  Report(FCont.Program256(TBootCode::kEndOfProgramming, data), "256バイト書き込み");
}

void TMcuBootMenu::MnSelEraseClick() {
  Report(FCont.SelectErase(), "消去選択");
}

void TMcuBootMenu::MnBlockEraseClick() {
  Report(FCont.EraseBlock(TBootCode::kEraseEnd), "ブロック消去");
}

void TMcuBootMenu::MnMemReadClick() {
  Report(FCont.ReadMemory(kMemReadArea, kMemReadAddress, kMemReadSize), "メモリリード");
}

void TMcuBootMenu::MnUserBootSumCheckClick() {
  TBootResponse r;
  if (Report(FCont.SumCheckUserBoot(r), "ユーザブート領域サムチェック")) LogLines(DecodeSum(r));
}

void TMcuBootMenu::MnUserAreaSumCheckClick() {
  TBootResponse r;
  if (Report(FCont.SumCheckUserArea(r), "ユーザ領域サムチェック")) LogLines(DecodeSum(r));
}

void TMcuBootMenu::MnDataSumCheckClick() {
  TBootResponse r;
  if (Report(FCont.SumCheckDataArea(r), "データ領域チェックサム")) LogLines(DecodeSum(r));
}

void TMcuBootMenu::MnUserBootBlankCheckClick() {
  Report(FCont.BlankCheckUserBoot(), "ユーザブート領域ブランクチェック");
}

void TMcuBootMenu::MnUserAreaBlankCheckClick() {
  Report(FCont.BlankCheckUserArea(), "ユーザ領域ブランクチェック");
}

void TMcuBootMenu::MnReadLockBitStatusClick() {
  uint8_t status = 0;
  if (Report(FCont.ReadLockBit(kLockBitAddress, status), "リードロックビットステータス"))
    LogLines(DecodeLockBitStatus(status));
}

void TMcuBootMenu::MnProgLockBitClick() {
  Report(FCont.ProgramLockBit(kLockBitAddress), "ロックビットプログラム");
}

void TMcuBootMenu::MnEnLockBitClick() {
  Report(FCont.EnableLockBit(), "ロックビット有効");
}

void TMcuBootMenu::MnDisaLockBitClick() {
  Report(FCont.DisableLockBit(), "ロックビット無効");
}

void TMcuBootMenu::MnCmdCheckClick() {
  for (THandler h : CmdCheckOrder()) (this->*h)();
}

const std::array<TMcuBootMenu::THandler, TMcuBootMenu::kCmdCheckCount>&
TMcuBootMenu::CmdCheckOrder() {
  static const std::array<THandler, kCmdCheckCount> kOrder = {
      &TMcuBootMenu::MnBitRateClick,         &TMcuBootMenu::MnSupportDeviceClick,
      &TMcuBootMenu::MnDeviceSelectClick,    &TMcuBootMenu::MnClockInfoClick,
      &TMcuBootMenu::MnSelectClockModeClick, &TMcuBootMenu::MnTeibaiInfoClick,
      &TMcuBootMenu::MnGetClockInfoClick,    &TMcuBootMenu::MnSelectBitRateClick,
      &TMcuBootMenu::MnBootAreaInfoClick,    &TMcuBootMenu::MnUserAreaInfoClick,
      &TMcuBootMenu::MnDataAreaChkClick,     &TMcuBootMenu::MnDataAreaInfoClick,
      &TMcuBootMenu::MnEraseBlockInfoClick,  &TMcuBootMenu::MnWriteSizeinfoClick,
      &TMcuBootMenu::MnEraseStatusSetClick};
  return kOrder;
}

const std::vector<TMcuBootMenu::TEntry>& TMcuBootMenu::Handlers() {
#define QVX_ENTRY(name)        \
  TEntry {                     \
#name, &TMcuBootMenu::name \
  }
  static const std::vector<TEntry> kHandlers = {QVX_ENTRY(MnBitRateClick),
                                                QVX_ENTRY(MnSupportDeviceClick),
                                                QVX_ENTRY(MnDeviceSelectClick),
                                                QVX_ENTRY(MnClockInfoClick),
                                                QVX_ENTRY(MnSelectClockModeClick),
                                                QVX_ENTRY(MnTeibaiInfoClick),
                                                QVX_ENTRY(MnGetClockInfoClick),
                                                QVX_ENTRY(MnBootAreaInfoClick),
                                                QVX_ENTRY(MnUserAreaInfoClick),
                                                QVX_ENTRY(MnEraseBlockInfoClick),
                                                QVX_ENTRY(MnWriteSizeinfoClick),
                                                QVX_ENTRY(MnDataAreaChkClick),
                                                QVX_ENTRY(MnDataAreaInfoClick),
                                                QVX_ENTRY(MnSelectBitRateClick),
                                                QVX_ENTRY(MnEraseStatusSetClick),
                                                QVX_ENTRY(MnBootProgInfoClick),
                                                QVX_ENTRY(MnSelUserBootAreaClick),
                                                QVX_ENTRY(MnSelUSerAreaClick),
                                                QVX_ENTRY(MnWrite256BytesClick),
                                                QVX_ENTRY(MnSelEraseClick),
                                                QVX_ENTRY(MnBlockEraseClick),
                                                QVX_ENTRY(MnMemReadClick),
                                                QVX_ENTRY(MnUserBootSumCheckClick),
                                                QVX_ENTRY(MnUserAreaSumCheckClick),
                                                QVX_ENTRY(MnDataSumCheckClick),
                                                QVX_ENTRY(MnUserBootBlankCheckClick),
                                                QVX_ENTRY(MnUserAreaBlankCheckClick),
                                                QVX_ENTRY(MnReadLockBitStatusClick),
                                                QVX_ENTRY(MnProgLockBitClick),
                                                QVX_ENTRY(MnEnLockBitClick),
                                                QVX_ENTRY(MnDisaLockBitClick),
                                                QVX_ENTRY(MnReadStsClick),
                                                QVX_ENTRY(MnVer1Click),
                                                QVX_ENTRY(MnEraseClick),
                                                QVX_ENTRY(MnClrStsClick),
                                                QVX_ENTRY(MnSetProgModeClick),
                                                QVX_ENTRY(MnSetReStartClick),
                                                QVX_ENTRY(MnCRC1Click),
                                                QVX_ENTRY(MnCmdCheckClick)};
#undef QVX_ENTRY
  return kHandlers;
}

bool TMcuBootMenu::RunHandler(const std::string& name) {
  for (const TEntry& e : Handlers()) {
    if (name == e.Name) {
      FLastResult = -1;
      (this->*e.Handler)();
      return true;
    }
  }
  return false;
}
