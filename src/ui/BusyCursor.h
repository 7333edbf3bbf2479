#pragma once

#include <QApplication>
#include <QCursor>

namespace ui {

// Shows the wait cursor over the program's windows for as long as it lives:
// while a synchronous operation runs, the windows do not respond.
class BusyCursor {
public:
  BusyCursor() { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
  BusyCursor(const BusyCursor &) = delete;
  BusyCursor &operator=(const BusyCursor &) = delete;
};

} // namespace ui
