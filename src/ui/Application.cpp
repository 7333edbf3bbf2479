#include "ui/Application.h"

#include "base/Version.h"
#include "resources/Resources.h"
#include "ui/AccessibleText.h"

#include <QStyleFactory>

namespace ui {

Application::Application(const char *programPath)
    : argv_{const_cast<char *>(programPath), nullptr}, app_(argc_, argv_) {
  QApplication::setApplicationName(QString::fromUtf8(Version::kAppTitle));
  QApplication::setApplicationVersion(QString::fromUtf8(Version::kFileVersion));
  // The name of the installed desktop entry, which is also the Wayland app id:
  // docks and task switchers find the program's icon and name through it.
  QGuiApplication::setDesktopFileName(QString::fromLatin1(Version::kAppId));
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QApplication::setFont(StandardFont());
  QApplication::setWindowIcon(resources::ApplicationIcon());
  InstallReadableLabels();
}

int Application::Run() { return QApplication::exec(); }

QFont StandardFont() {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(10);
  return font;
}

} // namespace ui
