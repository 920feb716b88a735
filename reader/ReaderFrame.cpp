#include "reader/ReaderFrame.h"

#include <algorithm>
#include <cstddef>

#include "link/Checksums.h"

namespace ReaderFrame {

TBytes BuildRequest(uint8_t letter, const TBytes& data) {
  if (data.size() > static_cast<size_t>(kMaxData)) return {};
  TBytes f;
  f.reserve(data.size() + kOverhead);
  f.push_back(kStx);
  f.push_back(kAddress);
  f.push_back(letter);
  f.push_back(static_cast<uint8_t>(data.size()));
  f.insert(f.end(), data.begin(), data.end());
  f.push_back(kEtx);
  f.push_back(RangeSum(f.data(), 0, static_cast<uint16_t>(f.size())));
  f.push_back(kCr);
  return f;
}

uint16_t TStatusAnswer::WordLoHi(size_t pos) const {
  return static_cast<uint16_t>(At(pos) | (At(pos + 1) << 8));
}

std::string TStatusAnswer::Text(size_t pos, size_t n) const {
  if (pos >= FBytes.size()) return {};
  const size_t take = std::min(n, FBytes.size() - pos);
  return std::string(FBytes.begin() + static_cast<ptrdiff_t>(pos),
                     FBytes.begin() + static_cast<ptrdiff_t>(pos + take));
}

bool VerifyAnswer(const uint8_t* answer, size_t count, size_t etxPos, int echo) {
  if (etxPos + 1 >= count || etxPos + 1 > 0xFFFF) return false;
  if (answer[0] != kStx || answer[kStatusPos] != kAccepted) return false;
  if (echo >= 0 && (count <= static_cast<size_t>(kFirstDataPos) || answer[kFirstDataPos] != echo))
    return false;
  return RangeSum(answer, 0, static_cast<uint16_t>(etxPos + 1)) == answer[etxPos + 1];
}

TFrameAssembler::TResult TFrameAssembler::Push(uint8_t b) {
  if (FLength > 0) return TResult::Complete;
  FFrame[FIndex] = b;
  if (FFrame[0] != kStx) return TResult::More;  // bytes before the first STX are dropped
  if (FIndex == kLenPos) FLen = b;
  if (FIndex == FLen + kOverhead - 1) {
    const int i = FIndex;
    const bool ok = FFrame[i - 2] == kEtx && FFrame[i] == kCr &&
                    RangeSum(FFrame, 0, static_cast<uint16_t>(i - 1)) == FFrame[i - 1];
    if (!ok) return TResult::Malformed;
    FLength = i + 1;
    return TResult::Complete;
  }
  ++FIndex;
  return TResult::More;
}

}  // namespace ReaderFrame
