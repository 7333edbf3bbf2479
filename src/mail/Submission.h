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
// nothing is sent; domains are expected in their ASCII form, as the address
// readers give them. timeouts.Connect bounds the TCP connection alone,
// timeouts.Reply (in whole seconds, rounded up) each reply from the greeting
// on and the TLS handshake, timeouts.Total everything; QUIT gets at most 1 s.
void Submit(const Endpoint &endpoint, const Envelope &envelope, const QByteArray &message,
            const Timeouts &timeouts);

// This machine's name as it goes after EHLO and into the Message-ID: a valid
// DNS name, else "localhost".
QString ThisHostName();
QString ValidHostNameOrLocalhost(const QString &name);

} // namespace mail
