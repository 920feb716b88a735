// The start-up connection below the main window: repeat the connection step
// of the current link kind until one settles, then judge the reader.
#include "link/FirmwareVersion.h"
#include "link/FlashWrRXCont.h"

namespace {
constexpr char kSameVersionLine1[] = "※現在のROM VersionはアップデートするVersionと同一です。";
constexpr char kSameVersionLine2[] = "　ファームアップデートを実行する必要はありません。";
}  // namespace

TFlashWrRXCont::TStartupOutcome TFlashWrRXCont::RunStartupConnection(int writeSpeedIndex) {
  TStartupOutcome outcome;
  FUi.SetConnected(0);
  FReaderMissing = 0;
  FProgramEnding = 0;

  bool stepResult = false;
  while (FUi.Connected() == 0) {
    if (FLinkKind == 0)
      stepResult = SelectComPort(writeSpeedIndex);
    else
      stepResult = static_cast<uint8_t>(SelectTcpIp()) != 0;
  }
  // A cancelled dialog ends the program: nothing more is asked of the link.
  if (FProgramEnding) {
    outcome.Ended = true;
    return outcome;
  }

  outcome.ReaderFound = AcceptReader(stepResult) != 0;
  if (!outcome.ReaderFound) return outcome;

  outcome.RomVersionText = FRomVersion;  // whole, up to its NUL
  if (outcome.RomVersionText.find(kFirmwareVersionText) != std::string::npos) {
    AddLog(kSameVersionLine1, true);
    AddLog(kSameVersionLine2, true);
  }
  if (FLinkKind == 1) CheckIfbVersion(kStartupMinimumIfbVersion);
  return outcome;
}
