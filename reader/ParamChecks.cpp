// The region checks of the parameter restore: regions the reader's factory
// defaults leave empty get their default contents.
#include <algorithm>
#include <cstring>
#include <vector>

#include "link/FlashWrRXCont.h"
#include "reader/ParamSteps.h"

using ParamSteps::Tried;

namespace {

enum TStatus : uint32_t { kNotDone = 0, kWritten = 1, kFoundSet = 2 };

constexpr int kWord351 = 351;
constexpr int kWord351MarkByte = 2;
constexpr uint8_t kWord351Mark = 0xFF;
constexpr int kWord353 = 353;
constexpr int kWord354 = 354;
constexpr uint8_t kWordByteDefault = 20;
constexpr int kWord33 = 33;
constexpr int kRecord480 = 480;
constexpr int kTables483 = 483;  // byte address 0x078C
constexpr int kTables499 = 499;  // 0x07CC
constexpr int kTableBytes = 64;
constexpr int kTableGroups = 10;
constexpr uint8_t kFillValue = 24;
// Check 4's blocks: 0x080C, 0x084C, 0x088C, 0x08CC (64 bytes), 0x090C (4 bytes).
constexpr int kFillWords[] = {515, 531, 547, 563, 579};
constexpr int kFillBytes[] = {64, 64, 64, 64, 4};
// Each read or write of checks 1 to 4 is tried once more when it fails.
constexpr int kCheckTries = 2;

struct TBlock {
  int Word;
  std::vector<uint8_t> Data;
};

bool AllZero(const std::vector<uint8_t>& b) {
  return std::all_of(b.begin(), b.end(), [](uint8_t v) { return v == 0; });
}

bool ReadAll(TFlashWrRXCont& c, int word, std::vector<uint8_t>& out) {
  return ParamSteps::ReadAll(c, word, out.data(), static_cast<int>(out.size()));
}

// The region write of checks 1 to 4: block write, acknowledgement, read-back.
bool WriteAndCompare(TFlashWrRXCont& c, const TBlock& b) {
  return c.WriteParamBlockVerified(b.Word, b.Data.data(), static_cast<int>(b.Data.size()),
                                   TFlashWrRXCont::kRegionWriteAckTimeoutMs) == 1;
}

// Checks 2 to 4: the region counts as set when any byte of any block is not
// 0; otherwise every block is written with its default and read back.
uint32_t EnsureRegion(TFlashWrRXCont& c, const std::vector<TBlock>& blocks) {
  std::vector<std::vector<uint8_t>> read;
  const bool readOk = Tried(kCheckTries, [&] {
    read.clear();
    for (const TBlock& b : blocks) {
      read.emplace_back(b.Data.size());
      if (!ReadAll(c, b.Word, read.back())) return false;
    }
    return true;
  });
  if (!readOk) return kNotDone;
  if (!std::all_of(read.begin(), read.end(), AllZero)) return kFoundSet;
  const bool written = Tried(kCheckTries, [&] {
    return std::all_of(blocks.begin(), blocks.end(),
                       [&](const TBlock& b) { return WriteAndCompare(c, b); });
  });
  return written ? kWritten : kNotDone;
}

// Checks 5 and 6: two bytes of a word must not be 0; those that are get 20.
int EnsureWordBytes(TFlashWrRXCont& c, int word, int first) {
  uint8_t w[TFlashWrRXCont::kParamWordBytes];
  if (!c.ReadParamBlock(word, w, sizeof w)) return kNotDone;
  if (w[first] != 0 && w[first + 1] != 0) return kFoundSet;
  for (int i = first; i < first + 2; ++i)
    if (w[i] == 0) w[i] = kWordByteDefault;
  uint8_t back[sizeof w];
  if (!c.WriteParamBlock(word, w, sizeof w) || !c.ReadParamBlock(word, back, sizeof back))
    return kNotDone;
  return std::memcmp(w, back, sizeof w) == 0 ? kWritten : kNotDone;
}

std::vector<uint8_t> Check3Tables() {
  std::vector<uint8_t> t(4, 0);
  for (int n = 1; n <= kTableGroups; ++n) {
    const uint8_t group[] = {0x00, 0x00, 0x00, 0x00, static_cast<uint8_t>(n), 0x00, 0x76, 0xFD,
                             0xFF, 0xFF, 0xFF, 0xFF};
    t.insert(t.end(), std::begin(group), std::end(group));
  }
  t.insert(t.end(), 4, 0);
  return t;  // 128 bytes: the first 64 at word 483, the rest at word 499
}

}  // namespace

int TFlashWrRXCont::EnsureWord351() {
  std::vector<uint8_t> w(kParamWordBytes);
  uint32_t status = kNotDone;
  if (Tried(kCheckTries, [&] { return ReadAll(*this, kWord351, w); })) {
    if (w[kWord351MarkByte] != 0) {
      status = kFoundSet;
    } else {
      w[kWord351MarkByte] = kWord351Mark;
      const bool written = Tried(kCheckTries, [&] {
        return WriteParamBlockAck(kWord351, w.data(), kParamWordBytes, kRegionWriteAckTimeoutMs);
      });
      std::vector<uint8_t> back(kParamWordBytes);
      if (written && ReadAll(*this, kWord351, back) && back[kWord351MarkByte] != 0 && back == w)
        status = kWritten;
    }
  }
  FCheckStatus[0] = status;
  return static_cast<int>(status);
}

int TFlashWrRXCont::EnsureBlock480() {
  const std::vector<uint8_t> record = {0x00, 0x02, 0x00, 0x00, 0x01, 0x00,
                                       0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  FCheckStatus[1] = EnsureRegion(*this, {{kRecord480, record}});
  return static_cast<int>(FCheckStatus[1]);
}

int TFlashWrRXCont::EnsureTables483() {
  const std::vector<uint8_t> t = Check3Tables();
  FCheckStatus[2] = EnsureRegion(*this, {{kTables483, {t.begin(), t.begin() + kTableBytes}},
                                         {kTables499, {t.begin() + kTableBytes, t.end()}}});
  return static_cast<int>(FCheckStatus[2]);
}

int TFlashWrRXCont::EnsureFill515() {
  std::vector<TBlock> blocks;
  for (size_t i = 0; i < std::size(kFillWords); ++i)
    blocks.push_back({kFillWords[i], std::vector<uint8_t>(kFillBytes[i], kFillValue)});
  // The first word of the fill stays 0.
  std::fill_n(blocks[0].Data.begin(), kParamWordBytes, uint8_t{0});
  FCheckStatus[3] = EnsureRegion(*this, blocks);
  return static_cast<int>(FCheckStatus[3]);
}

int TFlashWrRXCont::EnsureWord353() {
  return EnsureWordBytes(*this, kWord353, 2);
}

int TFlashWrRXCont::EnsureWord354() {
  return EnsureWordBytes(*this, kWord354, 0);
}

int TFlashWrRXCont::ReadWord33() {
  uint8_t w[kParamWordBytes];
  return ReadParamBlock(kWord33, w, sizeof w) ? kFoundSet : kNotDone;
}
