#include "app/ImageSource.h"

#include <QFile>

#include "qvx_image_digests.h"

QString TQtImageSource::ResourcePath(TImageRole role) {
  const TImageInfo& info = ImageInfo(role);
  return QStringLiteral(":/") + QString::fromLatin1(info.ResourceType) + QLatin1Char('/') +
         QString::fromLatin1(info.ResourceName);
}

bool TQtImageSource::ReadImage(TImageRole role, std::vector<uint8_t>& out) {
  QFile file(ResourcePath(role));
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QByteArray bytes = file.readAll();
  out.assign(bytes.begin(), bytes.end());
  return true;
}

std::string TQtImageSource::ExpectedSha256(TImageRole role) {
  switch (role) {
    case TImageRole::Applet:
      return kAppletSha256;
    case TImageRole::Boot:
      return kBootSha256;
    case TImageRole::Firmware:
      return kFirmwareSha256;
  }
  return {};
}
