#pragma once

#include <curl/curl.h>

#include <memory>

// Owning wrappers for the libcurl handles of one submission.
namespace mail::curl {

struct EasyCleanup {
  void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
};
using Easy = std::unique_ptr<CURL, EasyCleanup>;

struct SlistFree {
  void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};
using Slist = std::unique_ptr<curl_slist, SlistFree>;

// Appends to `list`; false when libcurl is out of memory (the list is kept).
bool Append(Slist &list, const char *text);

// Initialises libcurl once for the process; false when it cannot start. Never
// cleaned up: curl_global_cleanup is not safe while other threads use libcurl.
bool EnsureStarted();

} // namespace mail::curl
