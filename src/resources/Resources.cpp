#include "resources/Resources.h"

#include <QImageReader>
#include <QPixmap>

namespace resources {

QIcon ApplicationIcon() {
  // Read as PNG, without probing the format: probing loads every image format
  // plugin, at start-up, for files whose format is known.
  QIcon icon;
  for (const int size : kWindowIconSizes) {
    QImageReader reader(QStringLiteral(":/kestrine/icon-%1.png").arg(size), "png");
    reader.setAutoDetectImageFormat(false);
    const QImage image = reader.read();
    if (!image.isNull())
      icon.addPixmap(QPixmap::fromImage(image));
  }
  return icon;
}

} // namespace resources
