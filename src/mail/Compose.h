#pragma once

#include "mail/Addresses.h"
#include "mail/Settings.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <vector>

namespace mail {

// Everything that goes into one message. Date and Message-ID are given rather
// than made here so that the same fields always compose the same bytes.
struct MessageFields {
  Mailbox from;
  std::vector<Mailbox> to;
  QString subject;
  QString body; // any line breaks: CR LF, CR or LF
  std::int32_t importance = kNormal;
  QDateTime date;
  QString messageId; // without the angle brackets
};

// The complete RFC 5322 message, as it goes after DATA: CR LF line ends, every
// line within 998 octets, 7-bit clean (RFC 2047 for a non-ASCII subject and
// names; quoted-printable or base64 for a body that needs it), text/plain in
// UTF-8, with Importance, X-Priority and X-Mailer. CR, LF and other control
// characters in the subject become blanks, so the subject is always one header.
// Raises kInvalidImportance for an importance other than 0, 1 or 2.
QByteArray Compose(const MessageFields &fields);

// A Message-ID for a message sent from `host`.
QString NewMessageId(const QString &host);

} // namespace mail
