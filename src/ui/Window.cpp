#include "ui/Window.h"

#include "ui/ControlFactory.h"
#include "ui/Controls.h"
#include "ui/ScreenFit.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>

namespace ui {

namespace {

// The top-level widget of a loaded window. It tells its owner when the user
// closes it, so that the window counts as unloaded at once, even though Qt
// deletes the widget itself only on its next pass through the event loop.
class FormWidget : public QWidget {
public:
  explicit FormWidget(std::function<void()> onClosed) : onClosed_(std::move(onClosed)) {
    setAttribute(Qt::WA_DeleteOnClose);
  }

  // Runs once, when the window is first activated: by then a window manager
  // has framed it and said how large the frame is.
  void OnFirstActivation(std::function<void()> action) { onFirstActivation_ = std::move(action); }

protected:
  void closeEvent(QCloseEvent *event) override {
    QWidget::closeEvent(event);
    if (event->isAccepted() && onClosed_)
      onClosed_();
  }

  bool event(QEvent *event) override {
    if (event->type() == QEvent::WindowActivate && onFirstActivation_)
      std::exchange(onFirstActivation_, nullptr)();
    return QWidget::event(event);
  }

private:
  std::function<void()> onClosed_;
  std::function<void()> onFirstActivation_;
};

void LinkBuddies(std::span<const ControlSpec> controls, const std::map<std::string, QWidget *> &widgets) {
  for (const ControlSpec &control : controls) {
    if (control.Kind != Kind::Label || *control.Buddy == '\0')
      continue;
    QWidget *field = widgets.at(control.Buddy);
    static_cast<QLabel *>(widgets.at(control.Name))->setBuddy(field);
    field->setAccessibleName(QString::fromUtf8(control.Caption));
  }
}

// Orders the focusable controls by tab index and returns the first of them.
QWidget *SetTabOrder(std::span<const ControlSpec> controls, const std::map<std::string, QWidget *> &widgets) {
  std::vector<const ControlSpec *> order;
  for (const ControlSpec &control : controls)
    if (widgets.at(control.Name)->focusPolicy() != Qt::NoFocus)
      order.push_back(&control);
  std::stable_sort(order.begin(), order.end(),
                   [](const ControlSpec *a, const ControlSpec *b) { return a->TabIndex < b->TabIndex; });
  for (std::size_t i = 1; i < order.size(); ++i)
    QWidget::setTabOrder(widgets.at(order[i - 1]->Name), widgets.at(order[i]->Name));
  return order.empty() ? nullptr : widgets.at(order.front()->Name);
}

} // namespace

Window::Window(const WindowSpec &definition, std::span<const ControlSpec> controls)
    : spec_(definition), controls_(controls) {}

Window::~Window() {
  // After the application has gone its widgets have gone with it.
  if (form_ && QCoreApplication::instance())
    delete form_.data();
}

void Window::Show(const Window *neighbour) {
  if (!form_) {
    Create();
    if (neighbour && neighbour->IsLoaded())
      PlaceBeside(*neighbour->Widget());
    else {
      KeepOnScreen();
      // Again once the frame's size is known, so that the frame fits too.
      static_cast<FormWidget *>(form_.data())->OnFirstActivation([this] { KeepOnScreen(); });
    }
  }
  form_->show();
  form_->raise();
  form_->activateWindow();
}

void Window::Create() {
  auto *form = new FormWidget([this] { Unload(); });
  form->setWindowTitle(QString::fromUtf8(spec_.Caption));
  const QRect client = spec_.ClientArea.ToPixels();
  form->setGeometry(client);
  form->setFixedSize(client.size());

  std::map<std::string, QWidget *> widgets;
  for (const ControlSpec &control : controls_)
    widgets[control.Name] = CreateControl(control, form);
  LinkBuddies(controls_, widgets);
  QWidget *first = SetTabOrder(controls_, widgets);

  for (Control *member : members_) {
    auto found = widgets.find(member->Name());
    if (found == widgets.end())
      throw std::logic_error(std::string("no control named ") + member->Name() + " in the window's table");
    member->Bind(found->second);
  }
  form_ = form;
  Load();
  if (first)
    first->setFocus(Qt::TabFocusReason);
}

void Window::PlaceBeside(const QWidget &neighbour) {
  constexpr int kGap = 8;
  const QRect frame = neighbour.frameGeometry();
  // This window has no frame until it is shown; it will get one as wide as the
  // neighbour's. Where there is no room to the right, as much of the window
  // stays on the screen as fits.
  QRect outer(QPoint(frame.right() + 1 + kGap, frame.top()),
              form_->size() + (frame.size() - neighbour.size()));
  if (const QScreen *screen = neighbour.screen())
    outer.moveTopLeft(KeptInside(outer, screen->availableGeometry()));
  form_->move(outer.topLeft());
}

void Window::KeepOnScreen() {
  const QRect client = form_->geometry();
  const QScreen *screen = QGuiApplication::screenAt(client.topLeft());
  if (!screen)
    screen = QGuiApplication::primaryScreen();
  if (!screen)
    return;
  // The frame the window system adds, where it already knows how large it is
  // (a window manager may tell only once the window is mapped); the stored
  // position is that of the client area. Showing creates the native window
  // anyway: creating it now costs nothing more.
  form_->winId();
  const QRect frame = client.marginsAdded(form_->windowHandle()->frameMargins());
  const QPoint corner = KeptInside(frame, screen->availableGeometry());
  if (corner != frame.topLeft())
    form_->setGeometry(client.translated(corner - frame.topLeft()));
}

void Window::Unload() {
  form_.clear();
  for (Control *member : members_)
    member->Bind(nullptr);
}

} // namespace ui
