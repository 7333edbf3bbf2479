#include "ui/Controls.h"

#include "base/ErrorNumbers.h"
#include "base/ErrorRecord.h"
#include "ui/LineBreaks.h"
#include "ui/MessageBox.h"
#include "ui/Window.h"

#include <QApplication>

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

namespace ui {

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
  // The document's raw text: toPlainText() would turn no-break spaces into
  // blanks and U+FDD0/U+FDD1 into line breaks. Only the paragraph separators
  // between its lines are breaks.
  return ToCrLf(static_cast<QPlainTextEdit &>(Bound()).document()->toRawText());
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
      // The current item is where keyboard focus is in the list: while the
      // list has no focus, none of its items claims it.
      if (list.hasFocus())
        list.setCurrentRow(i);
      else
        list.selectionModel()->select(list.model()->index(i, 0), QItemSelectionModel::ClearAndSelect);
      return;
    }
  }
  list.clearSelection();
}

QString Label::Caption() const { return ToCrLf(static_cast<QLabel &>(Bound()).text()); }

void PictureBox::SetDescription(const QString &description) { Bound().setAccessibleName(description); }

void Label::SetCaption(const QString &caption) {
  static_cast<QLabel &>(Bound()).setText(ToQtLineBreaks(caption));
}

namespace {

bool actionRunning = false;

struct RunningAction {
  RunningAction() { actionRunning = true; }
  ~RunningAction() { actionRunning = false; }
  RunningAction(const RunningAction &) = delete;
  RunningAction &operator=(const RunningAction &) = delete;
};

} // namespace

void CommandButton::Bind(QWidget *widget) {
  Control::Bind(widget);
  if (auto *button = qobject_cast<QPushButton *>(widget)) {
    QObject::connect(button, &QPushButton::clicked, button, [this, button] {
      // One press, one action: a press that arrives while a box is open or an
      // action runs (an assistive technology's press is not stopped by the
      // modal block, and a box's event loop would run it) is ignored.
      if (!Click || actionRunning || QApplication::activeModalWidget())
        return;
      const RunningAction running;
      const BoxOwner owner(button->window());
      Click();
    });
  }
}

} // namespace ui
