// Reading From and To texts: any text either gives mailboxes that the text
// names, or one of the address errors; never anything else.
#include "base/ErrorRecord.h"
#include "fuzz/FuzzFields.h"
#include "mail/Addresses.h"
#include "mail/MailErrors.h"

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void Broken(const char *what, const QString &text) {
  std::fprintf(stderr, "property broken: %s\ntext: %s\n", what, qPrintable(text.left(400)));
  std::abort();
}

void Require(bool holds, const char *what, const QString &text) {
  if (!holds)
    Broken(what, text);
}

bool HasLineBreakOrControl(const QString &text) {
  for (const QChar c : text)
    if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
      return true;
  return false;
}

void CheckMailbox(const mail::Mailbox &mailbox, const QString &text) {
  Require(!mailbox.address.isEmpty(), "an empty address was accepted", text);
  Require(!HasLineBreakOrControl(mailbox.address), "an address holds a control character", text);
  Require(!HasLineBreakOrControl(mailbox.name), "a display name holds a control character", text);
  Require(mailbox.address.toUtf8().size() <= 254, "an address longer than an SMTP path carries", text);
  // Whatever the reading, the envelope may only hold addresses the user typed:
  // as typed, or with a non-ASCII domain in its ASCII (IDNA) form.
  const qsizetype at = mailbox.address.lastIndexOf(u'@');
  const bool asTyped = text.contains(mailbox.address, Qt::CaseSensitive);
  const bool domainMadeAscii = at > 0 && text.contains(mailbox.address.left(at + 1), Qt::CaseSensitive) &&
                               mail::IsAscii(mailbox.address.mid(at + 1));
  Require(asTyped || domainMadeAscii, "an address that the text does not name", text);
}

qsizetype Separators(const QString &text) { return text.count(u',') + text.count(u';'); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::vector<QString> fields = FuzzFields(data, size, 2);
  const QString &from = fields[0];
  const QString &to = fields[1];

  try {
    const std::vector<mail::Mailbox> recipients = mail::ParseRecipients(to);
    Require(!recipients.empty(), "no recipient and no error", to);
    Require(static_cast<qsizetype>(recipients.size()) <= Separators(to) + 1, "more mailboxes than parts", to);
    for (const mail::Mailbox &mailbox : recipients)
      CheckMailbox(mailbox, to);
    Require(mail::ParseRecipients(to) == recipients, "a second reading differs", to);
  } catch (const ErrorRecord &error) {
    Require(error.Number() == mail::kInvalidAddress || error.Number() == mail::kNoRecipient,
            "an unexpected error number for To", to);
    Require(!error.Description().contains(u'\r') && !error.Description().contains(u'\n'),
            "the description of a To error breaks its line", to);
  }

  try {
    const mail::Mailbox sender = mail::ParseSender(from);
    CheckMailbox(sender, from);
    // A sender is a To text of exactly one mailbox.
    const std::vector<mail::Mailbox> asRecipients = mail::ParseRecipients(from);
    Require(asRecipients.size() == 1 && asRecipients[0] == sender, "From and To read one mailbox differently",
            from);
  } catch (const ErrorRecord &error) {
    Require(error.Number() == mail::kInvalidAddress || error.Number() == mail::kNoSender,
            "an unexpected error number for From", from);
    Require(!error.Description().contains(u'\r') && !error.Description().contains(u'\n'),
            "the description of a From error breaks its line", from);
  }
  return 0;
}
