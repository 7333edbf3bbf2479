#pragma once

#include <QString>

namespace ui {

// Texts going in and out of the windows use CR LF; Qt's widgets use LF inside.
QString ToQtLineBreaks(const QString &text);
QString ToCrLf(const QString &text);

} // namespace ui
