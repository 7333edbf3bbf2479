#include "mail/CurlHandles.h"
#include "mail/GMimeHandles.h"

#include <mutex>

namespace mail {

void gmime::EnsureStarted() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

bool curl::EnsureStarted() {
  static const bool started = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return started;
}

bool curl::Append(Slist &list, const char *text) {
  curl_slist *extended = curl_slist_append(list.get(), text);
  if (!extended)
    return false;
  // The grown list keeps its head: hand ownership over without freeing it.
  static_cast<void>(list.release());
  list.reset(extended);
  return true;
}

} // namespace mail
