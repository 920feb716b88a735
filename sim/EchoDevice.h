// A stand-in device for qvxsim: answers every chunk of bytes with the same
// bytes after the reply delay (at the line rate when throttled).
#pragma once
#include "sim/SimDevice.h"

class TEchoDevice : public TSimDevice {
 public:
  void Receive(const uint8_t* data, size_t count) override { Send(TBytes(data, data + count)); }
};
