#include "ui/MessageBox.h"

#include "base/Version.h"
#include "ui/AccessibleText.h"
#include "ui/LineBreaks.h"
#include "ui/ScreenFit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QTextDocument>
#include <QTextEdit>

#include <algorithm>
#include <utility>
#include <vector>

namespace ui {

namespace {

MessageBoxResponder &Responder() {
  static MessageBoxResponder responder;
  return responder;
}

QPointer<QWidget> &CurrentOwner() {
  static QPointer<QWidget> owner;
  return owner;
}

constexpr int kButtonMask = 0x0F;
constexpr int kIconMask = 0xF0;

// The icon a box shows for its icon bits, and the name by which screen
// readers announce what kind of box opened.
struct IconKind {
  QMessageBox::Icon Icon = QMessageBox::NoIcon;
  QString Name;
};

IconKind IconFor(int buttons) {
  switch (buttons & kIconMask) {
  case MB_ICONERROR:
    return {QMessageBox::Critical, QStringLiteral("Error")};
  case MB_ICONQUESTION:
    return {QMessageBox::Question, QStringLiteral("Question")};
  default:
    return {};
  }
}

// The box as plain text, framed the way administrators know from other
// systems' boxes, so that a report pasted into a ticket reads the same. The
// prompt is copied whole, even where the box shows it shortened; details,
// when the box has them, follow as a last part.
QString BoxAsText(const QMessageBox &box, const QString &prompt) {
  const QString rule = QStringLiteral("---------------------------\n");
  QStringList buttons;
  // Only the answers: the details button is not one.
  for (QAbstractButton *button : box.buttons())
    if (box.buttonRole(button) != QMessageBox::ActionRole)
      buttons << button->text().remove(QLatin1Char('&'));
  QString text = rule + box.windowTitle() + QLatin1Char('\n') + rule + prompt + QLatin1Char('\n') + rule +
                 buttons.join(QLatin1String("   ")) + QLatin1Char('\n') + rule;
  // The details (the SMTP dialogue) go with the report, shown or not.
  if (!box.detailedText().isEmpty())
    text += box.detailedText() + QLatin1Char('\n') + rule;
  return text;
}

// The frame a window manager has drawn around `window`, none before. Qt keeps
// a measure of its right and bottom edges that a late ConfigureNotify of an
// old size makes as wide as the difference: they are taken to be as wide as
// the left edge, as window managers draw them.
QMargins FrameOf(const QWidget &window) {
  const QPoint inset = window.geometry().topLeft() - window.pos();
  return {inset.x(), inset.y(), inset.x(), inset.x()};
}

// Ctrl+C copies the whole box, so that an error report can be pasted elsewhere.
class CopyableMessageBox : public QMessageBox {
public:
  using QMessageBox::QMessageBox;
  QString WholePrompt;
  // Set once the user has shown or hidden the details: from then on the box
  // stays where the user has it, only kept inside the screen.
  bool UserResized = false;

protected:
  // Qt centres a dialog once, as it is shown, guessing a frame of 10 by 40
  // pixels where its window has none (X without a window manager): the box
  // stood that far off centre. And the box takes its size again after that,
  // once its text is laid out or its details are shown. A size the window
  // system reports is not followed: it may be a late one the box has left.
  void showEvent(QShowEvent *event) override {
    QMessageBox::showEvent(event);
    Place();
  }
  void resizeEvent(QResizeEvent *event) override {
    QMessageBox::resizeEvent(event);
    if (isVisible() && !event->spontaneous())
      Place();
  }

  // Centred over its window until the user resizes it, and inside the screen,
  // frame and all. Unframed, the box will get a frame like its window's:
  // centring the client areas centres the frames. A move by the difference
  // holds whether it places the frame or, until there is one, the client area.
  void Place() {
    const QWidget *owner = parentWidget();
    if (!screen() || (!owner && !UserResized))
      return;
    const QMargins frame = FrameOf(owner ? *owner : *this);
    const QRect now = geometry().marginsAdded(frame);
    QRect outer = now;
    if (!UserResized)
      outer.moveCenter(owner->geometry().marginsAdded(frame).center());
    move(pos() + KeptInside(outer, screen()->availableGeometry()) - now.topLeft());
  }

  void keyPressEvent(QKeyEvent *event) override {
    if (event->matches(QKeySequence::Copy)) {
      QGuiApplication::clipboard()->setText(BoxAsText(*this, WholePrompt));
      return;
    }
    QMessageBox::keyPressEvent(event);
  }
};

// The window a box belongs to: the one whose action raised it, else the
// active one; none when that window is not on the screen.
QWidget *BoxParent() {
  QWidget *window = CurrentOwner() ? CurrentOwner().data() : QApplication::activeWindow();
  return window && window->isVisible() ? window->window() : nullptr;
}

// The width at which a box on `screen` wraps its text.
int WrapWidth(const QRect &screen) { return std::min(screen.width() / 2, 500); }

// Room for the prompt on a screen: the wrap width less the icon, and the
// height less the title bar, margins and buttons.
QSize PromptRoom(const QRect &screen) {
  constexpr int kIconAndMargins = 80;
  constexpr int kFrameAndButtons = 160;
  return {std::max(WrapWidth(screen) - kIconAndMargins, 100),
          std::max(screen.height() - kFrameAndButtons, 100)};
}

// Details are lines of a dialogue, which a box as narrow as "Send Email OK"
// would wrap one and all: their pane is as wide as their longest line needs,
// up to the wrap width.
int DetailsWidth(const QTextEdit &details, const QMargins &margins, const QRect &screen) {
  constexpr int kFrameAndScrollBar = 40;
  int widest = 0;
  for (const QString &line : details.toPlainText().split(QLatin1Char('\n')))
    widest = std::max(widest, details.fontMetrics().horizontalAdvance(line));
  return std::min(widest + kFrameAndScrollBar, WrapWidth(screen) - margins.left() - margins.right());
}

// Window managers draw titles larger than the program's text, beside an icon
// and three buttons; a box narrower than that shows its title cut short. A
// box with details is as wide as they need.
void WidenForTitleAndDetails(QMessageBox &box, const QRect &screen, int detailsWidth) {
  auto *grid = qobject_cast<QGridLayout *>(box.layout());
  if (!grid)
    return;
  constexpr int kTitleBarControls = 4 * 32 + 32;
  QFont font = box.font();
  font.setBold(true);
  font.setPixelSize(QFontInfo(box.font()).pixelSize() * 3 / 2);
  const int width =
      std::max(QFontMetrics(font).horizontalAdvance(box.windowTitle()) + kTitleBarControls, detailsWidth);
  // The box fixes its own size when shown, from its layout's minimum width.
  grid->addItem(new QSpacerItem(std::min(width, screen.width()), 0, QSizePolicy::Fixed, QSizePolicy::Minimum),
                grid->rowCount(), 0, 1, grid->columnCount());
}

// Qt's details pane shows some seven lines; a whole submission's dialogue
// (about 25 lines, some 50 with STARTTLS) is read without scrolling, as long
// as the prompt keeps the room it needs on the screen, up to half of it.
void SizeDetails(QTextEdit &details, int detailsWidth, const QFont &font, const QRect &screen,
                 const QString &prompt) {
  constexpr int kMostLines = 60;
  constexpr int kFlags = Qt::TextWordWrap | Qt::TextWrapAnywhere;
  const int chrome = 2 * details.frameWidth() + 2 * static_cast<int>(details.document()->documentMargin());
  const QString shown = details.toPlainText().section(QLatin1Char('\n'), 0, kMostLines - 1);
  const int needed =
      details.fontMetrics().boundingRect(QRect(0, 0, detailsWidth - chrome, 1 << 24), kFlags, shown).height();
  const QSize room = PromptRoom(screen);
  const int promptHeight =
      std::min(QFontMetrics(font).boundingRect(QRect(0, 0, room.width(), 1 << 24), kFlags, prompt).height(),
               room.height() / 2);
  details.setFixedHeight(
      std::max(details.minimumHeight(), std::min(needed + chrome + 2, room.height() - promptHeight)));
}

// Screen readers announce the box's kind by its icon's name, and read the
// prompt as text.
void MakeAccessible(QMessageBox &box, const QString &iconName) {
  if (auto *icon = box.findChild<QLabel *>(QStringLiteral("qt_msgboxex_icon_label")))
    icon->setAccessibleName(iconName);
  if (auto *prompt = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_label")))
    MakeReadable(prompt);
}

// The height the details take once shown, with the gap above them: the prompt
// has that much less room.
int DetailsHeight(const QMessageBox &box) {
  const auto *details = box.findChild<QTextEdit *>();
  if (!details || !details->parentWidget())
    return 0;
  const auto *grid = qobject_cast<const QGridLayout *>(box.layout());
  const int gap = grid ? std::max(grid->verticalSpacing(), 0) : 0;
  return details->parentWidget()->sizeHint().height() + gap;
}

int ShowBox(const MessageBoxRequest &request) {
  const bool yesNo = (request.Buttons & kButtonMask) == MB_YESNO;
  QWidget *parent = BoxParent();
  const IconKind kind = IconFor(request.Buttons);
  CopyableMessageBox box(kind.Icon, request.Title, QString(),
                         yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, parent);
  // Prompts quote server replies and user input: never read them as markup.
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  const QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
  const QRect room = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
  // Qt lays the box out anew for its details: set them before anything is
  // added to the layout.
  if (!request.Details.isEmpty()) {
    box.setDetailedText(ToQtLineBreaks(request.Details));
    // The details button is the one button that is not an answer.
    for (QAbstractButton *button : box.buttons())
      if (box.buttonRole(button) == QMessageBox::ActionRole)
        QObject::connect(button, &QAbstractButton::pressed, &box, [&box] { box.UserResized = true; });
  }
  box.WholePrompt = ToQtLineBreaks(request.Prompt);
  // The details' width is measured once, line by line: up to 64 KB of them.
  int detailsWidth = 0;
  auto *details = box.findChild<QTextEdit *>();
  if (const auto *grid = qobject_cast<const QGridLayout *>(box.layout()); details && grid) {
    detailsWidth = DetailsWidth(*details, grid->contentsMargins(), room);
    SizeDetails(*details, detailsWidth, box.font(), room, box.WholePrompt);
  }
  const QSize promptRoom = PromptRoom(room) - QSize(0, DetailsHeight(box));
  box.setText(FitPrompt(box.WholePrompt, QFontMetrics(box.font()), promptRoom.expandedTo(QSize(1, 1))));
  // Enter answers Yes whatever order the platform theme puts the buttons in.
  box.setDefaultButton(yesNo ? QMessageBox::Yes : QMessageBox::Ok);
  MakeAccessible(box, kind.Name);
  WidenForTitleAndDetails(box, room, detailsWidth);
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

int MsgBox(const QString &prompt, int buttons, const QString &title, const QString &details) {
  const MessageBoxRequest request{prompt, buttons,
                                  title.isEmpty() ? QString::fromUtf8(Version::kAppTitle) : title, details};
  if (Responder())
    return Responder()(request);
  return ShowBox(request);
}

BoxOwner::BoxOwner(QWidget *window) : previous_(CurrentOwner()) { CurrentOwner() = window; }

BoxOwner::~BoxOwner() { CurrentOwner() = previous_; }

QString FitPrompt(const QString &prompt, const QFontMetrics &metrics, const QSize &room) {
  constexpr int kFlags = Qt::TextWordWrap | Qt::TextWrapAnywhere;
  const auto height = [&](const QString &text) {
    return metrics.boundingRect(QRect(0, 0, room.width(), 1 << 24), kFlags, text).height();
  };
  if (height(prompt) <= room.height())
    return prompt;

  const QString cut = QStringLiteral("\u2026");
  // No line takes more than a few rows.
  constexpr int kRowsPerLine = 4;
  QStringList lines = prompt.split(QLatin1Char('\n'));
  for (QString &line : lines)
    if (metrics.horizontalAdvance(line) > room.width() * kRowsPerLine)
      line = metrics.elidedText(line, Qt::ElideMiddle, room.width() * kRowsPerLine);
  // Then keep lines from the start and the end, one from each in turn, the
  // first line first, as long as they fit beside the mark of the cut.
  std::vector<int> heights;
  heights.reserve(lines.size());
  for (const QString &line : lines)
    heights.push_back(height(line.isEmpty() ? QStringLiteral(" ") : line));
  int budget = room.height() - height(cut);
  qsizetype head = 0;
  qsizetype tail = 0;
  for (bool fromStart = true; head + tail < lines.size(); fromStart = !fromStart) {
    const qsizetype next = fromStart ? head : lines.size() - 1 - tail;
    if (heights[next] > budget)
      break;
    budget -= heights[next];
    ++(fromStart ? head : tail);
  }
  QStringList shown = lines.mid(0, head);
  if (head + tail < lines.size())
    shown << cut;
  shown += lines.mid(lines.size() - tail);
  return shown.join(QLatin1Char('\n'));
}

MessageBoxResponder SetMessageBoxResponder(MessageBoxResponder responder) {
  return std::exchange(Responder(), std::move(responder));
}

} // namespace ui
