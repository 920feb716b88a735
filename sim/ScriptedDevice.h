// A device driven by a test: it records what the tool sent and answers with
// whatever the test's handler says. Enough to exercise the links.
#pragma once
#include <functional>

#include "sim/SimDevice.h"

class TScriptedDevice : public TSimDevice {
 public:
  void Receive(const uint8_t* data, size_t count) override {
    FReceived.insert(FReceived.end(), data, data + count);
    if (OnReceive) OnReceive(*this, TBytes(data, data + count));
  }
  void LinkOpened() override { ++FOpenCount; }
  void LinkClosed() override { ++FCloseCount; }

  // Answer (after the reply delay plus extraMs).
  void Reply(const TBytes& bytes, uint32_t extraMs = 0) { Send(bytes, extraMs); }
  void Drop() { Hangup(); }

  std::function<void(TScriptedDevice&, const TBytes&)> OnReceive;
  TBytes FReceived;
  int FOpenCount = 0;
  int FCloseCount = 0;
};
