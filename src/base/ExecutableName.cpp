#include "base/ExecutableName.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace base {

QString ExecutableName() { return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName(); }

} // namespace base
