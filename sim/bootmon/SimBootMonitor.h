// The reader's boot monitor and its flash-writing applet, simulated: the
// device side of the ASCII requests ("#", W, w, S, G), the block receiver
// with its CRC check, and the applet's mailbox (initialise, write a chunk
// into the flash, end) over a simulated flash.
//
// It is not a device by itself: the simulated reader hands it bytes after an
// accepted program-mode command and takes its replies through OnEmit; a
// restart word makes it raise OnRestart, after which the reader runs again
// and reads its version from the flash (FindRomVersion). TSimBootMonitorDevice
// wraps it as a device of its own for tests.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sim/SimDevice.h"
#include "sim/bootmon/RomVersionMark.h"

// Faults, as named switches. Block and write numbers count from 0 over the
// life of the monitor.
struct TSimBootFaults {
  int RefuseBlock = -1;             // this block is answered with NAK whatever it holds
  int CorruptBlock = -1;            // this block arrives with a flipped bit: its CRC check fails
  int HangupAtBlock = -1;           // the link drops when this block arrives
  int BadByteCountAt = -1;          // this applet write reports BadByteCount bytes written
  uint32_t BadByteCount = 0;        //   (it writes the whole chunk all the same)
  uint32_t GarbledWordAddress = 0;  // non-zero: reads of this word answer a non-hex digit
  int IgnoreWakeUps = 0;            // this many wake-ups ("#") go unanswered
  bool SilentAfterRestart = false;  // after the restart word nothing answers until a power cycle
  bool Silent = false;              // the monitor never answers (it was never entered)
};

class TSimBootMonitor {
 public:
  static constexpr uint32_t kFlashBase = 0x00400000;
  static constexpr uint32_t kDefaultFlashSize = 0x80000;  // 512 KiB
  static constexpr uint32_t kRamBase = 0x20000000;
  static constexpr uint32_t kRamSize = 0x20000;  // 128 KiB
  static constexpr uint8_t kErased = 0xFF;

  static constexpr uint32_t kAppletAddress = 0x20000800;
  static constexpr uint32_t kMailbox = 0x20000840;  // command, status, argument 0..2
  static constexpr uint32_t kRestartRegister = 0x400E1400;
  static constexpr uint32_t kRestartKey = 0xA500000D;

  enum class TState { Command, Receiving, Running, Restarting, Off, Crashed };

  TSimBootMonitor(ISimScheduler& scheduler, uint32_t flashSize = kDefaultFlashSize);
  ~TSimBootMonitor();
  TSimBootMonitor(const TSimBootMonitor&) = delete;
  TSimBootMonitor& operator=(const TSimBootMonitor&) = delete;

  // Bytes from the tool.
  void Receive(const uint8_t* data, size_t count);
  // The reader has switched into its boot monitor: idle, waiting for requests.
  void Enter();
  // Power off and on: a monitor left silent after its restart word restarts now.
  void PowerCycle();

  TBytes& Flash() { return FFlash; }
  const TBytes& Flash() const { return FFlash; }
  // Writes marker and version into the flash, as an installed firmware would carry it.
  bool SeedRomVersion(const std::string& version);
  std::optional<std::string> RomVersion() const {
    return FindRomVersion(FFlash.data(), FFlash.size());
  }
  uint32_t PeekWord(uint32_t address) const;
  TState State() const { return FState; }

  // Replies towards the tool, with a delay beyond the owner's reply delay.
  std::function<void(const TBytes& bytes, uint32_t extraMs)> OnEmit;
  // The microcontroller restarted: the reader firmware runs from now on.
  std::function<void()> OnRestart;
  // The link drops (HangupAtBlock).
  std::function<void()> OnHangup;

  TSimBootFaults FFaults;
  // What the applet reports after initialisation.
  uint32_t FBufferAddress = 0x20002000;
  uint32_t FBufferSize = 0x8000;  // 32 KiB chunks: a dozen applet runs for the default image
  // Timing model, ms.
  uint32_t FRestartDelayMs = 200;  // from the restart word to the reader answering
  uint32_t FAppletRunMs = 5;       // an applet command, plus 1 ms per KiB written
  uint32_t FBlockStallMs = 1000;   // a block left incomplete this long is dropped

  // What happened, for tests.
  int FBlocksReceived = 0;  // blocks whose CRC was checked (the fault counter)
  int FTransfersDone = 0;   // transfers ended with EOT
  int FAppletWrites = 0;
  int FRestarts = 0;
  int FBadRequests = 0;                       // requests the monitor could not parse
  std::vector<std::string> FBadRequestLines;  // and their text
  int FWakeUps = 0;                           // "#" wake-ups, answered or not
  // (flash offset, byte count) of every applet write command run.
  std::vector<std::pair<uint32_t, uint32_t>> FWriteLog;
  bool FAppletLoaded = false;
  bool FAppletInitialised = false;
  bool FAppletEnded = false;

 private:
  void CommandByte(uint8_t b);
  void Request(const std::string& text);
  void ReceiveByte(uint8_t b);
  void BlockComplete();
  void EndTransfer();
  void Go(uint32_t address);
  uint32_t RunApplet();
  void Restart();
  void Emit(const std::string& text, uint32_t extraMs = 0);
  void EmitByte(uint8_t b);

  bool InRam(uint32_t address, uint32_t count) const;
  void WriteWord(uint32_t address, uint32_t value);
  uint32_t ReadWord(uint32_t address) const;

  ISimScheduler& FScheduler;
  std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
  TState FState = TState::Command;
  TBytes FFlash;
  TBytes FRam;
  std::map<uint32_t, uint32_t> FRegisters;  // words outside RAM and flash
  std::string FLine;                        // request text up to "#"

  // The transfer in progress.
  uint32_t FRxAddress = 0;
  uint32_t FRxLength = 0;
  uint32_t FRxBlock = 0;  // blocks stored so far
  TBytes FBlock;
  uint64_t FBlockGeneration = 0;
  uint32_t FAppletLength = 0;
};

// The boot monitor alone on a link, for tests: it starts entered.
class TSimBootMonitorDevice : public TSimDevice {
 public:
  explicit TSimBootMonitorDevice(ISimScheduler& scheduler,
                                 uint32_t flashSize = TSimBootMonitor::kDefaultFlashSize);
  void Receive(const uint8_t* data, size_t count) override {
    FReceived.insert(FReceived.end(), data, data + count);
    FMonitor.Receive(data, count);
  }
  // A closed and reopened link is the operator's power cycle.
  void LinkOpened() override;
  void LinkClosed() override { FClosed = true; }

  TSimBootMonitor FMonitor;
  TBytes FReceived;  // every byte from the tool

 private:
  bool FClosed = false;
};
