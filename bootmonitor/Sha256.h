// SHA-256 (FIPS 180-4), used to check the embedded images against the
// digests the build recorded for them.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class TSha256 {
 public:
  using TDigest = std::array<uint8_t, 32>;

  TSha256() { Reset(); }
  void Reset();
  void Update(const uint8_t* data, size_t count);
  // Finishes the message; the object must be Reset before it is used again.
  TDigest Final();

  // Digest of one buffer as 64 lower-case hexadecimal digits.
  static std::string Hex(const uint8_t* data, size_t count);
  static std::string ToHex(const TDigest& digest);

 private:
  void Block(const uint8_t* p);

  uint32_t FState[8];
  uint8_t FBuffer[64];
  size_t FBuffered;
  uint64_t FLength;  // bytes hashed so far
};
