#pragma once

#include <QString>

namespace Global {
// The shared message buffer: a question or an error report is written here and
// handed by reference to the message-box routines. Empty at start-up; the next
// writer overwrites it.
extern QString gstrMessage;
} // namespace Global
