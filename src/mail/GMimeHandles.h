#pragma once

#include <gmime/gmime.h>

#include <memory>

// Owning wrappers for the GMime objects the mail component uses; nothing else
// in mail/ holds a raw GMime pointer beyond the call that receives it.
namespace mail::gmime {

struct GObjectUnref {
  void operator()(gpointer object) const {
    if (object)
      g_object_unref(object);
  }
};
template <class T> using Ptr = std::unique_ptr<T, GObjectUnref>;

struct ParserOptionsFree {
  void operator()(GMimeParserOptions *options) const { g_mime_parser_options_free(options); }
};
using ParserOptions = std::unique_ptr<GMimeParserOptions, ParserOptionsFree>;

struct FormatOptionsFree {
  void operator()(GMimeFormatOptions *options) const { g_mime_format_options_free(options); }
};
using FormatOptions = std::unique_ptr<GMimeFormatOptions, FormatOptionsFree>;

struct GFreeDeleter {
  void operator()(gpointer memory) const { g_free(memory); }
};
using CString = std::unique_ptr<char, GFreeDeleter>;

struct DateTimeUnref {
  void operator()(GDateTime *date) const { g_date_time_unref(date); }
};
using DateTime = std::unique_ptr<GDateTime, DateTimeUnref>;

// Initialises GMime once for the process. GMime's global tables live until the
// process ends; shutting it down while another thread might still use it would
// be worse than that one-time allocation.
void EnsureStarted();

} // namespace mail::gmime
