#pragma once

#include "mail/MailErrors.h"

#include <QString>

#include <chrono>
#include <cstdint>

// What NewMail and the engine both know, below the entry table between them:
// where a submission goes, the bounds of its waits, and the importances.
namespace mail {

// Every wait of a submission is bounded by these.
struct Timeouts {
  std::chrono::milliseconds Connect{10000}; // the TCP connection to each address tried
  std::chrono::milliseconds Reply{30000};   // any one server reply, and the content going out
  std::chrono::milliseconds Total{60000};   // the whole submission
};

// Where a submission goes: the local mail service, unless a test says otherwise.
struct Target {
  QString Host = QStringLiteral("localhost");
  std::uint16_t Port = 25;
  Timeouts Bounds;
};

enum Importance : std::int32_t { kLow = 0, kNormal = 1, kHigh = 2 };

// Raises kInvalidImportance unless `value` is 0, 1 or 2.
inline void CheckImportance(std::int32_t value) {
  if (value < kLow || value > kHigh)
    Raise(kInvalidImportance, QString::number(value));
}

} // namespace mail
