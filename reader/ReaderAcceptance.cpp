// Whether the connected reader may be updated: its model, and over TCP/IP the
// version of the interface board in front of it.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "link/FlashWrRXCont.h"

namespace {

// The supported model's fixed-width name (8 characters and 6 blanks).
constexpr char kSupportedModel[] = "QVX-K417      ";
constexpr size_t kSupportedModelLength = sizeof kSupportedModel - 1;
constexpr size_t kVersionNumberDigits = 4;

constexpr char kUnsupportedReaderText[] =
    "対応外のR/Wモジュールです。お使いのRW対応のツールをお使いください。";
constexpr char kNoReaderText[] = "R/Wモジュールが見つかりませんでした。";
constexpr char kCheckConnectionText[] = "R/Wの接続を確認してください。";
constexpr char kUnsupportedBoardText[] =
    "対応外のI/Fモジュールです。Ver1.022以上のI/Fモジュール搭載品のみ"
    "TCP/IP接続でのアップデートが可能です。";
constexpr char kCheckBoardVersionText[] = "取扱説明書を参考にI/Fのバージョンを確認してください。";

// The leading version number of a ROM version text, or -1 when its first
// four characters are not all decimal digits.
int VersionNumber(const char* text) {
  int n = 0;
  for (size_t i = 0; i < kVersionNumberDigits; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    n = n * 10 + (text[i] - '0');
  }
  return n;
}

}  // namespace

int TFlashWrRXCont::CheckReaderModel(bool logResult) {
  if (!ReadModelName(false, logResult)) return 0;
  // Only as many characters as were received are compared, so a name sent
  // without its trailing blanks still matches; a longer name never does.
  const size_t n = static_cast<size_t>(
      std::find(std::begin(FModelName), std::end(FModelName), '\0') - std::begin(FModelName));
  return n <= kSupportedModelLength && std::memcmp(FModelName, kSupportedModel, n) == 0 ? 1 : 0;
}

int TFlashWrRXCont::AcceptReader(bool readerFound) {
  int result = 1;
  if (FReWriteMode) {
    // The reader is in no state to answer; the operator vouches for it.
    FReaderAccepted = 1;
    FMessageText.clear();
  } else if (readerFound) {
    if (CheckReaderModel(true)) {
      FReaderAccepted = 1;
      FMessageText.clear();
    } else {
      FMessageText = kUnsupportedReaderText;
      FReaderAccepted = 0;
      FUi.ShowMessage(FMessageText, TMsgKind::Error);
    }
  } else {
    FReaderAccepted = 0;
    FUi.DisableUpdateEntries(false);
    FMessageText = kNoReaderText;
    AddLog(FMessageText, true);
    AddLog(kCheckConnectionText, true);
    FReaderMissing = 1;
    result = 0;
  }
  AddLog("", false);
  return result;
}

int TFlashWrRXCont::CheckIfbVersion(int minimum) {
  ClearRxBuffer();
  int ok = 0;
  if (ReadIfbRomVersion(false)) {
    const int version = VersionNumber(FRomVersion);
    ok = version >= 0 && version >= minimum ? 1 : 0;
  }
  if (!ok && !FReaderMissing) {
    FUi.DisableUpdateEntries(true);
    FMessageText = kUnsupportedBoardText;
    AddLog(FMessageText, true);
    AddLog(kCheckBoardVersionText, true);
  }
  return ok;
}
