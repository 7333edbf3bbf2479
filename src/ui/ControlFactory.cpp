#include "ui/ControlFactory.h"

#include "ui/LineBreaks.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>

namespace ui {

namespace {

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
    auto *list = new QListWidget(parent);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSortingEnabled(false);
    return list;
  }
  case Kind::Label: {
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setText(ToQtLineBreaks(caption));
    label->setFocusPolicy(Qt::NoFocus);
    return label;
  }
  case Kind::PushButton: {
    auto *button = new QPushButton(caption, parent);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
  }
  case Kind::PictureBox: {
    auto *picture = new QLabel(parent);
    picture->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    if (!caption.isEmpty())
      picture->setPixmap(QPixmap(caption));
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
