// Small helpers shared by the region checks and the restore procedure.
#pragma once
#include <functional>
#include <vector>

#include "link/FlashWrRXCont.h"

namespace ParamSteps {

// Runs step until it succeeds, at most tries times.
inline bool Tried(int tries, const std::function<bool()>& step) {
  for (int i = 0; i < tries; ++i)
    if (step()) return true;
  return false;
}

// A checked block read that must deliver every byte asked for: a short
// answer would leave stale bytes in the image.
inline bool ReadAll(TFlashWrRXCont& c, int word, uint8_t* out, int n) {
  int copied = 0;
  return c.ReadParamBlockChecked(word, out, n, &copied) && copied == n;
}

}  // namespace ParamSteps
