// The firmware update: the update command and the run from the old firmware
// to a large OK or NG. Plain C++ over the controller, so that it runs in the
// window, on the command line and in virtual time alike; the operator is
// reached through IUi, time through IHost.
#pragma once
#include <cstdint>
#include <string>

#include "link/ComPara.h"

class TFlashWrRXCont;

// The main window's fields the update reads and writes.
struct TUpdateWindowFields {
  int32_t& FUpdateResult;
  // Kept whole: port numbers run past 255 (COM256, ttyUSB*, pts/*).
  int32_t& FComPortNumber;
  const tagTCPIPPara& FLastTcpPara;
  std::string& FRomVersionText;
};

// What a run ended with.
struct TUpdateOutcome {
  bool Ran = false;  // false: refused (no accepted reader, or a run is going on)
  bool Ok = false;
  int32_t Result = 0;  // FUpdateResult
};

// The update command's handler (tool button, Ctrl+U, F9): refuses with the
// controller's FMessageText unless the reader was accepted, else runs the update.
TUpdateOutcome TB_WriteClick(TFlashWrRXCont& cont, const TUpdateWindowFields& fields);

// One whole run. Never throws; the outcome is also in the log, the dialog,
// the sound, FUpdateResult and the disabled update command.
TUpdateOutcome RunFirmwareUpdate(TFlashWrRXCont& cont, const TUpdateWindowFields& fields);

class TFirmwareUpdate {
 public:
  // Pauses of the sequence, in ms.
  static constexpr uint32_t kAfterConfirmPauseMs = 1000;  // after the power-cycle confirmation
  static constexpr uint32_t kTcpVersionPauseMs = 1000;    // between the reconnect's two queries
  static constexpr uint32_t kVersionSettlePauseMs = 500;  // before the version is read again
  static constexpr uint32_t kBootReleasePauseMs = 6500;   // before the board is released
  static constexpr uint32_t kIfbRestartPauseMs = 2000;    // after the board's restart
  // Label1's font size during the stages and for the outcome, in points.
  static constexpr int kStageFontPoints = 18;
  static constexpr int kOutcomeFontPoints = 72;
  static constexpr uint32_t kBlue = 0x0000FF;
  static constexpr uint32_t kRed = 0xFF0000;
  // The ROM version text is this long; a good one contains the version text.
  static constexpr int kVersionTextLength = 9;

  TFirmwareUpdate(TFlashWrRXCont& cont, const TUpdateWindowFields& fields);
  TUpdateOutcome Run();

  // Values of one run (kept after it for tests).
  int32_t FSuccess = 1;
  int32_t FRestartAdvice = 0;
  std::string FVersionSummary;

 private:
  void Log(const std::string& line);
  void Pump();
  void PrepareStage();
  // False when the download or its end processing failed.
  bool DownloadStage();
  void ImmediateVersionStage();
  void ManualRestartStage();
  void ReopenLinkAfterPowerCycle();
  void BootReleaseStage();
  void ReopenTcpLink();
  void StateCheckOrRestoreStage();
  void RwStateCheck();
  void OutcomeStage();
  void AdviceLines();
  void VersionCheck();

  TFlashWrRXCont& C;
  TUpdateWindowFields W;
};
