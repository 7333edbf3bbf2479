#pragma once

#include "mail/Conversation.h"
#include "mail/Settings.h"

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
// server at `endpoint`, strictly in turn: EHLO (HELO when EHLO is refused
// with 5xx), STARTTLS when offered, MAIL FROM, one RCPT TO per recipient,
// DATA, the content, QUIT. Returns once the server accepted the end of data;
// otherwise raises ErrorRecord as base/ErrorNumbers.h lists. Either way,
// `conversation` holds the dialogue. An address with a non-ASCII local part
// goes with SMTPUTF8 when the server offers it, else nothing is sent; domains
// are expected in their ASCII form, as the address readers give them.
// timeouts.Connect bounds each address's TCP connection, timeouts.Reply each
// reply from the greeting on (the TLS handshake and the content going out
// included), timeouts.Total everything; QUIT gets at most 1 s more.
void Submit(const Endpoint &endpoint, const Envelope &envelope, const QByteArray &message,
            const Timeouts &timeouts, Conversation &conversation);

// This machine's name as it goes after EHLO and into the Message-ID: a valid
// DNS name, else "localhost".
QString ThisHostName();
QString ValidHostNameOrLocalhost(const QString &name);

} // namespace mail
