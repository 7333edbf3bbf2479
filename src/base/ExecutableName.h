#pragma once

#include <QString>

namespace base {

// The running executable's file name without directory and extension, read
// from the running file: a copy saved under another name reports that name.
QString ExecutableName();

} // namespace base
