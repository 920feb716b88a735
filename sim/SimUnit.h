// A whole simulated unit as qvxsim and the tool's --simulate serve it: the
// reader with its interface board and parameter memory, and its boot monitor
// with the flash-writing applet plugged in behind program mode.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "sim/bootmon/SimBootMonitorTarget.h"
#include "sim/reader/SimReader.h"

class TSimUnit {
 public:
  // Switches are "name[=value]" as SwitchHelp lists them; on a bad one the
  // result is null and error names it.
  static std::unique_ptr<TSimUnit> Create(ISimScheduler& scheduler, TSimLink link,
                                          const std::vector<std::string>& switches,
                                          std::string* error);
  static std::vector<std::string> SwitchHelp();

  TSimReader& Reader() { return *FReader; }
  TSimBootMonitor& Monitor() { return FTarget->FMonitor; }

 private:
  TSimUnit() = default;
  std::unique_ptr<TSimBootMonitorTarget> FTarget;
  std::unique_ptr<TSimReader> FReader;
};
