#include "resources/Resources.h"

namespace resources {

QIcon ApplicationIcon() {
  QIcon icon;
  for (const int size : {16, 24, 32, 48, 64, 128, 256})
    icon.addFile(QStringLiteral(":/kestrine/icon-%1.png").arg(size), QSize(size, size));
  return icon;
}

} // namespace resources
