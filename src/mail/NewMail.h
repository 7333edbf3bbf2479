#pragma once

#include <QString>

#include <chrono>
#include <cstdint>
#include <optional>

namespace mail {

// Every wait of a submission is bounded by these.
struct Timeouts {
  std::chrono::milliseconds Connect{10000}; // the TCP connection to each address tried
  std::chrono::milliseconds Reply{30000};   // any one server reply, and the content going out
  std::chrono::milliseconds Total{60000};   // the whole submission
};

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

  // The program always uses the defaults (localhost, port 25, 10/30/60 s). Tests
  // point the component at a test server through these. A bound below 1 ms counts as 1 ms.
  void Server(const QString &host, std::uint16_t port);
  void SetTimeouts(const Timeouts &timeouts);

  // The SMTP dialogue of the last Send, one line per command and reply line,
  // each with the milliseconds since Send began; empty before Send. A failure
  // raised by Send carries the same text as its details.
  const QString &Conversation() const { return conversation_; }

private:
  QString from_;
  QString to_;
  QString subject_;
  QString body_;
  std::int32_t importance_ = 1;
  QString host_ = QStringLiteral("localhost");
  std::uint16_t port_ = 25;
  Timeouts timeouts_;
  bool sent_ = false;
  QString conversation_;
};

} // namespace mail
