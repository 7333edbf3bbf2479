#include "mail/NewMail.h"

#include "base/ErrorRecord.h"
#include "mail/Compose.h"
#include "mail/Engine.h"
#include "mail/MailErrors.h"
#include "mail/SubmissionTarget.h"

#include <algorithm>
#include <new>
#include <stdexcept>
#include <string>

namespace mail {
namespace {

KestrineText View(const QString &text) {
  return {reinterpret_cast<const char16_t *>(text.utf16()), static_cast<std::size_t>(text.size())};
}

// What a failing engine entry point reported, raised again on this side as
// the frame that called it would have seen it.
struct Reported {
  std::int32_t outcome = kKestrineOk;
  std::int32_t number = 0;
  QString text;
  QString conversation;

  static void Take(void *context, std::int32_t outcome, std::int32_t number, const char16_t *text,
                   std::size_t size) noexcept {
    auto *self = static_cast<Reported *>(context);
    try {
      QString words(reinterpret_cast<const QChar *>(text), static_cast<qsizetype>(size));
      if (outcome == kKestrineConversation) {
        self->conversation = std::move(words);
        return;
      }
      self->text = std::move(words);
      self->outcome = outcome;
      self->number = number;
    } catch (...) {
      if (outcome != kKestrineConversation)
        self->outcome = kKestrineOutOfMemory;
    }
  }

  void RaiseIfFailed(std::int32_t returned) const {
    if (returned == kKestrineOk)
      return;
    switch (outcome) {
    case kKestrineErrorRecord:
      RaiseError(number, text, conversation);
    case kKestrineOutOfMemory:
      throw std::bad_alloc();
    default:
      throw std::runtime_error(text.isEmpty() ? std::string("the mail engine failed without saying why")
                                              : text.toStdString());
    }
  }
};

} // namespace

NewMail::NewMail() {
  const KestrineMailEngine &engine = Engine();
  Reported reported;
  reported.RaiseIfFailed(engine.start(&Reported::Take, &reported));
  const SubmissionTarget &target = DefaultTarget();
  Server(target.Host, target.Port);
  SetTimeouts(target.Bounds);
}

NewMail::~NewMail() = default;

void NewMail::From(const QString &text) { from_ = text; }
void NewMail::To(const QString &text) { to_ = text; }
void NewMail::Subject(const QString &text) { subject_ = text; }
void NewMail::Body(const QString &text) { body_ = text; }

void NewMail::Importance(std::int32_t value) {
  if (value < kLow || value > kHigh)
    Raise(kInvalidImportance, QString::number(value));
  importance_ = value;
}

void NewMail::Server(const QString &host, std::uint16_t port) {
  host_ = host;
  port_ = port;
}

void NewMail::SetTimeouts(const Timeouts &timeouts) {
  const auto atLeastOne = [](std::chrono::milliseconds bound) {
    return std::max(bound, std::chrono::milliseconds(1));
  };
  timeouts_ = {atLeastOne(timeouts.Connect), atLeastOne(timeouts.Reply), atLeastOne(timeouts.Total)};
}

void NewMail::Send(std::optional<QString> from, std::optional<QString> to, std::optional<QString> subject,
                   std::optional<QString> body, std::optional<std::int32_t> importance) {
  if (sent_)
    Raise(kAlreadySent);
  if (importance)
    Importance(*importance);
  if (from)
    from_ = *from;
  if (to)
    to_ = *to;
  if (subject)
    subject_ = *subject;
  if (body)
    body_ = *body;

  const KestrineMessage message{View(from_),
                                View(to_),
                                View(subject_),
                                View(body_),
                                importance_,
                                View(host_),
                                port_,
                                timeouts_.Connect.count(),
                                timeouts_.Reply.count(),
                                timeouts_.Total.count()};
  Reported reported;
  const std::int32_t returned = Engine().send(&message, &Reported::Take, &reported);
  conversation_ = reported.conversation;
  reported.RaiseIfFailed(returned);
  sent_ = true;
}

} // namespace mail
