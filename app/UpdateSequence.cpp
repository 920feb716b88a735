#include "app/UpdateSequence.h"

#include <cstring>
#include <exception>
#include <stdexcept>

#include "link/FirmwareVersion.h"
#include "link/FlashWrRXCont.h"
#include "link/PortNames.h"

namespace {

// A version text with this in it comes from the interface board, not the reader.
constexpr char kIfbMarker[] = "IFB";

constexpr char kHyphenLine[] = "----------------------------------------";

// Log lines.
constexpr char kRomVersionOk[] = "OK：ROM Version";
constexpr char kRomVersionNg[] = "NG：Get ROM Version";
constexpr char kVersionSummaryLabel[] = "ROM Version : ";
constexpr char kBootReleaseOk[] = "OK：ブート解除中";
constexpr char kRestoreOk[] = "OK：RW FLASH Value ";
constexpr char kRestoreNg1[] = "NG：Any RW FLASH Value";
constexpr char kRestoreNg2[] = "    Lets Retry RW VerUP";
constexpr char kUpdateOkLine[] = "アップデートが正常に終了しました。";
constexpr char kRestartAdviceLine[] = "電源を入れなおして再起動してください。";
constexpr char kUpdateNgLine[] = "アップデートに失敗しました。";
constexpr char kAdviceCheckLink[] = "R/Wの接続、設定を確認してください。";
constexpr char kAdvicePowerCycle[] = "ソフトを終了し、R/Wの電源を入れ直してください。";
constexpr char kAdviceWriteAgain[] = "再度ソフトを起動し、もう一度書き込みを行ってください。";
constexpr char kAdviceReWrite[] =
    "再度ソフトを起動し、［再書込み行う］にチェックを入れてもう一度書き込みを行ってください。";

// Dialog headlines (Label2), large texts (Label1) and stage titles.
constexpr char kHeadWriting[] = "書き込み中は、電源を切らないでください";
constexpr char kHeadManualRestart[] = "手動再起動待機中";
constexpr char kTextManualRestart[] = "R/Wの電源を入れ直し，\n「確認」\nを押してください";
constexpr char kTitleManualRestart[] = "手動再起動";
constexpr char kHeadPowerOn[] = "電源を切らないでください";
constexpr char kTextVersionCheck[] = "ROMVer確認中...";
constexpr char kTitleVersionCheck[] = "ROMVer確認";
constexpr char kTextBootRelease[] = "ブート解除中...";
constexpr char kTitleBootRelease[] = "ブート解除";
constexpr char kTextStateCheck[] = "RW状態確認中...";
constexpr char kTitleStateCheck[] = "RW状態確認";
constexpr char kHeadOk[] = "アップデートが正常に終了しました";
constexpr char kHeadNg[] = "アップデートに失敗しました";
constexpr char kTextOk[] = "OK";
constexpr char kTextNg[] = "NG";

// Result codes of FUpdateResult.
constexpr int32_t kResultCheckLink = 0;
constexpr int32_t kResultWriteAgain = 1;
constexpr int32_t kResultReWrite = 3;
constexpr int32_t kResultWrongVersion = 6;

// Set while a run is on the stack: a second press never starts another.
bool gUpdateRunning = false;

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

// The controller's version text, cut to its first kVersionTextLength characters.
std::string CutRomVersion(TFlashWrRXCont& c) {
  c.FRomVersion[TFirmwareUpdate::kVersionTextLength] = '\0';
  return std::string(c.FRomVersion);
}

}  // namespace

TUpdateOutcome TB_WriteClick(TFlashWrRXCont& cont, const TUpdateWindowFields& fields) {
  if (!cont.FReaderAccepted) {
    cont.Ui().ShowMessage(cont.FMessageText, TMsgKind::Error);
    return {};
  }
  return RunFirmwareUpdate(cont, fields);
}

TUpdateOutcome RunFirmwareUpdate(TFlashWrRXCont& cont, const TUpdateWindowFields& fields) {
  if (gUpdateRunning) return {};
  struct TRunning {
    TRunning() { gUpdateRunning = true; }
    ~TRunning() { gUpdateRunning = false; }
  } running;
  return TFirmwareUpdate(cont, fields).Run();
}

TFirmwareUpdate::TFirmwareUpdate(TFlashWrRXCont& cont, const TUpdateWindowFields& fields)
    : C(cont), W(fields) {}

void TFirmwareUpdate::Log(const std::string& line) {
  C.AddLog(line, true);
}

void TFirmwareUpdate::Pump() {
  C.Host().ProcessMessages();
}

TUpdateOutcome TFirmwareUpdate::Run() {
  try {
    PrepareStage();
    if (DownloadStage()) ImmediateVersionStage();
    BootReleaseStage();
    StateCheckOrRestoreStage();
  } catch (const std::exception& e) {
    FSuccess = 0;
    W.FUpdateResult = kResultCheckLink;
    C.AddLog(std::string("Update stopped: ") + e.what(), false);
  } catch (...) {
    FSuccess = 0;
    W.FUpdateResult = kResultCheckLink;
    C.AddLog("Update stopped: unknown error", false);
  }
  try {
    OutcomeStage();
  } catch (...) {
    // Whatever went wrong here, the operator gets the window back.
    FSuccess = 0;
    C.Ui().DestroyConfirm();
    C.Ui().SetMainWindowEnabled(true);
  }
  TUpdateOutcome outcome;
  outcome.Ran = true;
  outcome.Ok = FSuccess != 0;
  outcome.Result = W.FUpdateResult;
  return outcome;
}

// ---- stage 0: preparation -------------------------------------------------

void TFirmwareUpdate::PrepareStage() {
  FSuccess = 1;
  FRestartAdvice = 0;
  FVersionSummary.clear();
  W.FUpdateResult = kResultCheckLink;
  Log("");
  IUi& ui = C.Ui();
  ui.SetMainWindowEnabled(false);
  // The download writes its stage texts into this dialog too.
  ui.CreateConfirm();
  ui.SetConfirmButtonEnabled(false);
  ui.SetConfirmText("");
  ui.SetConfirmHeadline("");
  ui.SetConfirmEnabled(false);  // not even closable until the operator is asked
  ui.SetConfirmFontSize(kStageFontPoints);
  ui.ShowConfirm();
  Pump();
  ui.SetConfirmHeadline(kHeadWriting);
  ui.SetConfirmText("");
  Pump();
  ui.SetStageTitle("");
  C.ClearRxBuffer();
  ui.SetStageTitle("");
}

// ---- stage 1: download ----------------------------------------------------

bool TFirmwareUpdate::DownloadStage() {
  Log(kHyphenLine);
  FSuccess = C.DownloadFirmware() ? 1 : 0;
  if (FSuccess) FSuccess = C.EndProcessing() ? 1 : 0;
  if (!FSuccess) W.FUpdateResult = kResultReWrite;
  return FSuccess != 0;
}

// ---- stage 2: immediate version check ---------------------------------------

void TFirmwareUpdate::ImmediateVersionStage() {
  C.ClearRxBuffer();
  if (C.ReadRomVersion(false))
    VersionCheck();
  else
    ManualRestartStage();
}

// ---- stage 3: manual restart ----------------------------------------------

void TFirmwareUpdate::ManualRestartStage() {
  IUi& ui = C.Ui();
  if (C.FLinkKind == 0) {
    // Only a numbered port can be opened again.
    const std::string name = C.CommX1->PortName();
    const int number = ComPortNumber(name);
    if (number <= 0) throw std::invalid_argument("serial port name without a number: " + name);
    W.FComPortNumber = number;
  }
  C.CloseLink();

  ui.BringConfirmToFront();
  Pump();
  ui.SetConfirmHeadline(kHeadManualRestart);
  ui.SetConfirmText(kTextManualRestart);
  ui.SetStageTitle(kTitleManualRestart);
  // From here on the dialog can be closed, which counts as "確認".
  ui.SetConfirmEnabled(true);
  ui.SetConfirmButtonEnabled(true);
  ui.WaitForOperator();

  ui.HideConfirm();
  C.Host().Sleep(kAfterConfirmPauseMs);
  Pump();
  ReopenLinkAfterPowerCycle();

  ui.ShowConfirm();
  ui.SetConfirmHeadline(kHeadPowerOn);
  ui.SetConfirmText(kTextVersionCheck);
  ui.SetStageTitle(kTitleVersionCheck);
  ui.SetConfirmButtonEnabled(false);
  Pump();
  C.Host().Sleep(kVersionSettlePauseMs);

  // The first answer after the power cycle is not trusted; the second counts.
  C.ClearRxBuffer();
  C.ReadRomVersion(false);
  C.ClearRxBuffer();
  if (C.ReadRomVersion(false)) {
    VersionCheck();
  } else {
    FSuccess = 0;
    Log(kRomVersionNg);
    W.FUpdateResult = kResultWrongVersion;
  }
}

void TFirmwareUpdate::ReopenLinkAfterPowerCycle() {
  if (C.FLinkKind == 0) {
    // A port that cannot be opened says so itself; the queries then go unanswered.
    C.OpenComPort(W.FComPortNumber);
    return;
  }
  ReopenTcpLink();
  // The board may pass the reader's first answers through late: both are dropped.
  C.ReadRomVersion(false);
  C.Host().Sleep(kTcpVersionPauseMs);
  C.ReadRomVersion(false);
}

void TFirmwareUpdate::ReopenTcpLink() {
  const tagTCPIPPara& p = W.FLastTcpPara;
  C.OpenTcpLink(p.TCPPort, p.fTCPServer, p.TCPServPort, p.TCPServAddr);
  Pump();
}

// ---- stage 4: boot release ------------------------------------------------

void TFirmwareUpdate::BootReleaseStage() {
  IUi& ui = C.Ui();
  ui.SetConfirmText(kTextBootRelease);
  ui.SetStageTitle(kTitleBootRelease);
  Pump();
  C.Host().Sleep(kBootReleasePauseMs);

  if (!C.ReadIfbRomVersion(false) && !C.ReadIfbRomVersion(false)) FRestartAdvice = 1;
  // The mode word the download read (0 when it stopped before reading it).
  C.SetIFBMode(C.FIfbMode, false);
  C.RestartIfb();
  C.Host().Sleep(kIfbRestartPauseMs);
  if (C.FLinkKind != 0) {
    // The restarting board dropped the connection.
    C.CloseLink();
    ReopenTcpLink();
  }
  Log(kBootReleaseOk);
  Log(kHyphenLine);
}

// ---- stage 5: R/W state check or parameter restore --------------------------

void TFirmwareUpdate::StateCheckOrRestoreStage() {
  if (FSuccess != 0) {
    Log("");
    Log(FVersionSummary);
  }
  if (FSuccess == 0) RwStateCheck();
  if (FSuccess == 1) {
    FSuccess = C.RestoreParameters() == 1 ? 1 : 0;
    if (FSuccess == 1) {
      Log(kRestoreOk);
    } else {
      Log(kRestoreNg1);
      Log(kRestoreNg2);
    }
  }
}

void TFirmwareUpdate::RwStateCheck() {
  C.Ui().SetConfirmText(kTextStateCheck);
  C.Ui().SetStageTitle(kTitleStateCheck);
  C.ClearRxBuffer();
  if (!C.ReadRomVersion(false)) return;
  // The reader itself answered: it runs a firmware and only needs a plain retry.
  if (!Contains(CutRomVersion(C), kIfbMarker)) W.FUpdateResult = kResultWriteAgain;
}

// ---- stage 6: outcome -----------------------------------------------------

void TFirmwareUpdate::OutcomeStage() {
  IUi& ui = C.Ui();
  C.CloseLink();
  ui.SetStageTitle("");
  ui.SetConfirmFontSize(kOutcomeFontPoints);
  if (FSuccess != 0) {
    Log(kUpdateOkLine);
    if (FRestartAdvice) Log(kRestartAdviceLine);
    Log("");
    ui.SetConfirmHeadline(kHeadOk);
    ui.SetConfirmColor(kBlue);
    ui.SetConfirmText(kTextOk);
    ui.PlaySound(IUi::TSound::Ring);
    // The main window stays disabled until the operator has confirmed.
    ui.DisableUpdateEntries(true);
  } else {
    Log(kUpdateNgLine);
    Log("");
    ui.SetConfirmHeadline(kHeadNg);
    ui.SetConfirmColor(kRed);
    ui.SetConfirmText(kTextNg);
    ui.PlaySound(IUi::TSound::Alarm);
    ui.SetMainWindowEnabled(true);
    ui.DisableUpdateEntries(true);
    AdviceLines();
  }

  ui.BringConfirmToFront();
  Pump();
  ui.SetConfirmEnabled(true);
  ui.SetConfirmButtonEnabled(true);
  ui.WaitForOperator();
  ui.DestroyConfirm();

  ui.SetStageTitle("");
  C.SetGaugePosition(0);
  ui.SetMainWindowEnabled(true);
}

void TFirmwareUpdate::AdviceLines() {
  switch (W.FUpdateResult) {
    case kResultReWrite:
      Log(kAdvicePowerCycle);
      Log(kAdviceReWrite);
      break;
    case kResultWriteAgain:
    case kResultWrongVersion:
      Log(kAdvicePowerCycle);
      Log(kAdviceWriteAgain);
      break;
    case kResultCheckLink:
      Log(kAdviceCheckLink);
      Log(kAdvicePowerCycle);
      Log(kAdviceWriteAgain);
      break;
    default:
      break;
  }
}

// ---- version check --------------------------------------------------------

void TFirmwareUpdate::VersionCheck() {
  const std::string cut = CutRomVersion(C);
  if (Contains(cut, kFirmwareVersionText)) {
    FVersionSummary = kVersionSummaryLabel + cut;
    FSuccess = 1;
    Log(kRomVersionOk);
    W.FRomVersionText = cut;
    // The restore reads the new version from here.
    std::memcpy(C.FSavedRomVersion, C.FRomVersion, kVersionTextLength);
    C.FSavedRomVersion[kVersionTextLength] = '\0';
  } else {
    FSuccess = 0;
    Log(kRomVersionNg);
    W.FUpdateResult = kResultWrongVersion;
  }
}
