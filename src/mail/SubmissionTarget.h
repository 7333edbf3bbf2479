#pragma once

#include "mail/NewMail.h"

#include <QString>

#include <cstdint>

namespace mail {

// Where a new NewMail object submits, and how long it waits. The program keeps
// the defaults, the local mail service; tests point new objects at a test
// server with SetDefaultTarget.
struct SubmissionTarget {
  QString Host = QStringLiteral("localhost");
  std::uint16_t Port = 25;
  Timeouts Bounds;
};

void SetDefaultTarget(const SubmissionTarget &target);
const SubmissionTarget &DefaultTarget();

} // namespace mail
