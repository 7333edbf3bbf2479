#include "ui/AccessibleText.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>

namespace ui {

namespace {

constexpr char kReadable[] = "kestrineReadable";

// A label's plain text as read-only accessible text: no caret, no selection.
class ReadableLabel : public QAccessibleWidget, public QAccessibleTextInterface {
public:
  explicit ReadableLabel(QLabel *label) : QAccessibleWidget(label, QAccessible::StaticText) {}

  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name && Label()->accessibleName().isEmpty())
      return Label()->text();
    return QAccessibleWidget::text(t);
  }

  void *interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::TextInterface)
      return static_cast<QAccessibleTextInterface *>(this);
    return QAccessibleWidget::interface_cast(type);
  }

  QList<QPair<QAccessibleInterface *, QAccessible::Relation>>
  relations(QAccessible::Relation match) const override {
    auto result = QAccessibleWidget::relations(match);
    if ((match & QAccessible::Labelled) && Label()->buddy())
      result.append({QAccessible::queryAccessibleInterface(Label()->buddy()), QAccessible::Labelled});
    return result;
  }

  // The text interface.
  void selection(int, int *startOffset, int *endOffset) const override { *startOffset = *endOffset = 0; }
  int selectionCount() const override { return 0; }
  void addSelection(int, int) override {}
  void removeSelection(int) override {}
  void setSelection(int, int, int) override {}
  int cursorPosition() const override { return 0; }
  void setCursorPosition(int) override {}
  QString text(int startOffset, int endOffset) const override {
    return Label()->text().mid(startOffset, endOffset - startOffset);
  }
  int characterCount() const override { return static_cast<int>(Label()->text().size()); }
  QRect characterRect(int) const override { return {}; }
  int offsetAtPoint(const QPoint &) const override { return -1; }
  void scrollToSubstring(int, int) override {}
  QString attributes(int, int *startOffset, int *endOffset) const override {
    *startOffset = *endOffset = 0;
    return {};
  }

private:
  QLabel *Label() const { return static_cast<QLabel *>(widget()); }
};

QAccessibleInterface *CreateReadable(const QString &className, QObject *object) {
  if (className != QLatin1String("QLabel") || !object || !object->property(kReadable).toBool())
    return nullptr;
  return new ReadableLabel(static_cast<QLabel *>(object));
}

} // namespace

void MarkReadable(QLabel *label) { label->setProperty(kReadable, true); }

void MakeReadable(QLabel *label) {
  MarkReadable(label);
  // Setting a label's text already made and kept its plain interface.
  if (QAccessibleInterface *made = QAccessible::queryAccessibleInterface(label))
    QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

void InstallReadableLabels() { QAccessible::installFactory(CreateReadable); }

} // namespace ui
