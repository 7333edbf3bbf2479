#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

namespace mail {

// One mailbox: the address proper and an optional display name (decoded text).
struct Mailbox {
  QString name;
  QString address;
  friend bool operator==(const Mailbox &, const Mailbox &) = default;
};

// Reads a To text: one or more mailboxes separated by commas or semicolons, each
// a bare address or `Name <address>`. Raises ErrorRecord kNoRecipient when the
// text holds no address, and kInvalidAddress, quoting the offending part, when
// any part is not exactly one address or holds a control character, or when a
// domain has no valid ASCII (IDNA) form. Each address comes back with its
// domain in that ASCII form. Nothing is silently dropped: either every part is
// a mailbox or the whole text is refused.
std::vector<Mailbox> ParseRecipients(const QString &text);

// Reads a From text: exactly one mailbox. Raises kNoSender when empty and
// kInvalidAddress as ParseRecipients does, or when it holds more than one.
Mailbox ParseSender(const QString &text);

// The text in UTF-8, a lone surrogate as U+FFFD (QString::toUtf8 makes it "?").
QByteArray Utf8(const QString &text);

// True when every character is ASCII (such an address needs no SMTPUTF8).
bool IsAscii(const QString &text);

} // namespace mail
