#include "mail/NewMail.h"

#include "base/ErrorRecord.h"
#include "mail/Engine.h"
#include "mail/MailErrors.h"

#include <algorithm>
#include <new>
#include <stdexcept>
#include <string>

namespace mail {
namespace {

Target &DefaultTarget() {
  static Target target;
  return target;
}

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
  target_ = DefaultTarget();
}

NewMail::~NewMail() = default;

void NewMail::From(const QString &text) { from_ = text; }
void NewMail::To(const QString &text) { to_ = text; }
void NewMail::Subject(const QString &text) { subject_ = text; }
void NewMail::Body(const QString &text) { body_ = text; }

void NewMail::Importance(std::int32_t value) {
  CheckImportance(value);
  importance_ = value;
}

void SetDefaultTarget(const Target &target) {
  const auto atLeastOne = [](std::chrono::milliseconds bound) {
    return std::max(bound, std::chrono::milliseconds(1));
  };
  const Timeouts &bounds = target.Bounds;
  DefaultTarget() = {target.Host,
                     target.Port,
                     {atLeastOne(bounds.Connect), atLeastOne(bounds.Reply), atLeastOne(bounds.Total)}};
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
                                View(target_.Host),
                                target_.Port,
                                target_.Bounds.Connect.count(),
                                target_.Bounds.Reply.count(),
                                target_.Bounds.Total.count()};
  Reported reported;
  const std::int32_t returned = Engine().send(&message, &Reported::Take, &reported);
  conversation_ = reported.conversation;
  reported.RaiseIfFailed(returned);
  sent_ = true;
}

} // namespace mail
