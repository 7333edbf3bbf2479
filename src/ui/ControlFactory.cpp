#include "ui/ControlFactory.h"

#include "ui/AccessibleText.h"
#include "ui/LineBreaks.h"

#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>

#include <limits>

namespace ui {

namespace {

bool IsEnter(const QKeyEvent *event) {
  return (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
         (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

// Return and keypad Enter press a focused button as Space does, whatever the
// platform theme. The button is never the window's default: only the focused
// one reacts.
class PushButton : public QPushButton {
public:
  using QPushButton::QPushButton;

protected:
  void keyPressEvent(QKeyEvent *event) override {
    if (!IsEnter(event))
      return QPushButton::keyPressEvent(event);
    QKeyEvent space = AsSpace(*event);
    QPushButton::keyPressEvent(&space);
    event->setAccepted(space.isAccepted());
  }
  void keyReleaseEvent(QKeyEvent *event) override {
    if (!IsEnter(event))
      return QPushButton::keyReleaseEvent(event);
    QKeyEvent space = AsSpace(*event);
    QPushButton::keyReleaseEvent(&space);
    event->setAccepted(space.isAccepted());
  }

private:
  static QKeyEvent AsSpace(const QKeyEvent &event) {
    return {event.type(), Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), event.isAutoRepeat()};
  }
};

// The current item marks where keyboard focus is inside the list, and
// assistive technology announces it as focused: it is set only while the list
// has focus, on the selected item, so that the selection and the keys agree.
class ListWidget : public QListWidget {
public:
  using QListWidget::QListWidget;

protected:
  void focusInEvent(QFocusEvent *event) override {
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    if (!selected.isEmpty())
      selectionModel()->setCurrentIndex(selected.first(), QItemSelectionModel::NoUpdate);
    QListWidget::focusInEvent(event);
  }
  void focusOutEvent(QFocusEvent *event) override {
    QListWidget::focusOutEvent(event);
    selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
  }
};

// The image at `path`, or its twice-as-large rendering "name@2x.png" on a
// screen with two or more device pixels to the pixel. The larger image carries
// its ratio, so it takes the same room.
QPixmap Picture(const QString &path, qreal devicePixelRatio) {
  if (devicePixelRatio > 1.0 && path.endsWith(QLatin1String(".png"))) {
    const QString large = path.chopped(4) + QLatin1String("@2x.png");
    if (QFile::exists(large))
      return {large};
  }
  return {path};
}

QWidget *CreateWidget(const ControlSpec &control, QWidget *parent) {
  const QString caption = QString::fromUtf8(control.Caption);
  switch (control.Kind) {
  case Kind::TextField: {
    auto *field = new QLineEdit(caption, parent);
    // The window edits whole texts; Qt's own length cap of 32767 would cut them.
    field->setMaxLength(std::numeric_limits<int>::max());
    return field;
  }
  case Kind::MultiLineTextField: {
    auto *field = new QPlainTextEdit(ToQtLineBreaks(caption), parent);
    field->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    field->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    field->setTabChangesFocus(true);
    return field;
  }
  case Kind::ListBox: {
    auto *list = new ListWidget(parent);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSortingEnabled(false);
    return list;
  }
  case Kind::Label: {
    auto *label = new QLabel(parent);
    MarkReadable(label);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setText(ToQtLineBreaks(caption));
    label->setFocusPolicy(Qt::NoFocus);
    return label;
  }
  case Kind::PushButton: {
    auto *button = new PushButton(caption, parent);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
  }
  case Kind::PictureBox: {
    auto *picture = new QLabel(parent);
    picture->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    if (!caption.isEmpty())
      picture->setPixmap(Picture(caption, picture->devicePixelRatioF()));
    picture->setFocusPolicy(Qt::NoFocus);
    return picture;
  }
  }
  return nullptr;
}

} // namespace

QWidget *CreateControl(const ControlSpec &control, QWidget *parent) {
  QWidget *widget = CreateWidget(control, parent);
  widget->setObjectName(QString::fromUtf8(control.Name));
  widget->setGeometry(control.Geometry.ToPixels());
  const QString tooltip = QString::fromUtf8(control.Tooltip);
  if (!tooltip.isEmpty()) {
    widget->setToolTip(tooltip);
    widget->setAccessibleDescription(tooltip);
  }
  return widget;
}

} // namespace ui
