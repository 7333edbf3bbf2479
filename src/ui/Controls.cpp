#include "ui/Controls.h"

#include "modules/ErrorRecord.h"
#include "ui/LineBreaks.h"
#include "ui/Window.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

namespace ui {

namespace {
// The numbers the window system has always used for these two failures.
constexpr std::int32_t kObjectNotLoaded = 91;
constexpr std::int32_t kInvalidIndex = 381;
} // namespace

Control::Control(Window &owner, const char *name) : name_(name) { owner.Register(this); }

QWidget &Control::Bound() const {
  if (!widget_)
    RaiseError(
        kObjectNotLoaded,
        QStringLiteral("The control %1 is not available: its window is not open.").arg(QLatin1String(name_)));
  return *widget_;
}

QString TextBox::Text() const {
  if (auto *line = qobject_cast<QLineEdit *>(&Bound()))
    return line->text();
  return ToCrLf(static_cast<QPlainTextEdit &>(Bound()).toPlainText());
}

void TextBox::SetText(const QString &text) {
  if (auto *line = qobject_cast<QLineEdit *>(&Bound()))
    line->setText(text);
  else
    static_cast<QPlainTextEdit &>(Bound()).setPlainText(ToQtLineBreaks(text));
}

void TextBox::SetFocus() { Bound().setFocus(Qt::OtherFocusReason); }

namespace {
QListWidget &AsList(QWidget &widget) { return static_cast<QListWidget &>(widget); }
} // namespace

void ListBox::AddItem(const QString &item) { AsList(Bound()).addItem(item); }

QString ListBox::List(int index) const {
  QListWidgetItem *item = AsList(Bound()).item(index);
  if (!item)
    RaiseError(kInvalidIndex,
               QStringLiteral("The list %1 has no item %2.").arg(QLatin1String(Name())).arg(index));
  return item->text();
}

int ListBox::ListCount() const { return AsList(Bound()).count(); }

QString ListBox::Text() const {
  const QList<QListWidgetItem *> selected = AsList(Bound()).selectedItems();
  return selected.isEmpty() ? QString() : selected.first()->text();
}

void ListBox::SetText(const QString &text) {
  QListWidget &list = AsList(Bound());
  for (int i = 0; i < list.count(); ++i) {
    if (list.item(i)->text() == text) {
      list.setCurrentRow(i);
      return;
    }
  }
  list.clearSelection();
}

QString Label::Caption() const { return ToCrLf(static_cast<QLabel &>(Bound()).text()); }

void Label::SetCaption(const QString &caption) {
  static_cast<QLabel &>(Bound()).setText(ToQtLineBreaks(caption));
}

void CommandButton::Bind(QWidget *widget) {
  Control::Bind(widget);
  if (auto *button = qobject_cast<QPushButton *>(widget)) {
    QObject::connect(button, &QPushButton::clicked, button, [this] {
      if (Click)
        Click();
    });
  }
}

} // namespace ui
