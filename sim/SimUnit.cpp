#include "sim/SimUnit.h"

#include <cstdlib>

namespace {

// Boot monitor switches: "bm-NAME[=N]".
bool SetMonitorSwitch(TSimBootFaults& f, const std::string& setting) {
  const size_t eq = setting.find('=');
  const std::string name = setting.substr(0, eq);
  const bool hasValue = eq != std::string::npos;
  long number = 0;
  if (hasValue) {
    const std::string value = setting.substr(eq + 1);
    char* end = nullptr;
    number = std::strtol(value.c_str(), &end, 0);
    if (value.empty() || *end != '\0' || number < 0) return false;
  }
  const std::pair<const char*, int*> numbers[] = {{"bm-refuse-block", &f.RefuseBlock},
                                                  {"bm-corrupt-block", &f.CorruptBlock},
                                                  {"bm-hangup-at-block", &f.HangupAtBlock},
                                                  {"bm-bad-count-at", &f.BadByteCountAt},
                                                  {"bm-ignore-wakeups", &f.IgnoreWakeUps}};
  for (const auto& [n, field] : numbers) {
    if (name == n && hasValue) {
      *field = static_cast<int>(number);
      return true;
    }
  }
  if (name == "bm-bad-count" && hasValue) {
    f.BadByteCount = static_cast<uint32_t>(number);
    return true;
  }
  if (name == "bm-silent-after-restart" && !hasValue) {
    f.SilentAfterRestart = true;
    return true;
  }
  if (name == "bm-silent" && !hasValue) {
    f.Silent = true;
    return true;
  }
  return false;
}

}  // namespace

std::unique_ptr<TSimUnit> TSimUnit::Create(ISimScheduler& scheduler, TSimLink link,
                                           const std::vector<std::string>& switches,
                                           std::string* error) {
  TSimReaderOptions options;
  options.Link = link;
  TSimBootFaults faults;
  for (const auto& s : switches) {
    const bool ok = s.rfind("bm-", 0) == 0 ? SetMonitorSwitch(faults, s) : options.SetSwitch(s);
    if (!ok) {
      if (error) *error = "unknown or bad switch \"" + s + "\"";
      return nullptr;
    }
  }
  std::unique_ptr<TSimUnit> unit(new TSimUnit);
  unit->FTarget = std::make_unique<TSimBootMonitorTarget>(scheduler);
  unit->FTarget->FMonitor.FFaults = faults;
  // The flash carries the firmware the reader runs, so a restart without a
  // download comes back with the same version.
  unit->FTarget->FMonitor.SeedRomVersion(options.RomVersion);
  unit->FReader = std::make_unique<TSimReader>(options);
  unit->FReader->PlugBootTarget(unit->FTarget.get());
  return unit;
}

std::vector<std::string> TSimUnit::SwitchHelp() {
  std::vector<std::string> lines = TSimReaderOptions::SwitchHelp();
  const char* monitor[] = {
      "bm-refuse-block=N     the boot monitor refuses transfer block N (counted from 0)",
      "bm-corrupt-block=N    block N arrives with a flipped bit",
      "bm-hangup-at-block=N  the link drops when block N arrives",
      "bm-bad-count-at=N     applet write N reports bm-bad-count bytes written",
      "bm-bad-count=N        the byte count reported by that write",
      "bm-ignore-wakeups=N   the first N wake-ups go unanswered",
      "bm-silent-after-restart  after its restart the unit is silent until the link is reopened",
      "bm-silent             the boot monitor never answers"};
  lines.insert(lines.end(), std::begin(monitor), std::end(monitor));
  return lines;
}
