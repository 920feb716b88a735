#include "link/PortNames.h"

#include <array>
#include <cstdlib>

namespace {
struct TFamily {
  const char* Prefix;
  int Base;
};
// Ranges of 256 numbers each.
constexpr std::array<TFamily, 4> kFamilies{
    {{"ttyS", 1}, {"ttyUSB", 257}, {"ttyACM", 513}, {"pts/", 769}}};
constexpr int kFamilySize = 256;

// A decimal number of 1..9 digits, else -1.
int ParseDecimal(const std::string& s) {
  if (s.empty() || s.size() > 9) return -1;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return -1;
    v = v * 10 + (c - '0');
  }
  return v;
}
}  // namespace

std::string ComPortName(int number) {
#ifdef _WIN32
  return "COM" + std::to_string(number);
#else
  for (const auto& f : kFamilies)
    if (number >= f.Base && number < f.Base + kFamilySize)
      return f.Prefix + std::to_string(number - f.Base);
  return "COM" + std::to_string(number);  // no device: the open fails with this name
#endif
}

int ComPortNumber(const std::string& name) {
  if (name.size() > 3 && (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "com") == 0)) {
    const int n = ParseDecimal(name.substr(3));
    return n < 0 ? 0 : n;
  }
  std::string base = name;
  if (base.compare(0, 5, "/dev/") == 0) base = base.substr(5);
  for (const auto& f : kFamilies) {
    const std::string prefix = f.Prefix;
    if (base.compare(0, prefix.size(), prefix) != 0) continue;
    const int k = ParseDecimal(base.substr(prefix.size()));
    if (k >= 0 && k < kFamilySize) return f.Base + k;
  }
  return 0;
}
