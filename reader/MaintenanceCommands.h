// The reader's settings memory as the maintenance commands address it: a
// selector byte names an area, an index byte the first word, a count the
// number of 16-bit words.
#pragma once
#include <cstdint>

namespace Maintenance {

// Selectors.
constexpr uint8_t kSelArea0 = 0x00;
constexpr uint8_t kSelArea1 = 0x01;
constexpr uint8_t kSelArea2 = 0x02;
constexpr uint8_t kSelArea3 = 0x03;
constexpr uint8_t kSelFactory = 0xFE;  // factory initial data
constexpr uint8_t kSelAllData = 0xFF;  // areas 0 to 3 in sequence

// Detail codes of the settings and power commands.
constexpr uint8_t kDetailAreaRead0 = 0x70;
constexpr uint8_t kDetailAreaRead1 = 0x72;
constexpr uint8_t kDetailAreaRead2 = 0x73;
constexpr uint8_t kDetailSelectorRW = 0x83;  // writes, and reads that carry the selector
constexpr uint8_t kDetailChipRead = 0x7C;    // the reader chip's (RC663) settings
constexpr uint8_t kDetailInit = 0x71;
constexpr uint8_t kDetailTxOnOff = 0x9E;
constexpr uint8_t kDetailPower = 0x84;

struct TEepromSelector {
  uint8_t ReadDetail;
  const char* ReadLabel;
  const char* WriteLabel;
};

// What a selector reads with and how its dumps are labelled; any selector
// not listed names the reader chip's settings.
const TEepromSelector& EepromSelector(uint8_t selector);

// A read sends the selector after its detail code only with detail 0x83.
inline bool ReadCarriesSelector(uint8_t readDetail) {
  return readDetail == kDetailSelectorRW;
}

}  // namespace Maintenance
