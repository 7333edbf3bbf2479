#include "ui/LineBreaks.h"

namespace ui {

QString ToQtLineBreaks(const QString &text) {
  QString result = text;
  result.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return result;
}

QString ToCrLf(const QString &text) {
  QString result = ToQtLineBreaks(text);
  // A plain-text editor may hand back Unicode paragraph or line separators.
  result.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
  result.replace(QChar::LineSeparator, QLatin1Char('\n'));
  result.replace(QLatin1String("\n"), QLatin1String("\r\n"));
  return result;
}

} // namespace ui
