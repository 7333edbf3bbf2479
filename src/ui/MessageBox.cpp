#include "ui/MessageBox.h"

#include "app/Version.h"
#include "ui/LineBreaks.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
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

// The box as plain text, framed the way administrators know from other
// systems' boxes, so that a report pasted into a ticket reads the same.
QString BoxAsText(const QMessageBox &box) {
  const QString rule = QStringLiteral("---------------------------\n");
  QStringList buttons;
  for (const QAbstractButton *button : box.buttons())
    buttons << button->text().remove(QLatin1Char('&'));
  return rule + box.windowTitle() + QLatin1Char('\n') + rule + box.text() + QLatin1Char('\n') + rule +
         buttons.join(QLatin1String("   ")) + QLatin1Char('\n') + rule;
}

// Ctrl+C copies the whole box, so that an error report can be pasted elsewhere.
class CopyableMessageBox : public QMessageBox {
public:
  using QMessageBox::QMessageBox;

protected:
  void keyPressEvent(QKeyEvent *event) override {
    if (event->matches(QKeySequence::Copy)) {
      QGuiApplication::clipboard()->setText(BoxAsText(*this));
      return;
    }
    QMessageBox::keyPressEvent(event);
  }
};

int ShowBox(const MessageBoxRequest &request) {
  const bool yesNo = (request.Buttons & kButtonMask) == MB_YESNO;
  CopyableMessageBox box(IconFor(request.Buttons), request.Title, ToQtLineBreaks(request.Prompt),
                         yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
                         QApplication::activeWindow());
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
