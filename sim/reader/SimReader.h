// The simulated QVX-K417 reader and the interface board in front of it.
//
// The reader parses request frames byte by byte and answers through a
// dispatch table keyed by command letter and detail code; later work adds
// its own commands (parameter memory, maintenance) with RegisterReaderCommand.
// After an accepted program-mode command the reader is in its boot monitor:
// further bytes go to the plugged boot target (ignored while none is
// plugged) until the target restarts the microcontroller.
//
// The interface board cuts the frames with letter E out of the stream and
// passes every other byte to the reader. Over TCP the tool always talks
// through it. Over USB serial the port is the reader's own, so by default no
// board is in the path and E frames reach the reader, which refuses them like
// any command it does not know; BoardOnSerial models a unit whose USB port
// runs through the board.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "sim/SimDevice.h"
#include "sim/reader/SimBootTarget.h"
#include "sim/reader/SimParamMemory.h"
#include "sim/reader/SimReaderFrame.h"
#include "sim/reader/SimSettingsMemory.h"

enum class TSimLink { Serial, Tcp };

struct TSimReaderOptions {
  // Identity.
  std::string RomVersion = "2120KRV07";
  std::string ModelName = "QVX-K417      ";
  std::string IfbRomVersion = "1022IFB01";
  uint16_t IfbModeWord = 0x0012;

  // How the tool reaches the reader (see above).
  TSimLink Link = TSimLink::Serial;
  bool BoardOnSerial = false;

  // Timing, in ms.
  uint32_t RestartPauseMs = 500;   // reader deaf while its microcontroller restarts
  uint32_t BoardRestartMs = 1500;  // board deaf after acknowledging its restart
  // Over TCP the restarting board drops the link this long after its ack:
  // after the tool's half-second pause before it reads the ack, since the
  // in-process link loses bytes still unread when the device hangs up.
  uint32_t BoardHangupMs = 800;

  // Faults.
  bool NoReader = false;     // the reader never answers (the board still does)
  bool WrongModel = false;   // the reader reports another model's name
  bool OldBoard = false;     // the board reports version 1021
  bool BadChecksum = false;  // every answer frame carries a wrong sum
  bool Silent = false;       // neither reader nor board answers anything
  bool SilentAfterRestart =
      false;  // after a boot-monitor restart: silent until the link is reopened
  // After a boot-monitor restart: one ROM version answer (the end processing's),
  // then silent until the link is reopened (the operator's power cycle).
  bool SilentAfterFirstVersion = false;
  TBytes LeadingBytes;  // sent before every answer frame (stray bytes, garbage)
  // Commands answered with a refusal status: (letter, detail), detail -1 for all.
  std::set<std::pair<uint8_t, int>> Refused;
  // The parameter memory's acknowledgement layout and faults.
  TSimParamOptions Param;
  // The settings memory's power values and faults.
  TSimSettingsOptions Settings;

  void Refuse(uint8_t letter, int detail = -1) { Refused.insert({letter, detail}); }
  bool IsRefused(const TSimRequest& request) const;
  // Sets a fault or option by name, e.g. "no-reader", "refuse=U:FE",
  // "rom-version=2130KRV07"; false for an unknown name or a bad value.
  bool SetSwitch(const std::string& setting);
  // One line per switch, for usage texts.
  static std::vector<std::string> SwitchHelp();
};

// What a command handler answers.
struct TSimReply {
  bool Answer = true;  // false: no answer at all
  uint8_t Status = SimFrame::kAccepted;
  TBytes Data;
  // Carried out after the answer is queued, and only when it accepts the
  // command (so a refusal fault leaves the device unchanged).
  std::function<void()> Effect;
  // The answer's checksum is spoiled.
  bool BadSum = false;
};

using TSimHandler = std::function<TSimReply(const TSimRequest&)>;

class TSimReader : public TSimDevice {
 public:
  enum class TState { Command, BootMonitor, Restarting, SilentUntilPowerCycle };

  // Detail code for handlers of letters whose first data byte is no detail code.
  static constexpr int kAnyDetail = -1;
  // A name reported by the wrong-model fault; a version by the old-board fault.
  static constexpr const char* kOtherModelName = "QVX-K316      ";
  static constexpr const char* kOldBoardVersion = "1021IFB01";
  static constexpr int kVersionLength = 9;

  explicit TSimReader(TSimReaderOptions options = {});
  ~TSimReader() override;

  void Receive(const uint8_t* data, size_t count) override;
  void LinkOpened() override;
  void LinkClosed() override;

  // Handlers looked up by (letter, detail), then (letter, kAnyDetail).
  void RegisterReaderCommand(uint8_t letter, int detail, TSimHandler handler);
  void RegisterBoardCommand(int detail, TSimHandler handler);

  // The boot monitor's program; nullptr unplugs it.
  void PlugBootTarget(ISimBootTarget* target);

  TState State() const { return FState; }
  const std::string& RomVersion() const { return FRomVersion; }
  void SetRomVersion(const std::string& version);
  uint16_t IfbModeWord() const { return FIfbModeWord; }
  bool BoardPassThrough() const { return FBoardPassThrough; }
  bool BoardInPath() const;
  TSimParamMemory& ParamMemory() { return FParamMemory; }
  TSimSettingsMemory& SettingsMemory() { return FSettingsMemory; }
  // Frames dropped for a bad ETX, CR or sum, by reader and board.
  int BadFrames() const { return FParser.BadFrames() + FTap.BadFrames(); }

  TSimReaderOptions FOptions;
  // Set by a restart when SilentAfterFirstVersion is on.
  bool FSilenceAfterNextVersion = false;
  // Requests as the reader and the board took them, for tests.
  std::vector<TSimRequest> FReaderRequests;
  std::vector<TSimRequest> FBoardRequests;
  // Data of the last accepted operation-mode command.
  TBytes FOperationMode;

 private:
  class TBootPort;

  void RegisterReaderCommands();
  void RegisterBoardCommands();
  void ReaderReceive(const uint8_t* data, size_t count);
  void Dispatch(const std::map<std::pair<uint8_t, int>, TSimHandler>& table,
                const TSimRequest& request);
  void SendAnswer(uint8_t status, const TBytes& data, bool badSum = false);
  void EnterBootMonitor();
  void RestartFromBoot();
  void RestartBoard();
  void After(uint32_t ms, std::function<void()> fn);

  TSimParamMemory FParamMemory{FOptions.Param};
  TSimSettingsMemory FSettingsMemory{FOptions.Settings};
  TState FState = TState::Command;
  std::string FRomVersion;
  uint16_t FIfbModeWord = 0;
  bool FBoardPassThrough = false;
  uint64_t FBoardDeafUntil = 0;
  uint64_t FLastReaderByteAt = 0;
  uint64_t FTapGeneration = 0;
  uint64_t FRestartGeneration = 0;
  uint64_t FLinkGeneration = 0;
  TSimFrameParser FParser;
  TSimBoardTap FTap;
  std::map<std::pair<uint8_t, int>, TSimHandler> FReaderCommands;
  std::map<std::pair<uint8_t, int>, TSimHandler> FBoardCommands;
  ISimBootTarget* FBootTarget = nullptr;
  std::unique_ptr<TBootPort> FBootPort;
  // Scheduled events check it, so none runs after the reader is gone.
  std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
};
