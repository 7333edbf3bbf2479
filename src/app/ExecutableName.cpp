#include "app/ExecutableName.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace app {

QString ExecutableName() { return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName(); }

} // namespace app
