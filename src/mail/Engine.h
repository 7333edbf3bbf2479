#pragma once

// The table of C entry points between NewMail (in the program) and the engine
// (the code that needs Qt Network and GMime). The program opens the engine as a
// module on the first NewMail (EngineLoader.cpp), and so do the tests and
// benchmarks that use NewMail. Only plain C types cross: no C++ exception, no Qt or
// standard library object, no memory that one side allocates and the other
// frees. A change to anything here is a new version.

#include <cstddef>
#include <cstdint>

extern "C" {

#define KESTRINE_MAIL_ENGINE_VERSION 2
// The one symbol the module exports; it returns the table.
#define KESTRINE_MAIL_ENGINE_SYMBOL "kestrine_mail_engine_v2"

// UTF-16 text, not terminated; valid for the duration of the call.
struct KestrineText {
  const char16_t *data;
  std::size_t size;
};

// Everything one submission needs: the fields as set on NewMail and where to.
struct KestrineMessage {
  KestrineText from;
  KestrineText to;
  KestrineText subject;
  KestrineText body;
  std::int32_t importance;
  KestrineText host;
  std::uint16_t port;
  std::int64_t connectMs;
  std::int64_t replyMs;
  std::int64_t totalMs;
};

// How an entry point failed.
enum KestrineOutcome : std::int32_t {
  kKestrineOk = 0,
  kKestrineErrorRecord = 1, // the Error record's number and description
  kKestrineOutOfMemory = 2,
  kKestrineInternalError = 3, // any other failure; the description says what
  kKestrineConversation = 4,  // not a failure: the SMTP dialogue, for the details
};

// Called by a failing entry point, before it returns, with the failure; and by
// send, after that, with the dialogue (outcome kKestrineConversation) whenever
// one began, failed or not. The text is valid only during the call.
using KestrineReport = void (*)(void *context, std::int32_t outcome, std::int32_t number,
                                const char16_t *text, std::size_t size);

struct KestrineMailEngine {
  std::uint32_t version; // KESTRINE_MAIL_ENGINE_VERSION
  std::uint32_t size;    // sizeof(KestrineMailEngine)
  // Starts GMime once for the process.
  std::int32_t (*start)(KestrineReport report, void *context);
  // Composes the message and submits it; returns once the server accepted it.
  std::int32_t (*send)(const KestrineMessage *message, KestrineReport report, void *context);
};

using KestrineMailEngineEntry = const KestrineMailEngine *(*)();

// Defined by the engine (EngineEntries.cpp).
const KestrineMailEngine *kestrine_mail_engine_v2();
}

namespace mail {

// The engine's table: in the program, the module opened on first use; raises
// ErrorRecord kCannotStart when it cannot be found, opened or is of another
// version, and tries again on the next call.
const KestrineMailEngine &Engine();

} // namespace mail
