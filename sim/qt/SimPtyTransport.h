// Carries a device over a pseudo-terminal: the simulator holds the master,
// the tool opens the slave (/dev/pts/N) like any serial port. The tool
// opening the slave links the device (LinkOpened), closing it unlinks it
// (LinkClosed): a closed and reopened port is how a power cycle of a silent
// reader looks from here.
#pragma once
#include <QSocketNotifier>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "sim/SimDevice.h"

class TSimPtyTransport : public ISimWire {
 public:
  // Poll for the tool opening the slave, while nobody has it open and opens
  // cannot be watched (a closed slave makes the master report a hang-up on
  // every pass of the event loop, so no notifier can be left on then).
  static constexpr int kClosedPollMs = 20;
  // How often the slave's line speed is read while the link is up (it is
  // read before every delivery of bytes too).
  static constexpr int kSpeedPollMs = 100;

  TSimPtyTransport(TSimDevice& device, ISimScheduler& scheduler);
  ~TSimPtyTransport() override;
  TSimPtyTransport(const TSimPtyTransport&) = delete;
  TSimPtyTransport& operator=(const TSimPtyTransport&) = delete;

  // Creates the pseudo-terminal. With watchOpens the opens and closes of the
  // slave are followed through inotify, which also catches a close and
  // reopen in quick succession and lets the simulator drop bytes the tool
  // left unread; without it (or without inotify) a closed slave is seen as
  // the master's hang-up.
  bool Open(bool watchOpens = true);
  const std::string& SlavePath() const { return FSlavePath; }
  const std::string& ErrorText() const { return FError; }
  bool LinkUp() const { return FLinkUp; }
  bool WatchingOpens() const { return FInotify >= 0; }

  void Emit(const uint8_t* data, size_t count) override;
  // The device goes away: silent until the tool closes and reopens the port.
  void Hangup() override;

  // Link events as text for the log ("link opened", "line speed 19200", ...).
  std::function<void(const std::string&)> OnEvent;

 private:
  void ReadWatch();
  void ReadMaster();
  void PollClosed();
  void SlaveOpened();
  void SlaveClosed(bool deliverPending);
  void LinkOpen();
  void LinkClose();
  void CheckSpeed();
  void FlushOut();
  void Event(const std::string& text);

  TSimDevice& FDevice;
  ISimScheduler& FScheduler;
  int FMaster = -1;
  // A slave descriptor of our own (watch mode only): the master then never
  // hangs up, and bytes the tool left unread can be flushed when it closes.
  int FHeldSlave = -1;
  int FInotify = -1;
  std::string FSlavePath;
  std::string FError;
  std::unique_ptr<QSocketNotifier> FReadNotifier;
  std::unique_ptr<QSocketNotifier> FWriteNotifier;
  std::unique_ptr<QSocketNotifier> FWatchNotifier;
  QTimer FPollTimer;
  QTimer FSpeedTimer;
  int FOpenCount = 0;  // opens of the slave by others, in watch mode
  bool FSlaveOpen = false;
  bool FLinkUp = false;
  bool FInWatch = false;
  int FSpeed = 0;
  TBytes FOut;
};
