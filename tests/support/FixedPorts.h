// A serial port list the test sets instead of the machine's own.
#pragma once
#include <vector>

#include "link/EnumCom.h"

class TFixedPorts : public ISerialPortLister {
 public:
  bool ListPorts(std::vector<COMPPORT_NMAE>& ports) override {
    ports.insert(ports.end(), Ports.begin(), Ports.end());
    return true;
  }
  std::vector<COMPPORT_NMAE> Ports;
};
