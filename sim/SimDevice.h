// The simulated device side: a byte-in/byte-out state machine with a timing
// model. It knows nothing of the tool's code; transports carry its bytes over
// an in-process link, a pseudo-terminal or TCP.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

using TBytes = std::vector<uint8_t>;

// Time as the device sees it: virtual in tests, the event loop for real links.
class ISimScheduler {
 public:
  virtual ~ISimScheduler() = default;
  virtual uint64_t NowMs() = 0;
  virtual void After(uint32_t ms, std::function<void()> fn) = 0;
};

// Where the device's bytes go (towards the tool).
class ISimWire {
 public:
  virtual ~ISimWire() = default;
  virtual void Emit(const uint8_t* data, size_t count) = 0;
  // The device drops the connection (TCP) or goes away (serial).
  virtual void Hangup() {}
};

class TSimDevice {
 public:
  virtual ~TSimDevice() = default;

  void Attach(ISimScheduler* scheduler, ISimWire* wire);
  void Detach() { FWire = nullptr; }

  // Bytes from the tool.
  virtual void Receive(const uint8_t* data, size_t count) = 0;
  // The tool opened or closed the link (a closed and reopened link is how a
  // power cycle of a silent reader looks from here).
  virtual void LinkOpened() {}
  virtual void LinkClosed() {}
  virtual void BaudRateChanged(int bps) { FBaudRate = bps; }

  // Delay before each reply starts, in ms.
  uint32_t FReplyDelayMs = 1;
  // When set, replies leave at the line rate: 10 bits a byte at FBaudRate.
  bool FThrottle = false;
  int FBaudRate = 115200;

 protected:
  // Queue bytes towards the tool after the reply delay plus extraMs; replies
  // never overtake each other.
  void Send(const TBytes& bytes, uint32_t extraMs = 0);
  ISimScheduler* Scheduler() { return FScheduler; }
  void Hangup() {
    if (FWire) FWire->Hangup();
  }

 private:
  ISimScheduler* FScheduler = nullptr;
  ISimWire* FWire = nullptr;
  uint64_t FLineFreeAt = 0;
};
