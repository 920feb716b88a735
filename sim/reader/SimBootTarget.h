// The seam between the simulated reader and whatever runs in its boot
// monitor. After the reader accepts a program-mode command it stops speaking
// the command frame and hands every further byte to its boot target; the
// target answers through the port and, when the microcontroller restarts,
// returns the reader to the command protocol, usually with the ROM version it
// finds in the flash it has written.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/SimDevice.h"

// What the reader lends its boot target while the boot monitor runs.
class ISimBootPort {
 public:
  virtual ~ISimBootPort() = default;
  virtual ISimScheduler& Scheduler() = 0;
  // Bytes towards the tool, after the reader's reply delay plus extraMs.
  virtual void Emit(const TBytes& bytes, uint32_t extraMs = 0) = 0;
  // The version the reader reports from now on (9 characters; padded with
  // blanks or cut to fit).
  virtual void SetRomVersion(const std::string& version) = 0;
  // The microcontroller restarts: after the reader's restart pause it speaks
  // the command protocol again. The port is not used by the target after this.
  virtual void Restart() = 0;
  // The link to the tool drops, as when the reader goes away mid-transfer.
  virtual void Hangup() {}
};

class ISimBootTarget {
 public:
  virtual ~ISimBootTarget() = default;
  // The reader has just entered its boot monitor.
  virtual void Enter(ISimBootPort& port) = 0;
  // Bytes from the tool while the boot monitor runs.
  virtual void Receive(const uint8_t* data, size_t count) = 0;
  // The reader left the boot monitor (after Restart, or unplugged).
  virtual void Leave() {}
};
