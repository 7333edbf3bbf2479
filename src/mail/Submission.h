#pragma once

#include "mail/NewMail.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

namespace mail {

struct Endpoint {
  QString host;
  std::uint16_t port = 25;
  QString ehloName; // how this machine introduces itself
};

struct Envelope {
  QString from;
  std::vector<QString> to;
};

// Hands `message` (complete, CR LF line ends, not dot-stuffed) to the SMTP
// server at `endpoint` over libcurl: EHLO, STARTTLS when offered, MAIL FROM, one
// RCPT TO per recipient, DATA. Returns once the server accepted the end of
// data; otherwise raises ErrorRecord as mail/MailErrors.h describes. An address
// with a non-ASCII local part goes with SMTPUTF8 when the server offers it, else
// nothing is sent; a non-ASCII domain goes in its IDNA form.
void Submit(const Endpoint &endpoint, const Envelope &envelope, const QByteArray &message,
            const Timeouts &timeouts);

// This machine's name as it goes after EHLO and into the Message-ID: a valid
// DNS name, else "localhost".
QString ThisHostName();
QString ValidHostNameOrLocalhost(const QString &name);

} // namespace mail
