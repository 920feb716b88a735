#include "bootmonitor/BootRequests.h"

#include <algorithm>

#include "link/Checksums.h"

namespace {

void AppendHex32(TRequestBytes& out, const TWordBytes& bytes) {
  for (uint8_t b : bytes) {
    char hex[2];
    TBootRequest::ByteToHex(b, hex);
    out.push_back(static_cast<uint8_t>(hex[0]));
    out.push_back(static_cast<uint8_t>(hex[1]));
  }
}

int HexValue(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

TRequestBytes Request(char letter, uint32_t address) {
  TRequestBytes r{static_cast<uint8_t>(letter)};
  AppendHex32(r, TBootRequest::BigEndian(address));
  return r;
}

}  // namespace

void TBootRequest::ByteToHex(uint8_t value, char out[2]) {
  const auto digit = [](int n) { return static_cast<char>(n <= 9 ? '0' + n : 'A' + n - 10); };
  out[0] = digit(value >> 4);
  out[1] = digit(value & 0x0F);
}

void TBootRequest::PutBigEndian32(uint32_t value, uint8_t out[4]) {
  out[0] = static_cast<uint8_t>(value >> 24);
  out[1] = static_cast<uint8_t>(value >> 16);
  out[2] = static_cast<uint8_t>(value >> 8);
  out[3] = static_cast<uint8_t>(value);
}

TWordBytes TBootRequest::BigEndian(uint32_t value) {
  TWordBytes b;
  PutBigEndian32(value, b.data());
  return b;
}

TRequestBytes TBootRequest::WakeUp() {
  return {kEnd};
}

TRequestBytes TBootRequest::WriteWord(uint32_t address, const TWordBytes& value) {
  TRequestBytes r = Request('W', address);
  r.push_back(',');
  AppendHex32(r, value);
  r.push_back(kEnd);
  return r;
}

TRequestBytes TBootRequest::ReadWord(uint32_t address) {
  TRequestBytes r = Request('w', address);
  r.insert(r.end(), {',', '4', kEnd});
  return r;
}

TRequestBytes TBootRequest::SendFile(uint32_t address, uint32_t length) {
  TRequestBytes r = Request('S', address);
  r.push_back(',');
  AppendHex32(r, BigEndian(length));
  r.push_back(kEnd);
  return r;
}

TRequestBytes TBootRequest::Go(uint32_t address) {
  TRequestBytes r = Request('G', address);
  r.push_back(kEnd);
  return r;
}

std::array<uint8_t, TBootRequest::kBlockSize> TBootRequest::Block(const uint8_t* data, size_t size,
                                                                  size_t k) {
  std::array<uint8_t, kBlockSize> b{};
  const uint8_t number = static_cast<uint8_t>(k + 1);
  b[0] = kSoh;
  b[1] = number;
  b[2] = static_cast<uint8_t>(~number);
  const size_t start = k * kBlockData;
  const size_t take = start < size ? std::min(kBlockData, size - start) : 0;
  if (take > 0) std::copy_n(data + start, take, b.begin() + 3);  // the rest stays 0x00
  const uint16_t crc = Crc16Xmodem(b.data() + 3, kBlockData);
  b[131] = static_cast<uint8_t>(crc >> 8);
  b[132] = static_cast<uint8_t>(crc & 0xFF);
  return b;
}

uint32_t TBootRequest::ParseWord(std::span<const uint8_t> reply) {
  if (reply.size() < kWordFieldStart + kWordFieldLength)
    throw TReplyWordError("reply too short for a word");
  uint32_t value = 0;
  for (size_t i = kWordFieldStart; i < kWordFieldStart + kWordFieldLength; ++i) {
    const int n = HexValue(reply[i]);
    if (n < 0) throw TReplyWordError("reply word is not hexadecimal");
    value = (value << 4) | static_cast<uint32_t>(n);
  }
  return value;
}
