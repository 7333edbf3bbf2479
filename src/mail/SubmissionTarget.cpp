#include "mail/SubmissionTarget.h"

namespace mail {

namespace {
SubmissionTarget &Target() {
  static SubmissionTarget target;
  return target;
}
} // namespace

void SetDefaultTarget(const SubmissionTarget &target) { Target() = target; }

const SubmissionTarget &DefaultTarget() { return Target(); }

} // namespace mail
