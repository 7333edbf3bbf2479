#include "ui/MessageBox.h"

#include "app/Version.h"
#include "ui/LineBreaks.h"

#include <QApplication>
#include <QMessageBox>

#include <utility>

namespace ui {

namespace {

MessageBoxResponder &Responder() {
  static MessageBoxResponder responder;
  return responder;
}

constexpr int kButtonMask = 0x0F;
constexpr int kIconMask = 0xF0;

QMessageBox::Icon IconFor(int buttons) {
  switch (buttons & kIconMask) {
  case MB_ICONERROR:
    return QMessageBox::Critical;
  case MB_ICONQUESTION:
    return QMessageBox::Question;
  default:
    return QMessageBox::NoIcon;
  }
}

int ShowBox(const MessageBoxRequest &request) {
  const bool yesNo = (request.Buttons & kButtonMask) == MB_YESNO;
  QMessageBox box(IconFor(request.Buttons), request.Title, ToQtLineBreaks(request.Prompt),
                  yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, QApplication::activeWindow());
  // Prompts quote server replies and user input: never read them as markup.
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  switch (box.exec()) {
  case QMessageBox::Yes:
    return IDYES;
  case QMessageBox::Ok:
    return IDOK;
  default:
    // A question dismissed without an answer counts as No: nothing goes ahead.
    return yesNo ? IDNO : IDOK;
  }
}

} // namespace

int MsgBox(const QString &prompt, int buttons, const QString &title) {
  const MessageBoxRequest request{prompt, buttons,
                                  title.isEmpty() ? QString::fromUtf8(Version::kAppTitle) : title};
  if (Responder())
    return Responder()(request);
  return ShowBox(request);
}

MessageBoxResponder SetMessageBoxResponder(MessageBoxResponder responder) {
  return std::exchange(Responder(), std::move(responder));
}

} // namespace ui
