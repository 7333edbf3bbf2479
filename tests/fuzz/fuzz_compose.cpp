// Composing a message from any field texts: the result is always one
// well-formed message whose headers cannot be multiplied or added to from the
// fields, whose recipients are exactly those the To text names, and whose body
// is the text typed, line breaks aside.
#include "base/ErrorRecord.h"
#include "fuzz/FuzzFields.h"
#include "mail/Addresses.h"
#include "mail/Compose.h"
#include "mail/GMimeHandles.h"
#include "mail/MailErrors.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QTimeZone>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

namespace {

using mail::gmime::Ptr;

constexpr qsizetype kLongestLine = 998;
constexpr std::size_t kMostRecipients = 1000;
const char *const kSingleHeaders[] = {
    "from",       "to",           "subject",      "date",
    "message-id", "mime-version", "content-type", "content-transfer-encoding",
    "importance", "x-priority",   "x-mailer"};

[[noreturn]] void Broken(const char *what, const QByteArray &message, const QByteArray &detail = {}) {
  std::fprintf(stderr, "property broken: %s\n%s\nmessage starts:\n%s\n", what, detail.constData(),
               message.left(2000).constData());
  std::abort();
}

void Require(bool holds, const char *what, const QByteArray &message) {
  if (!holds)
    Broken(what, message);
}

// Every line ends in CR LF and none is longer than SMTP allows.
void CheckLines(const QByteArray &message) {
  Require(message.endsWith("\r\n"), "the message does not end with CR LF", message);
  qsizetype start = 0;
  for (qsizetype i = 0; i < message.size(); ++i) {
    const char c = message[i];
    if (c == '\r') {
      Require(i + 1 < message.size() && message[i + 1] == '\n', "a CR without LF", message);
    } else if (c == '\n') {
      Require(i > 0 && message[i - 1] == '\r', "an LF without CR", message);
      Require(i - 1 - start <= kLongestLine, "a line over 998 octets", message);
      start = i + 1;
    } else if (c == '\0') {
      Broken("a NUL octet", message);
    }
  }
}

// The header names in order, one per header (folded lines joined).
std::map<std::string, int> HeaderCounts(const QByteArray &message, QByteArray &toValue,
                                        QByteArray &fromValue) {
  std::map<std::string, int> counts;
  const qsizetype end = message.indexOf("\r\n\r\n");
  Require(end > 0, "no blank line after the header", message);
  QByteArray *current = nullptr;
  bool inHeader = false;
  for (const QByteArray &line : message.left(end).split('\n')) {
    const QByteArray text = line.endsWith('\r') ? line.chopped(1) : line;
    if (text.startsWith(' ') || text.startsWith('\t')) {
      Require(inHeader, "a continuation line before any header", message);
      if (current)
        *current += text;
      continue;
    }
    const qsizetype colon = text.indexOf(':');
    Require(colon > 0, "a header line without a name", message);
    const QByteArray name = text.left(colon).trimmed().toLower();
    ++counts[name.toStdString()];
    inHeader = true;
    current = nullptr;
    if (name == "to") {
      toValue = text.mid(colon + 1);
      current = &toValue;
    } else if (name == "from") {
      fromValue = text.mid(colon + 1);
      current = &fromValue;
    }
  }
  return counts;
}

// The addresses of a header value as GMime reads them, in their ASCII form.
QByteArrayList AddressesOf(const QByteArray &value) {
  QByteArrayList addresses;
  Ptr<InternetAddressList> list(internet_address_list_parse(nullptr, value.constData()));
  if (!list)
    return addresses;
  for (int i = 0; i < internet_address_list_length(list.get()); ++i) {
    InternetAddress *address = internet_address_list_get_address(list.get(), i);
    if (!INTERNET_ADDRESS_IS_MAILBOX(address))
      return {"(a group)"};
    addresses << internet_address_mailbox_get_idn_addr(INTERNET_ADDRESS_MAILBOX(address));
  }
  return addresses;
}

QByteArray AsciiForm(const mail::Mailbox &mailbox) {
  Ptr<InternetAddress> address(internet_address_mailbox_new(nullptr, mailbox.address.toUtf8().constData()));
  return internet_address_mailbox_get_idn_addr(INTERNET_ADDRESS_MAILBOX(address.get()));
}

// The text in UTF-8 with each surrogate that has no other half as U+FFFD,
// which is all UTF-8 can say of it.
QByteArray Utf8(const QString &text) {
  QString whole;
  whole.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
      whole += c;
      whole += text[++i];
    } else {
      whole += c.isSurrogate() ? QChar(QChar::ReplacementCharacter) : c;
    }
  }
  return whole.toUtf8();
}

QByteArray WithLf(QByteArray text) {
  text.replace("\r\n", "\n");
  text.replace('\r', '\n');
  return text;
}

// The body as a reader decodes it, from the composed message itself.
QByteArray DecodedBody(const QByteArray &message) {
  Ptr<GMimeStream> stream(
      g_mime_stream_mem_new_with_buffer(message.constData(), static_cast<gsize>(message.size())));
  Ptr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  Ptr<GMimeMessage> parsed(g_mime_parser_construct_message(parser.get(), nullptr));
  Require(parsed != nullptr, "GMime cannot read the message back", message);
  GMimeObject *part = g_mime_message_get_mime_part(parsed.get());
  Require(part != nullptr && GMIME_IS_TEXT_PART(part), "the body is not one text part", message);
  GMimeDataWrapper *content = g_mime_part_get_content(GMIME_PART(part));
  Ptr<GMimeStream> decoded(g_mime_stream_mem_new());
  g_mime_data_wrapper_write_to_stream(content, decoded.get());
  const GByteArray *bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(decoded.get()));
  return {reinterpret_cast<const char *>(bytes->data), static_cast<qsizetype>(bytes->len)};
}

void CheckMessage(const QByteArray &message, const mail::MessageFields &fields) {
  CheckLines(message);
  QByteArray to, from;
  const std::map<std::string, int> counts = HeaderCounts(message, to, from);
  for (const char *name : kSingleHeaders) {
    const auto it = counts.find(name);
    if (it == counts.end() || it->second != 1)
      Broken("a single header is missing or repeated", message, QByteArray("header: ") + name);
  }
  for (const char *name : {"cc", "bcc", "resent-to", "resent-cc", "resent-bcc", "reply-to", "sender"})
    Require(counts.find(name) == counts.end(), "a recipient header the fields did not ask for", message);

  QByteArrayList expected;
  for (const mail::Mailbox &mailbox : fields.to)
    expected << AsciiForm(mailbox);
  Require(AddressesOf(to) == expected, "the To header names other recipients than the To text", message);
  Require(AddressesOf(from) == QByteArrayList{AsciiForm(fields.from)}, "the From header is not the sender",
          message);
  // Encoding may change the line breaks; it must not change the text.
  const QByteArray decoded = WithLf(DecodedBody(message));
  QByteArray typed = WithLf(Utf8(fields.body));
  // Every line of a message ends with a break; a last line typed without one gets one.
  if (!typed.isEmpty() && !typed.endsWith('\n') && decoded == typed + '\n')
    typed += '\n';
  if (decoded != typed)
    Broken("the body does not decode to the text", message,
           "decoded: " + decoded.left(300).toPercentEncoding() +
               "\ntyped:   " + typed.left(300).toPercentEncoding() +
               "\nsizes: " + QByteArray::number(decoded.size()) + " " + QByteArray::number(typed.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  mail::gmime::EnsureStarted();
  const std::vector<QString> fields = FuzzFields(data, size, 5);
  mail::MessageFields message;
  try {
    message.from = mail::ParseSender(fields[0]);
    message.to = mail::ParseRecipients(fields[1]);
  } catch (const ErrorRecord &) {
    return 0; // the address target checks these
  }
  // GMime rewrites the To header for each address added, so composing costs the
  // square of the recipients: thousands only slow the search down.
  if (message.to.size() > kMostRecipients)
    return 0;
  message.subject = fields[2];
  message.body = fields[3];
  // -1 to 3: the three importances and one invalid value on each side.
  message.importance =
      fields[4].isEmpty() ? mail::kNormal : static_cast<std::int32_t>(fields[4][0].unicode() % 5) - 1;
  message.date = QDateTime::fromSecsSinceEpoch(1700000000, QTimeZone::utc());
  message.messageId = QStringLiteral("fuzz.1@localhost");

  QByteArray composed;
  try {
    composed = mail::Compose(message);
  } catch (const ErrorRecord &error) {
    if (error.Number() != mail::kInvalidImportance || (message.importance >= 0 && message.importance <= 2))
      Broken("Compose refused valid fields", error.Description().toUtf8());
    return 0;
  }
  Require(message.importance >= 0 && message.importance <= 2, "an invalid importance was composed", composed);
  CheckMessage(composed, message);
  return 0;
}
