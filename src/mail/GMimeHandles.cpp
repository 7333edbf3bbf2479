#include "mail/GMimeHandles.h"

#include <mutex>

namespace mail {

void gmime::EnsureStarted() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

} // namespace mail
