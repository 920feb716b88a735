#include "link/IpAddress.h"

namespace {
constexpr uint32_t kNoAddress = 0xFFFFFFFF;
constexpr int kParts = 4;
constexpr int kMaxPartDigits = 3;
}  // namespace

bool ParseDottedAddress(const std::string& text, uint32_t* addr) {
  int parts[kParts] = {};
  size_t pos = 0;
  for (int i = 0; i < kParts; ++i) {
    if (i > 0) {
      if (pos >= text.size() || text[pos] != '.') return false;
      ++pos;
    }
    int digits = 0, value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' &&
           digits < kMaxPartDigits + 1) {
      value = value * 10 + (text[pos] - '0');
      ++digits;
      ++pos;
    }
    if (digits == 0 || digits > kMaxPartDigits || value > 255) return false;
    parts[i] = value;
  }
  if (pos != text.size()) return false;
  if (addr) *addr = MakeAddr(parts[0], parts[1], parts[2], parts[3]);
  return true;
}

uint32_t DottedToAddr(const std::string& text) {
  uint32_t addr = kNoAddress;
  return ParseDottedAddress(text, &addr) ? addr : kNoAddress;
}

std::string AddrToDotted(uint32_t addr) {
  return std::to_string(AddrByte(addr, 0)) + "." + std::to_string(AddrByte(addr, 1)) + "." +
         std::to_string(AddrByte(addr, 2)) + "." + std::to_string(AddrByte(addr, 3));
}
