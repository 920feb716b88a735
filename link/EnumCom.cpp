#include "link/EnumCom.h"

#include <algorithm>
#include <cctype>

namespace {
constexpr size_t kShortNameLength = 4;  // COMn
constexpr size_t kShortNameDigitPos = 3;

std::string SortKey(const std::string& name) {
  std::string key = name;
  if (key.size() == kShortNameLength) key.insert(kShortNameDigitPos, 1, '0');
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return key;
}
}  // namespace

int TEnumCom::EnumPorts() {
  std::vector<COMPPORT_NMAE> present;
  if (!FLister.ListPorts(present)) return 0;
  for (const auto& p : present) AddPort(p.PortName, p.DeviceDesc);
  SortPorts();
  return static_cast<int>(present.size());
}

void TEnumCom::AddPort(const std::string& portName, const std::string& deviceDesc) {
  FPorts.push_back(std::make_unique<COMPPORT_NMAE>(COMPPORT_NMAE{portName, deviceDesc}));
}

void TEnumCom::SortPorts() {
  std::stable_sort(FPorts.begin(), FPorts.end(),
                   [](const auto& a, const auto& b) { return ComparePortNames(*a, *b) < 0; });
}

void TEnumCom::ClearPorts() {
  FPorts.clear();
}

int ComparePortNames(const COMPPORT_NMAE& a, const COMPPORT_NMAE& b) {
  return SortKey(a.PortName).compare(SortKey(b.PortName));
}

std::string PortEntryText(const COMPPORT_NMAE& port) {
  return port.PortName + "(" + port.DeviceDesc + ")";
}

std::string EntryPortName(const std::string& entry) {
  return entry.substr(0, entry.find('('));
}
