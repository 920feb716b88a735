// Where a firmware image carries its ROM version text for the simulator. The
// placeholder generator writes it; the simulated reader reads it back from
// its flash after a restart, so a wrongly written flash shows up as a wrong
// version. A product firmware need not carry it.
//
// Rule: at firmware offset 0x400 (flash offset 0x8400) stand the 8 bytes
// "$QVXROM$", followed by the 9-character ROM version text (4-digit version,
// 5-character variant, printable ASCII), e.g. "2130KRV07".
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

inline constexpr char kRomVersionMarker[] = "$QVXROM$";
inline constexpr size_t kRomVersionMarkerLength = sizeof kRomVersionMarker - 1;
inline constexpr size_t kRomVersionTextLength = 9;
inline constexpr uint32_t kRomVersionFirmwareOffset = 0x400;
inline constexpr uint32_t kFirmwareFlashOffset = 0x8000;
inline constexpr uint32_t kRomVersionFlashOffset = kFirmwareFlashOffset + kRomVersionFirmwareOffset;

// Puts marker and version at 'at' (a firmware image: kRomVersionFirmwareOffset;
// a flash image: kRomVersionFlashOffset). False when it does not fit or the
// text is not 9 printable characters.
inline bool PutRomVersionMark(uint8_t* image, size_t size, size_t at, const std::string& version) {
  if (version.size() != kRomVersionTextLength ||
      at + kRomVersionMarkerLength + kRomVersionTextLength > size)
    return false;
  for (char c : version)
    if (c < 0x20 || c > 0x7E) return false;
  std::memcpy(image + at, kRomVersionMarker, kRomVersionMarkerLength);
  std::memcpy(image + at + kRomVersionMarkerLength, version.data(), kRomVersionTextLength);
  return true;
}

// The ROM version text a flash image carries, if any.
inline std::optional<std::string> FindRomVersion(const uint8_t* flash, size_t size) {
  const size_t at = kRomVersionFlashOffset;
  if (!flash || at + kRomVersionMarkerLength + kRomVersionTextLength > size) return std::nullopt;
  if (std::memcmp(flash + at, kRomVersionMarker, kRomVersionMarkerLength) != 0) return std::nullopt;
  std::string text(reinterpret_cast<const char*>(flash + at + kRomVersionMarkerLength),
                   kRomVersionTextLength);
  for (char c : text)
    if (c < 0x20 || c > 0x7E) return std::nullopt;
  return text;
}
