#pragma once

#include "mail/Settings.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace mail {

// One message for the local mail service. Create it, set its fields, Send it
// once. Every member either succeeds or raises ErrorRecord with a number from
// base/ErrorNumbers.h.
class NewMail {
public:
  // The first NewMail of a run opens the mail module (mail/EngineLoader.cpp).
  // Raises kCannotStart when it cannot be opened.
  NewMail();
  ~NewMail();
  NewMail(const NewMail &) = delete;
  NewMail &operator=(const NewMail &) = delete;

  void From(const QString &text);
  void To(const QString &text); // addresses separated by commas or semicolons
  void Subject(const QString &text);
  void Importance(std::int32_t value); // 0 low, 1 normal, 2 high; anything else raises kInvalidImportance
  void Body(const QString &text);      // the message field's text, CR LF line breaks

  // Composes the message and hands it to the mail service; returns once the
  // server has accepted it (its reply to the end of data). Each given argument
  // replaces the value set before. Nothing reaches the wire unless every field
  // is valid. Once a message has been accepted, a second Send raises kAlreadySent.
  void Send(std::optional<QString> from = std::nullopt, std::optional<QString> to = std::nullopt,
            std::optional<QString> subject = std::nullopt, std::optional<QString> body = std::nullopt,
            std::optional<std::int32_t> importance = std::nullopt);

  // The SMTP dialogue of the last Send, one line per command and reply line,
  // each with the milliseconds since Send began; empty before Send. A failure
  // raised by Send carries the same text as its details.
  const QString &Conversation() const { return conversation_; }

private:
  QString from_;
  QString to_;
  QString subject_;
  QString body_;
  std::int32_t importance_ = kNormal;
  Target target_;
  bool sent_ = false;
  QString conversation_;
};

// Where NewMail objects created from now on submit. The program keeps the
// default, the local mail service; tests and benchmarks point at a test
// server. A bound below 1 ms counts as 1 ms.
void SetDefaultTarget(const Target &target);

} // namespace mail
