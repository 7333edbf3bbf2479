#pragma once

#include "base/ErrorNumbers.h"

#include <QString>

#include <cstdint>

namespace mail {

// The failures NewMail raises are numbered in base/ErrorNumbers.h. An
// administrator reads their descriptions, so each names the server, the step
// that failed, quotes what the server said in full, and says what to check.
using enum ErrorNumber;

// Where in the SMTP dialogue a failure happened. Each step has its words in
// the descriptions (WordsFor in MailErrors.cpp).
enum class Step { Connecting, Greeting, Ehlo, StartTls, MailFrom, RcptTo, Data, MessageContent, EndOfData };

// What is known about one failure; Describe turns it into words.
struct Failure {
  std::int32_t number = kSubmissionFailed;
  QString server; // e.g. "localhost port 25"
  Step step = Step::Connecting;
  QString command; // the command the server was answering, as sent (e.g. "RCPT TO:<bob@example.com>")
  QString reply;   // the server's reply in full, lines joined by "\n"
  QString field;   // "From" or "To", for address failures
  QString text;    // the offending text: an address, a host name, an importance value
  QString
      detail; // why: the system's or the TLS library's words, the reason an address is invalid, a time bound
  QString greeting;      // the server's greeting, when one came
  bool answered = false; // the step had its reply in full: the failure came after it
  QString next;          // for a reply out of turn: what was about to be sent
  QString accepted;      // the reply that had accepted the message, when the server said more after it
};

// Shows control characters as \r, \n, \xNN, and format (direction,
// invisible) characters, the other characters that render as nothing, and
// line or paragraph separators as \u{202E}, so that a quoted text (an
// address, a server's reply) can neither break nor forge a line of the
// description, nor turn or hide the text after it.
QString Visible(const QString &text);

// The one place that makes a description from a failure.
QString Describe(const Failure &failure);

// Raises ErrorRecord(failure.number, Describe(failure)).
[[noreturn]] void Raise(const Failure &failure);

// The same for a failure that needs only its number, the offending text and why.
[[noreturn]] void Raise(std::int32_t number, const QString &text = {}, const QString &detail = {});

} // namespace mail
