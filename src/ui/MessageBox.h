#pragma once

#include <QFontMetrics>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

namespace ui {

// Buttons and icons, combined by adding, and the answers: the values the
// window system has always used.
inline constexpr int MB_OK = 0;
inline constexpr int MB_YESNO = 4;
inline constexpr int MB_ICONERROR = 16;
inline constexpr int MB_ICONQUESTION = 32;

inline constexpr int IDOK = 1;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// A box as it would be shown: prompt with CR LF breaks, buttons plus icon, the
// title in the title bar (the application title when none was given) and the
// details behind its "Show Details..." button (none when empty).
struct MessageBoxRequest {
  QString Prompt;
  int Buttons = MB_OK;
  QString Title;
  QString Details;
};

// Shows a box that is modal to all of the program's windows and returns the
// button pressed. Each CR LF in the prompt starts a new line. A question's
// default button is Yes. The box belongs to the window whose action raised it
// (see BoxOwner), or else to the active window: it is transient for that
// window and centred over it. It always fits the screen with its buttons in
// view, shortening only the text it shows, and is wide enough for its title.
// Non-empty `details` (plain text, such as the SMTP dialogue behind the box)
// sit behind a "Show Details..." button; the box fits the screen with them
// shown too. Ctrl+C copies the box without them.
int MsgBox(const QString &prompt, int buttons = MB_OK, const QString &title = QString(),
           const QString &details = QString());

// While it lives, the boxes shown belong to `window`, even at moments when no
// window of the program is active (right after another box has closed).
class BoxOwner {
public:
  explicit BoxOwner(QWidget *window);
  ~BoxOwner();
  BoxOwner(const BoxOwner &) = delete;
  BoxOwner &operator=(const BoxOwner &) = delete;

private:
  QPointer<QWidget> previous_;
};

// The text a box shows for `prompt` (LF breaks) when its text may take at most
// `room`: the whole prompt when it fits, otherwise over-long lines cut in the
// middle and, if still too tall, middle lines left out, each cut marked "…".
QString FitPrompt(const QString &prompt, const QFontMetrics &metrics, const QSize &room);

// Lets a test answer boxes instead of a person: while a responder is set,
// MsgBox hands it the request and returns its answer without showing a box.
// Returns the responder that was set before; pass nullptr to show real boxes.
using MessageBoxResponder = std::function<int(const MessageBoxRequest &)>;
MessageBoxResponder SetMessageBoxResponder(MessageBoxResponder responder);

} // namespace ui
