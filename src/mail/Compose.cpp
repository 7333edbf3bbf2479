#include "mail/Compose.h"

#include "base/Version.h"
#include "mail/GMimeHandles.h"
#include "mail/MailErrors.h"

#include <QByteArrayList>
#include <QStringEncoder>

#include <algorithm>

#include <string_view>

namespace mail {
namespace {

struct ImportanceHeaders {
  const char *importance;
  const char *priority;
};

ImportanceHeaders HeadersFor(std::int32_t importance) {
  switch (importance) {
  case kLow:
    return {"low", "5"};
  case kHigh:
    return {"high", "1"};
  default:
    return {"normal", "3"};
  }
}

// GMime folds a header only between words and keeps a run of blanks whole on
// one line, so a run of blanks longer than a header line is cut to that length.
constexpr qsizetype kLongestBlankRun = 76;

// The subject as one header line: line breaks and other controls become
// blanks, so no text of the user's can start a header of its own.
QString OneLine(const QString &subject) {
  QString line;
  line.reserve(subject.size());
  qsizetype blanks = 0;
  for (QChar c : subject) {
    if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
      c = u' ';
    blanks = c == u' ' ? blanks + 1 : 0;
    if (blanks <= kLongestBlankRun)
      line += c;
  }
  return line;
}

// The body in UTF-8 with every line break (CR LF, a lone CR, a lone LF) as
// `lineBreak`, encoded straight into the buffer GMime will own: a 10 MB body
// is copied as few times as possible.
GByteArray *WithBreaks(const QString &body, std::string_view lineBreak) {
  // Stateless: a lone surrogate at the end is written as U+FFFD, not held
  // back waiting for a second half that never comes.
  QStringEncoder utf8(QStringEncoder::Utf8, QStringConverter::Flag::Stateless);
  GByteArray *out = g_byte_array_new();
  g_byte_array_set_size(out, static_cast<guint>(utf8.requiredSpace(body.size())));
  char *const begin = reinterpret_cast<char *>(out->data);
  const char *const end = utf8.appendToBuffer(begin, body);
  // In place, every break as one LF: the text only shrinks.
  char *kept = begin;
  qsizetype breaks = 0;
  for (const char *p = begin; p != end; ++p) {
    const char c = *p; // read before `kept` may write over it
    const bool lineEnd = c == '\r' || c == '\n';
    *kept++ = lineEnd ? '\n' : c;
    breaks += lineEnd;
    if (c == '\r' && p + 1 != end && p[1] == '\n')
      ++p;
  }
  const auto length = static_cast<qsizetype>(kept - begin);
  if (lineBreak == "\n") {
    g_byte_array_set_size(out, static_cast<guint>(length));
    return out;
  }
  GByteArray *expanded = g_byte_array_sized_new(
      static_cast<guint>(length + breaks * static_cast<qsizetype>(lineBreak.size() - 1)));
  const auto append = [expanded](const char *from, std::size_t size) {
    g_byte_array_append(expanded, reinterpret_cast<const guint8 *>(from), static_cast<guint>(size));
  };
  const char *run = begin;
  for (const char *p = begin; p != kept; ++p) {
    if (*p != '\n')
      continue;
    append(run, static_cast<std::size_t>(p - run));
    append(lineBreak.data(), lineBreak.size());
    run = p + 1;
  }
  append(run, static_cast<std::size_t>(kept - run));
  g_byte_array_unref(out);
  return expanded;
}

void SetContent(GMimePart *part, const QString &body, std::string_view lineBreak) {
  gmime::Ptr<GMimeStream> content(g_mime_stream_mem_new_with_byte_array(WithBreaks(body, lineBreak)));
  gmime::Ptr<GMimeDataWrapper> wrapper(
      g_mime_data_wrapper_new_with_stream(content.get(), GMIME_CONTENT_ENCODING_DEFAULT));
  g_mime_part_set_content(part, wrapper.get());
}

// A reader decodes every "=?charset?encoding?text?=" it meets (RFC 2047), even
// inside a word, and GMime passes ASCII text through untouched: text typed in
// that form would arrive as something else. Such a text goes whole as
// encoded-words of its own UTF-8, which decode to exactly what was typed.
QByteArray HeaderText(const QString &text) {
  QByteArray utf8 = Utf8(text);
  if (!utf8.contains("=?"))
    return utf8;
  // 45 octets make 60 of base64: each encoded-word stays within 75 characters.
  constexpr qsizetype kOctetsPerWord = 45;
  QByteArrayList words;
  for (qsizetype at = 0; at < utf8.size();) {
    qsizetype end = std::min(at + kOctetsPerWord, utf8.size());
    while (end < utf8.size() && end > at + 1 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80)
      --end; // not inside a character
    words << "=?utf-8?b?" + utf8.mid(at, end - at).toBase64() + "?=";
    at = end;
  }
  return words.join(' '); // blanks between encoded-words are not part of the text
}

void AddMailbox(InternetAddressList *list, const Mailbox &mailbox) {
  gmime::Ptr<InternetAddress> address(
      internet_address_mailbox_new(HeaderText(mailbox.name).constData(), Utf8(mailbox.address).constData()));
  internet_address_list_add(list, address.get());
}

void SetHeader(GMimeObject *object, const char *name, const QByteArray &value) {
  g_mime_object_set_header(object, name, value.constData(), "utf-8");
}

gmime::Ptr<GMimeTextPart> TextPart(const QString &body) {
  gmime::Ptr<GMimeTextPart> part(g_mime_text_part_new_with_subtype("plain"));
  GMimePart *mimePart = GMIME_PART(part.get());
  // GMime turns LF into CR LF as it writes 7bit and quoted-printable text, so
  // the body goes in with LF breaks (a CR given to quoted-printable would
  // travel as "=0D").
  SetContent(mimePart, body, "\n");
  g_mime_text_part_set_charset(part.get(), "utf-8");
  // 7-bit clean keeps the message intact through any relay; GMime picks 7bit
  // when the text allows it (ASCII, short lines), else quoted-printable or base64.
  // It answers "default" for text that needs no encoding; the header then says
  // 7bit outright rather than leave readers to assume it.
  GMimeContentEncoding encoding =
      g_mime_part_get_best_content_encoding(mimePart, GMIME_ENCODING_CONSTRAINT_7BIT);
  if (encoding == GMIME_CONTENT_ENCODING_DEFAULT)
    encoding = GMIME_CONTENT_ENCODING_7BIT;
  // Base64 carries the octets as they are, and text's canonical form has
  // CR LF breaks: a reader decoding it must find CR LF, not bare LF.
  if (encoding == GMIME_CONTENT_ENCODING_BASE64)
    SetContent(mimePart, body, "\r\n");
  g_mime_part_set_content_encoding(mimePart, encoding);
  return part;
}

} // namespace

QByteArray Compose(const MessageFields &fields) {
  CheckImportance(fields.importance);
  gmime::EnsureStarted();
  gmime::Ptr<GMimeMessage> message(g_mime_message_new(TRUE));
  GMimeObject *object = GMIME_OBJECT(message.get());

  AddMailbox(g_mime_message_get_from(message.get()), fields.from);
  InternetAddressList *to = g_mime_message_get_addresses(message.get(), GMIME_ADDRESS_TYPE_TO);
  for (const Mailbox &mailbox : fields.to)
    AddMailbox(to, mailbox);
  g_mime_message_set_subject(message.get(), HeaderText(OneLine(fields.subject)).constData(), "utf-8");
  gmime::DateTime date(g_date_time_new_from_unix_local(fields.date.toSecsSinceEpoch()));
  g_mime_message_set_date(message.get(), date.get());
  g_mime_message_set_message_id(message.get(), fields.messageId.toUtf8().constData());

  const ImportanceHeaders importance = HeadersFor(fields.importance);
  SetHeader(object, "Importance", importance.importance);
  SetHeader(object, "X-Priority", importance.priority);
  SetHeader(object, "X-Mailer", QByteArray(Version::kProductName) + ' ' + Version::kVersionText);

  g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(TextPart(fields.body).get()));

  gmime::FormatOptions format(g_mime_format_options_new());
  g_mime_format_options_set_newline_format(format.get(), GMIME_NEWLINE_FORMAT_DOS);
  // Room for a plain text body with CR LF breaks and the header, so that the
  // wire copy is seldom moved while it grows.
  const auto sizeHint = static_cast<guint>(fields.body.size() + fields.body.size() / 32 + 16384);
  gmime::Ptr<GMimeStream> out(g_mime_stream_mem_new_with_byte_array(g_byte_array_sized_new(sizeHint)));
  g_mime_object_write_to_stream(object, format.get(), out.get());
  message.reset(); // the body's copy goes before the wire copy is made
  const GByteArray *bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
  return {reinterpret_cast<const char *>(bytes->data), static_cast<qsizetype>(bytes->len)};
}

QString NewMessageId(const QString &host) {
  gmime::EnsureStarted();
  gmime::CString id(g_mime_utils_generate_message_id(host.toUtf8().constData()));
  return QString::fromUtf8(id.get());
}

} // namespace mail
