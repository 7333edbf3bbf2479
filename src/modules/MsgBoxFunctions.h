#pragma once

#include <QString>

#include <cstdint>

// The two boxes the windows share, both titled with the executable's name.

// Appends the current error's number and description to `message`, each on a
// line of its own, and shows it in a critical box with the error's details
// behind its details button. Call it from a handler while the failure it
// caught is the current error.
void MsgBoxError(QString &message);

// Asks the Yes/No question in `message`; returns IDYES (6) or IDNO (7).
std::int16_t MsgBoxYesNo(const QString &message);
