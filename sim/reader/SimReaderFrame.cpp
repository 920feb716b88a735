#include "sim/reader/SimReaderFrame.h"

#include <algorithm>

#include "link/Checksums.h"

using namespace SimFrame;

namespace {

constexpr uint8_t kRequestAddress = 0x00;
constexpr uint8_t kBoardLetter = 'E';

// Checks the tail of a complete frame of total bytes at the front of buf.
bool TailIsGood(const TBytes& buf, size_t total) {
  return buf[total - 3] == kEtx && buf[total - 1] == kCr &&
         RangeSum(buf.data(), 0, static_cast<uint16_t>(total - 2)) == buf[total - 2];
}

TSimRequest RequestOf(const TBytes& buf, size_t total) {
  TSimRequest r;
  r.Letter = buf[2];
  r.Data.assign(buf.begin() + 4, buf.begin() + static_cast<ptrdiff_t>(total - 3));
  return r;
}

}  // namespace

TBytes SimAnswerFrame(uint8_t status, const TBytes& data, bool badSum) {
  const size_t n = data.size();
  TBytes f(n + kOverhead);
  f[0] = kStx;
  f[1] = 0x00;
  f[2] = status;
  f[3] = static_cast<uint8_t>(n);
  std::copy(data.begin(), data.end(), f.begin() + 4);
  f[n + 4] = kEtx;
  uint8_t sum = RangeSum(f.data(), 0, static_cast<uint16_t>(n + 5));
  if (badSum) sum = static_cast<uint8_t>(sum ^ 0x5A);
  f[n + 5] = sum;
  f[n + 6] = kCr;
  return f;
}

std::vector<TSimRequest> TSimFrameParser::Push(const uint8_t* data, size_t count) {
  FBuf.insert(FBuf.end(), data, data + count);
  std::vector<TSimRequest> frames;
  for (;;) {
    size_t skip = 0;
    while (skip < FBuf.size() && FBuf[skip] != kStx) ++skip;
    FBuf.erase(FBuf.begin(), FBuf.begin() + static_cast<ptrdiff_t>(skip));
    if (FBuf.size() < 2) break;
    if (FBuf[1] != kRequestAddress) {  // an STX inside noise, not a request
      FBuf.erase(FBuf.begin());
      continue;
    }
    if (FBuf.size() < 4) break;
    const size_t total = FBuf[3] + kOverhead;
    if (FBuf.size() < total) break;
    if (TailIsGood(FBuf, total)) {
      frames.push_back(RequestOf(FBuf, total));
      FBuf.erase(FBuf.begin(), FBuf.begin() + static_cast<ptrdiff_t>(total));
    } else {
      ++FBadFrames;
      FBuf.erase(FBuf.begin());
    }
  }
  return frames;
}

bool TSimBoardTap::HeldCouldBeBoardFrame() const {
  const size_t n = FHeld.size();
  if (n > 0 && FHeld[0] != kStx) return false;
  if (n > 1 && FHeld[1] != kRequestAddress) return false;
  if (n > 2 && FHeld[2] != kBoardLetter) return false;
  if (n > 3) {
    const size_t len = FHeld[3];
    if (n > len + 4 && FHeld[len + 4] != kEtx) return false;
    if (n > len + 6 && FHeld[len + 6] != kCr) return false;
  }
  return true;
}

void TSimBoardTap::Push(const uint8_t* data, size_t count, const TBoardFrameFn& onBoardFrame,
                        const TReaderBytesFn& onReaderBytes) {
  TBytes pass;
  for (size_t i = 0; i < count; ++i) {
    FHeld.push_back(data[i]);
    while (!FHeld.empty()) {
      if (!HeldCouldBeBoardFrame()) {
        pass.push_back(FHeld.front());
        FHeld.erase(FHeld.begin());
        continue;
      }
      if (FHeld.size() >= 4 && FHeld.size() == FHeld[3] + kOverhead) {
        if (!pass.empty()) onReaderBytes(pass);
        pass.clear();
        if (TailIsGood(FHeld, FHeld.size()))
          onBoardFrame(RequestOf(FHeld, FHeld.size()));
        else
          ++FBadFrames;
        FHeld.clear();
      }
      break;
    }
  }
  if (!pass.empty()) onReaderBytes(pass);
}

TBytes TSimBoardTap::Flush() {
  TBytes out;
  out.swap(FHeld);
  return out;
}
