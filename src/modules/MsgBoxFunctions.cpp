#include "modules/MsgBoxFunctions.h"

#include "base/ErrorRecord.h"
#include "base/ExecutableName.h"
#include "ui/MessageBox.h"

void MsgBoxError(QString &message) {
  const ErrorRecord &error = CurrentError();
  message += QLatin1String("\r\n");
  message += QLatin1String("Error code = ") + QString::number(error.Number()) + QLatin1String("\r\n");
  message += QLatin1String("Description = ") + error.Description() + QLatin1String("\r\n");
  ui::MsgBox(message, ui::MB_OK + ui::MB_ICONERROR, base::ExecutableName(), error.Details());
}

std::int16_t MsgBoxYesNo(const QString &message) {
  return static_cast<std::int16_t>(
      ui::MsgBox(message, ui::MB_YESNO + ui::MB_ICONQUESTION, base::ExecutableName()));
}
