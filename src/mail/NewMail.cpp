#include "mail/NewMail.h"

#include "mail/Addresses.h"
#include "mail/Compose.h"
#include "mail/CurlHandles.h"
#include "mail/GMimeHandles.h"
#include "mail/MailErrors.h"
#include "mail/Submission.h"
#include "mail/SubmissionTarget.h"

#include <algorithm>

namespace mail {

NewMail::NewMail() {
  if (!curl::EnsureStarted())
    Raise(kCannotStart, {}, QStringLiteral("libcurl could not be initialised"));
  gmime::EnsureStarted();
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
  CheckImportance(value);
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

  MessageFields fields;
  fields.from = ParseSender(from_);
  fields.to = ParseRecipients(to_);
  fields.subject = subject_;
  fields.body = body_;
  fields.importance = importance_;
  fields.date = QDateTime::currentDateTime();
  const QString host = ThisHostName();
  fields.messageId = NewMessageId(host);

  Envelope envelope{fields.from.address, {}};
  for (const Mailbox &mailbox : fields.to)
    envelope.to.push_back(mailbox.address);

  Submit({host_, port_, host}, envelope, Compose(fields), timeouts_);
  sent_ = true;
}

} // namespace mail
