// Dotted IPv4 text to and from a 32-bit address kept in network byte order:
// the first byte of the dotted form in the lowest byte.
#pragma once
#include <cstdint>
#include <string>

// True for exactly four decimal parts of 0..255 ("192.168.1.7").
bool ParseDottedAddress(const std::string& text, uint32_t* addr);
// The address of dotted text; 255.255.255.255 for text that is not one.
uint32_t DottedToAddr(const std::string& text);
std::string AddrToDotted(uint32_t addr);
// Byte i (0 = first of the dotted form).
inline int AddrByte(uint32_t addr, int i) {
  return static_cast<int>((addr >> (8 * i)) & 0xFF);
}
inline uint32_t MakeAddr(int b0, int b1, int b2, int b3) {
  return static_cast<uint32_t>(b0 & 0xFF) | static_cast<uint32_t>(b1 & 0xFF) << 8 |
         static_cast<uint32_t>(b2 & 0xFF) << 16 | static_cast<uint32_t>(b3 & 0xFF) << 24;
}
