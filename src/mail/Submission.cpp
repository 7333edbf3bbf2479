#include "mail/Submission.h"

#include "mail/Addresses.h"
#include "mail/MailErrors.h"
#include "mail/SmtpSession.h"

#include <QRegularExpression>
#include <QSysInfo>

#include <algorithm>

namespace mail {
namespace {

// EHLO, or HELO when the server refuses EHLO for good (an old server that
// does not know it); a temporary refusal, 421 included, is reported as it is,
// and so is "no service here" (554, 521): that is no answer about EHLO.
// The capabilities offered, none after HELO.
SmtpReply Hello(SmtpSession &session, const QString &name) {
  SmtpReply reply = session.Command(Step::Ehlo, "EHLO " + name.toUtf8());
  if (reply.code / 100 == 5 && reply.code != 554 && reply.code != 521)
    reply = session.Command(Step::Ehlo, "HELO " + name.toUtf8());
  if (reply.code / 100 != 2)
    session.Unexpected(reply);
  return reply;
}

void Expect(SmtpSession &session, const SmtpReply &reply, int first) {
  if (reply.code / 100 != first)
    session.Unexpected(reply);
}

QByteArray Path(const QString &address) { return '<' + address.toUtf8() + '>'; }

void Dialogue(SmtpSession &session, const Endpoint &endpoint, const Envelope &envelope,
              const QByteArray &message, Conversation &conversation) {
  session.Greeting();
  SmtpReply offered = Hello(session, endpoint.ehloName);
  if (offered.Offers("STARTTLS")) {
    const SmtpReply reply = session.Command(Step::StartTls, "STARTTLS");
    if (reply.code != 220)
      session.Unexpected(reply);
    session.StartTls();
    offered = Hello(session, endpoint.ehloName);
  }

  // Only a non-ASCII local part needs SMTPUTF8: domains come in their ASCII form.
  std::vector<QString> addresses{envelope.from};
  addresses.insert(addresses.end(), envelope.to.begin(), envelope.to.end());
  const auto needsUtf8 = [](const QString &address) {
    return !IsAscii(address.left(address.lastIndexOf(u'@')));
  };
  const auto nonAscii = std::find_if(addresses.begin(), addresses.end(), needsUtf8);
  if (nonAscii != addresses.end() && !offered.Offers("SMTPUTF8"))
    session.Fail(kUtf8NotOffered, *nonAscii);

  QByteArray mailFrom = "MAIL FROM:" + Path(envelope.from);
  if (offered.Offers("SIZE"))
    mailFrom += " SIZE=" + QByteArray::number(message.size());
  if (nonAscii != addresses.end())
    mailFrom += " SMTPUTF8";
  Expect(session, session.Command(Step::MailFrom, mailFrom), 2);
  for (const QString &recipient : envelope.to)
    Expect(session, session.Command(Step::RcptTo, "RCPT TO:" + Path(recipient)), 2);
  const SmtpReply data = session.Command(Step::Data, "DATA");
  if (data.code != 354)
    session.Unexpected(data);
  const SmtpReply accepted = session.Content(message);
  Expect(session, accepted, 2);
  session.Accepted(accepted);
  conversation.Conclude(QStringLiteral("The server accepted the message: ") + accepted.Text());
}

} // namespace

QString ValidHostNameOrLocalhost(const QString &name) {
  // A DNS name: labels of 1 to 63 letters, digits and hyphens, none at either
  // end of a label, 253 octets in all.
  static const QRegularExpression label(QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?$"));
  const QStringList labels = name.split(u'.');
  const bool valid = !name.isEmpty() && name.size() <= 253 &&
                     std::all_of(labels.begin(), labels.end(),
                                 [](const QString &part) { return label.match(part).hasMatch(); });
  return valid ? name : QStringLiteral("localhost");
}

QString ThisHostName() { return ValidHostNameOrLocalhost(QSysInfo::machineHostName()); }

void Submit(const Endpoint &endpoint, const Envelope &envelope, const QByteArray &message,
            const Timeouts &timeouts, Conversation &conversation) {
  SmtpSession session(endpoint.host, endpoint.port, timeouts, conversation);
  session.Connect();
  try {
    Dialogue(session, endpoint, envelope, message, conversation);
  } catch (...) {
    session.Quit();
    throw;
  }
  session.Quit();
}

} // namespace mail
