#include "mail/Addresses.h"

#include "mail/GMimeHandles.h"
#include "mail/MailErrors.h"

#include <QStringEncoder>

#include <idn2.h>

#include <algorithm>
#include <memory>
#include <optional>

namespace mail {
namespace {

[[noreturn]] void Invalid(const QString &field, const QString &text, const QString &why) {
  Failure failure;
  failure.number = kInvalidAddress;
  failure.field = field;
  failure.text = Visible(text);
  failure.detail = why;
  Raise(failure);
}

bool IsControl(QChar c) {
  // A tab is only a blank between words; every other control could end a
  // command or a header line.
  return (c.category() == QChar::Other_Control && c != u'\t') || c == QChar::LineSeparator ||
         c == QChar::ParagraphSeparator;
}

enum class Context { Structural, Quoted, Comment };

// Walks `text` telling for each character whether it stands inside a quoted
// string, inside a comment, or outside both, the only place where separators
// and brackets mean anything.
template <class Visit> void ForEachCharacter(const QString &text, Visit visit) {
  bool quoted = false;
  int commentDepth = 0;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (quoted || commentDepth > 0) {
      const Context context = quoted ? Context::Quoted : Context::Comment;
      visit(i, context);
      if (c == u'\\' && i + 1 < text.size())
        visit(++i, context);
      else if (quoted)
        quoted = c != u'"';
      else
        commentDepth += c == u'(' ? 1 : c == u')' ? -1 : 0;
    } else if (c == u'"') {
      quoted = true;
      visit(i, Context::Quoted);
    } else if (c == u'(') {
      commentDepth = 1;
      visit(i, Context::Comment);
    } else {
      visit(i, Context::Structural);
    }
  }
}

// GMime reads ';' as the end of a group and drops what follows it, and skips
// parts it cannot read, so the text is cut into one part per mailbox first and
// each part is read on its own.
std::vector<QString> SplitParts(const QString &text) {
  std::vector<QString> parts;
  qsizetype start = 0;
  bool inAngle = false;
  ForEachCharacter(text, [&](qsizetype i, Context context) {
    if (context != Context::Structural)
      return;
    const QChar c = text[i];
    if (c == u'<')
      inAngle = true;
    else if (c == u'>')
      inAngle = false;
    else if (!inAngle && (c == u',' || c == u';')) {
      parts.push_back(text.mid(start, i - start).trimmed());
      start = i + 1;
    }
  });
  parts.push_back(text.mid(start).trimmed());
  std::erase_if(parts, [](const QString &part) { return part.isEmpty(); });
  return parts;
}

QString WithoutComments(const QString &text) {
  QString kept;
  ForEachCharacter(text, [&](qsizetype i, Context context) {
    if (context != Context::Comment)
      kept += text[i];
  });
  return kept;
}

// True when GMime's reading of `part` accounts for all of it: the address it
// found is the whole part, or the whole of the one <...> with nothing after it.
bool AddressIsWholePart(const QString &part, const QString &address) {
  const QString bare = WithoutComments(part);
  qsizetype open = -1, close = -1;
  int brackets = 0;
  ForEachCharacter(bare, [&](qsizetype i, Context context) {
    if (context == Context::Structural && (bare[i] == u'<' || bare[i] == u'>')) {
      ++brackets;
      (bare[i] == u'<' ? open : close) = i;
    }
  });
  if (brackets == 0)
    return bare.trimmed() == address;
  return brackets == 2 && open >= 0 && close > open &&
         bare.mid(open + 1, close - open - 1).trimmed() == address && bare.mid(close + 1).trimmed().isEmpty();
}

// SMTP carries a path of at most 256 octets, the angle brackets included.
constexpr qsizetype kLongestAddress = 254;

QString WhyNotAnAddress(const QString &address) {
  if (address.toUtf8().size() > kLongestAddress)
    return QStringLiteral("it is longer than the %1 octets SMTP allows").arg(kLongestAddress);
  const qsizetype at = address.lastIndexOf(u'@');
  if (at < 0)
    return QStringLiteral("it has no \"@\"");
  if (at == 0 || at == address.size() - 1)
    return QStringLiteral("it needs a name before the \"@\" and a domain after it");
  for (const QChar c : address)
    if (c.isSpace())
      return QStringLiteral("it contains a blank");
  return {};
}

struct Idn2Free {
  void operator()(char *text) const { idn2_free(text); }
};

// The address with its domain in the one ASCII form (IDNA2008, UTS #46
// non-transitional), made here rather than left to GMime: its own
// depends on the locale, and envelope and header must carry the same name.
// An ASCII domain is kept as typed.
QString WithAsciiDomain(const QString &field, const QString &part, const QString &address) {
  const qsizetype at = address.lastIndexOf(u'@');
  const QString domain = address.mid(at + 1);
  if (IsAscii(domain))
    return address;
  char *ascii = nullptr;
  const int result = idn2_to_ascii_8z(Utf8(domain).constData(), &ascii, IDN2_NONTRANSITIONAL);
  const std::unique_ptr<char, Idn2Free> owned(ascii);
  if (result != IDN2_OK)
    Invalid(field, part,
            QStringLiteral("its domain \"%1\" has no valid ASCII (IDNA) form: %2")
                .arg(Visible(domain), QString::fromUtf8(idn2_strerror(result))));
  return address.left(at + 1) + QString::fromLatin1(ascii);
}

// GMime decodes an encoded-word even inside a quoted string, but a quoted
// string is literal text (RFC 2047 section 5): a name typed as one quoted
// string is taken as typed, only its backslash escapes undone.
std::optional<QString> QuotedName(const QString &part) {
  const QString bare = WithoutComments(part);
  qsizetype open = -1;
  ForEachCharacter(bare, [&](qsizetype i, Context context) {
    if (open < 0 && context == Context::Structural && bare[i] == u'<')
      open = i;
  });
  const QString phrase = bare.left(std::max<qsizetype>(open, 0)).trimmed();
  if (phrase.size() < 2 || !phrase.startsWith(u'"') || !phrase.endsWith(u'"'))
    return std::nullopt;
  bool whole = true;
  ForEachCharacter(phrase, [&](qsizetype, Context context) { whole = whole && context == Context::Quoted; });
  if (!whole)
    return std::nullopt;
  QString name;
  const QString inner = phrase.mid(1, phrase.size() - 2);
  for (qsizetype i = 0; i < inner.size(); ++i)
    name += inner[i] == u'\\' && i + 1 < inner.size() ? inner[++i] : inner[i];
  return name.trimmed();
}

// A ':' outside quotes, comments and brackets begins a group; a mailbox has
// none. GMime reads a group within a group by recursion, without a bound, so
// that a long enough "a: a: a: ..." overflows the stack: such text never
// reaches it.
bool NestsGroups(const QString &part) {
  int colons = 0;
  int brackets = 0;
  ForEachCharacter(part, [&](qsizetype i, Context context) {
    if (context != Context::Structural)
      return;
    const QChar c = part[i];
    brackets += c == u'<' || c == u'[' ? 1 : c == u'>' || c == u']' ? -1 : 0;
    colons += c == u':' && brackets <= 0 ? 1 : 0;
  });
  return colons > 1;
}

Mailbox ReadMailbox(const QString &field, const QString &part) {
  if (NestsGroups(part))
    Invalid(field, part, QStringLiteral("address groups are not supported"));
  gmime::EnsureStarted();
  gmime::ParserOptions options(g_mime_parser_options_new());
  g_mime_parser_options_set_address_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_STRICT);
  const QByteArray utf8 = Utf8(part);
  gmime::Ptr<InternetAddressList> list(internet_address_list_parse(options.get(), utf8.constData()));
  const int count = list ? internet_address_list_length(list.get()) : 0;
  if (count == 0)
    Invalid(field, part, QStringLiteral("it is not an email address"));
  if (count > 1)
    Invalid(field, part, QStringLiteral("separate addresses with commas or semicolons"));
  InternetAddress *found = internet_address_list_get_address(list.get(), 0);
  if (!INTERNET_ADDRESS_IS_MAILBOX(found))
    Invalid(field, part, QStringLiteral("address groups are not supported"));
  Mailbox mailbox;
  mailbox.address = QString::fromUtf8(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(found)));
  mailbox.name = QuotedName(part).value_or(QString::fromUtf8(internet_address_get_name(found)).trimmed());
  // A tab is a blank between words here as anywhere in the field; the name
  // goes into a header as text, where a control character has no place.
  mailbox.name.replace(u'\t', u' ');
  if (const QString why = WhyNotAnAddress(mailbox.address); !why.isEmpty())
    Invalid(field, part, why);
  if (!AddressIsWholePart(part, mailbox.address))
    Invalid(field, part, QStringLiteral("it is not an email address"));
  mailbox.address = WithAsciiDomain(field, part, mailbox.address);
  if (mailbox.address.toUtf8().size() > kLongestAddress)
    Invalid(
        field, part,
        QStringLiteral("in its ASCII form it is longer than the %1 octets SMTP allows").arg(kLongestAddress));
  return mailbox;
}

std::vector<QString> CheckedParts(const QString &field, const QString &text) {
  for (const QChar c : text)
    if (IsControl(c))
      Invalid(field, text, QStringLiteral("it contains a control character"));
  return SplitParts(text);
}

} // namespace

std::vector<Mailbox> ParseRecipients(const QString &text) {
  const std::vector<QString> parts = CheckedParts(QStringLiteral("To"), text);
  if (parts.empty())
    Raise(kNoRecipient);
  std::vector<Mailbox> mailboxes;
  mailboxes.reserve(parts.size());
  for (const QString &part : parts)
    mailboxes.push_back(ReadMailbox(QStringLiteral("To"), part));
  return mailboxes;
}

Mailbox ParseSender(const QString &text) {
  const std::vector<QString> parts = CheckedParts(QStringLiteral("From"), text);
  if (parts.empty())
    Raise(kNoSender);
  if (parts.size() > 1)
    Invalid(QStringLiteral("From"), text, QStringLiteral("the sender is one address only"));
  return ReadMailbox(QStringLiteral("From"), parts.front());
}

QByteArray Utf8(const QString &text) {
  // Stateless: a lone surrogate, even the last character, becomes U+FFFD.
  QStringEncoder encoder(QStringEncoder::Utf8, QStringConverter::Flag::Stateless);
  return encoder.encode(text);
}

bool IsAscii(const QString &text) {
  return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

} // namespace mail
