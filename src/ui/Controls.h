#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

namespace ui {

class Window;

// A control as the window's code sees it: a named member of its window, bound
// to the widget built from the control table while the window is loaded.
class Control {
public:
  Control(Window &owner, const char *name);
  virtual ~Control() = default;
  Control(const Control &) = delete;
  Control &operator=(const Control &) = delete;

  const char *Name() const { return name_; }
  QWidget *Widget() const { return widget_; }

protected:
  // The widget, or a failure when the window is not loaded.
  QWidget &Bound() const;
  virtual void Bind(QWidget *widget) { widget_ = widget; }

private:
  friend class Window;

  const char *name_;
  QPointer<QWidget> widget_;
};

// A single-line or multi-line text field. Text uses CR LF line breaks.
class TextBox : public Control {
public:
  using Control::Control;
  QString Text() const;
  void SetText(const QString &text);
  void SetFocus();
};

// An unsorted list with at most one selected item. Its text is the selected
// item's text, or empty when nothing is selected.
class ListBox : public Control {
public:
  using Control::Control;
  void AddItem(const QString &item);
  QString List(int index) const;
  int ListCount() const;
  QString Text() const;
  // Selects the item equal to `text`; any other text leaves nothing selected.
  void SetText(const QString &text);
};

class Label : public Control {
public:
  using Control::Control;
  QString Caption() const;
  void SetCaption(const QString &caption);
};

class CommandButton : public Control {
public:
  using Control::Control;
  std::function<void()> Click;

private:
  void Bind(QWidget *widget) override;
};

class PictureBox : public Control {
public:
  using Control::Control;
  // What a screen reader says of the picture.
  void SetDescription(const QString &description);
};

} // namespace ui
