#pragma once

#include "ui/ControlSpec.h"

#include <QPointer>
#include <QWidget>

#include <span>
#include <vector>

namespace ui {

class Control;

// A window defined by its control table. It is created, with its controls, the
// first time it is shown, and its load step runs then; closing it by the user
// destroys it, so the next Show() builds it afresh and loads it again.
class Window {
public:
  Window(const WindowSpec &definition, std::span<const ControlSpec> controls);
  virtual ~Window();
  Window(const Window &) = delete;
  Window &operator=(const Window &) = delete;

  // Shows the window without making it modal and returns at once; a window
  // that is already open is only brought forward. A window created here opens
  // at its stored position, or beside `neighbour` when one is given and open,
  // so that it does not cover it. Either way the window is kept inside the
  // screen's available area.
  void Show(const Window *neighbour = nullptr);
  bool IsLoaded() const { return !form_.isNull(); }

  // The top-level widget while the window is loaded, for placing boxes and for tests.
  QWidget *Widget() const { return form_; }

protected:
  // Runs each time the window is created, before it is first shown.
  virtual void Load() {}

private:
  friend class Control;
  void Register(Control *member) { members_.push_back(member); }
  void Create();
  void PlaceBeside(const QWidget &neighbour);
  void KeepOnScreen();
  void Unload();

  WindowSpec spec_;
  std::span<const ControlSpec> controls_;
  std::vector<Control *> members_;
  QPointer<QWidget> form_;
};

} // namespace ui
