// The images embedded in the executable, as the download reaches them:
// resource ":/<type>/<name>" per image, digests recorded by the build.
#pragma once
#include <QString>

#include "bootmonitor/ImageSet.h"

class TQtImageSource : public IImageSource {
 public:
  bool ReadImage(TImageRole role, std::vector<uint8_t>& out) override;
  std::string ExpectedSha256(TImageRole role) override;

  static QString ResourcePath(TImageRole role);
};
