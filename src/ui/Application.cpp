#include "ui/Application.h"

#include "app/Version.h"
#include "resources/Resources.h"

#include <QStyleFactory>

namespace ui {

Application::Application(const char *programPath)
    : argv_{const_cast<char *>(programPath), nullptr}, app_(argc_, argv_) {
  QApplication::setApplicationName(QString::fromUtf8(Version::kAppTitle));
  QApplication::setApplicationVersion(QString::fromUtf8(Version::kFileVersion));
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QApplication::setFont(StandardFont());
  QApplication::setWindowIcon(resources::ApplicationIcon());
}

int Application::Run() { return QApplication::exec(); }

QFont StandardFont() {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(10);
  return font;
}

} // namespace ui
