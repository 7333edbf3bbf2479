#pragma once

#include <QApplication>
#include <QFont>

namespace ui {

// The window system for this program's one thread. The command line is not
// read: Qt is handed only the program's own path, so options such as
// -platform or -style have no effect.
class Application {
public:
  explicit Application(const char *programPath);
  Application(const Application &) = delete;
  Application &operator=(const Application &) = delete;

  // Runs the event loop until no window of the program remains open.
  int Run();

private:
  int argc_ = 1;
  char *argv_[2];
  QApplication app_;
};

// The font every window uses. The control tables were laid out for a small
// sans-serif face; this one fits every caption and default text into them.
QFont StandardFont();

} // namespace ui
