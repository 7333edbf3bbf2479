#include "mail/MailErrors.h"

#include "base/ErrorRecord.h"

#include <QStringList>

#include <algorithm>
#include <iterator>
#include <utility>

namespace mail {

namespace {

// Code points that render as nothing (Unicode's Default_Ignorable_Code_Point
// set) beyond the format characters: Hangul fillers, the combining grapheme
// joiner, variation selectors and the reserved ranges that may be given such
// a meaning. A quote could hide text behind them.
bool IsDefaultIgnorable(char32_t point) {
  static constexpr std::pair<char32_t, char32_t> kRanges[] = {
      {0x034F, 0x034F}, {0x115F, 0x1160},   {0x17B4, 0x17B5},   {0x180B, 0x180F},
      {0x2065, 0x2065}, {0x3164, 0x3164},   {0xFE00, 0xFE0F},   {0xFFA0, 0xFFA0},
      {0xFFF0, 0xFFF8}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF}};
  return std::any_of(std::begin(kRanges), std::end(kRanges),
                     [point](const auto &range) { return point >= range.first && point <= range.second; });
}

} // namespace

QString Visible(const QString &text) {
  QString shown;
  shown.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    char32_t point = c.unicode();
    const bool pair = c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
    if (pair)
      point = QChar::surrogateToUcs4(c, text[i + 1]);
    const QChar::Category category = QChar::category(point);
    if (c == u'\r')
      shown += QStringLiteral("\\r");
    else if (c == u'\n')
      shown += QStringLiteral("\\n");
    else if (category == QChar::Other_Control)
      shown += QStringLiteral("\\x%1").arg(point, 2, 16, QLatin1Char('0'));
    else if (category == QChar::Other_Format || category == QChar::Other_Surrogate ||
             category == QChar::Separator_Line || category == QChar::Separator_Paragraph ||
             IsDefaultIgnorable(point))
      shown += QStringLiteral("\\u{%1}").arg(QString::number(point, 16).toUpper().rightJustified(4, u'0'));
    else
      shown += pair ? text.mid(i, 2) : QString(c);
    i += pair ? 1 : 0;
  }
  return shown;
}

namespace {

// A reply can be arbitrarily long (a broken or hostile peer); a message box
// cannot. Beyond this the quote is cut and says how much was left out.
constexpr qsizetype kLongestQuote = 2000;

// Whatever a server sent is quoted on one line: its line breaks, like every
// other control character, are shown escaped, so that no quoted line can
// stand in the box as a line of its own ("Error code = 0").
QString Quote(const QString &text) {
  // Never between the two halves of a surrogate pair.
  const qsizetype keep =
      kLongestQuote - (text.size() > kLongestQuote && text[kLongestQuote - 1].isHighSurrogate());
  if (text.size() <= kLongestQuote)
    return Visible(text);
  return Visible(text.left(keep)) + QStringLiteral("... (%1 more characters)").arg(text.size() - keep);
}

// What a description says of each step; {command} stands for the command as
// it was sent. A new step gets its row here, or the build warns.
struct StepWords {
  const char16_t *doing;    // what Kestrine was waiting for when it failed
  const char16_t *answered; // a close once the step had its reply in full
  const char16_t *silent;   // what did not happen within a bound
  const char16_t *where;    // where a refusal came
  const char16_t *after;    // what a reply out of turn came after
  const char16_t *refused;  // what a refusal refused
  const char16_t *hint;     // what to check after a refusal
};

constexpr StepWords CommandStep(const char16_t *hint) {
  return {u"while waiting for the reply to {command}",
          u"after it answered {command}, before the next command reached it",
          u"sent no reply to {command}",
          u"in reply to {command}",
          u"its reply to {command}",
          u"the message",
          hint};
}

constexpr StepWords WordsFor(Step step) {
  constexpr const char16_t *kBeforeCommands = u"Check the server's connection restrictions and its log.";
  constexpr const char16_t *kContent = u"Check the server's content filters and its log.";
  switch (step) {
  case Step::Connecting:
    return {u"while connecting",   u"after its greeting, before the next command reached it",
            u"took no connection", u"in its greeting",
            u"its greeting",       u"the connection",
            kBeforeCommands};
  case Step::Greeting:
    return {u"while waiting for its greeting",
            u"after its greeting, before the next command reached it",
            u"sent no greeting",
            u"in its greeting",
            u"its greeting",
            u"the connection",
            kBeforeCommands};
  case Step::Ehlo:
    return CommandStep(u"Check the server's HELO/EHLO restrictions for this machine's name.");
  case Step::StartTls:
    return CommandStep(u"Check the server's TLS settings.");
  case Step::MailFrom:
    return CommandStep(u"Check that the server accepts this sender address.");
  case Step::RcptTo:
    return CommandStep(u"Check that the recipient exists and that the server accepts mail for its domain "
                       u"(relay restrictions).");
  case Step::Data:
    return CommandStep(u"Check the server's log for why it will not take the message.");
  case Step::MessageContent:
    return {u"while the message content was being sent",
            u"after it answered the end of the message data",
            u"did not take the message content",
            u"unasked, while the message content was being sent",
            u"its reply to DATA",
            u"the message",
            kContent};
  case Step::EndOfData:
    return {u"while waiting for the reply to the end of the message data",
            u"after it answered the end of the message data",
            u"sent no reply to the end of the message data",
            u"in reply to the end of the message data",
            u"its reply to DATA",
            u"the message",
            kContent};
  }
  return {};
}

// The words `part` of the failure's step, with its command in place.
QString Words(const Failure &f, const char16_t *StepWords::*part) {
  return QString::fromUtf16(WordsFor(f.step).*part).replace(QStringLiteral("{command}"), f.command);
}

// What did not happen within the bound in f.detail.
QString NothingWithin(const Failure &f) {
  if (f.step == Step::Connecting)
    return QStringLiteral("Could not connect to the mail server at %1 within %2. "
                          "Is a firewall dropping connections to that port?")
        .arg(f.server, f.detail);
  const bool handshake = f.step == Step::StartTls && f.reply.startsWith(u"220");
  return QStringLiteral("The mail server at %1 %2 within %3.")
      .arg(f.server,
           handshake ? QStringLiteral("did not finish the TLS negotiation after STARTTLS")
                     : Words(f, &StepWords::silent),
           f.detail);
}

// The reply without the addresses it quotes in <...>: a recipient may well be
// called <sender@...>.
QString WithoutQuotedAddresses(QString reply) {
  for (qsizetype open = reply.indexOf(u'<'); open >= 0; open = reply.indexOf(u'<', open)) {
    const qsizetype close = reply.indexOf(u'>', open);
    if (close < 0)
      break;
    reply.remove(open, close - open + 1);
  }
  return reply;
}

// A reply line ("550 5.1.8 ...", "550-5.1.7 ...") whose enhanced status code
// is about the sender: X.1.7 its address, X.1.8 its system (its domain).
bool SenderStatusCode(QStringView line) {
  if (line.size() < 9 || (line[3] != u' ' && line[3] != u'-'))
    return false;
  const QStringView code = line.mid(4, 5);
  return QStringView(u"245").contains(code[0]) && (code.mid(1) == u".1.7" || code.mid(1) == u".1.8") &&
         (line.size() == 9 || !line[9].isDigit());
}

// A refusal in reply to RCPT TO can still be about the sender (sender
// verification, an unknown sender domain): the server's words tell, or its
// enhanced status code.
bool AboutTheSender(const QString &reply) {
  static const QStringList phrases{QStringLiteral("sender address"), QStringLiteral("domain of sender"),
                                   QStringLiteral("sender verif"),   QStringLiteral("sender domain"),
                                   QStringLiteral("return path"),    QStringLiteral("return-path")};
  const QString words = WithoutQuotedAddresses(reply);
  const QStringList lines = words.split(u'\n');
  return std::any_of(lines.begin(), lines.end(),
                     [](const QString &line) { return SenderStatusCode(line); }) ||
         std::any_of(phrases.begin(), phrases.end(),
                     [&](const QString &phrase) { return words.contains(phrase, Qt::CaseInsensitive); });
}

// RFC 1870: 552 to a MAIL FROM that announced SIZE= is the message size.
bool SizeRefused(const Failure &f) {
  return f.number == 552 && f.command.contains(QStringLiteral(" SIZE="), Qt::CaseInsensitive);
}

QString RefusalHint(const Failure &f) {
  if (f.number == 421)
    return QStringLiteral("The service is closing the connection: it is shutting down, overloaded, or has "
                          "too many connections. Try again later, and check its log.");
  if (f.step == Step::MailFrom && SizeRefused(f))
    return QStringLiteral("The server will not take a message of this size: check its message size limit.");
  if (f.step == Step::RcptTo && AboutTheSender(f.reply))
    return QStringLiteral("The refusal is about the sender: check that the server accepts this sender "
                          "address and that its domain exists.");
  if ((f.step == Step::MessageContent || f.step == Step::EndOfData) && (f.number == 452 || f.number == 552))
    return QStringLiteral("Check the server's free disk space, its queue and its message size limit.");
  return Words(f, &StepWords::hint);
}

QString Refusal(const Failure &f) {
  const QString temporary = f.number < 500 ? QStringLiteral(" The refusal is temporary (4xx).") : QString();
  return QStringLiteral("The mail server at %1 refused %2. It said: %3 (%4).%5 %6")
      .arg(f.server, Words(f, &StepWords::refused), Quote(f.reply), Words(f, &StepWords::where), temporary,
           RefusalHint(f));
}

// Who answered, for a server that closed the connection right after greeting.
QString Greeted(const Failure &f) {
  if (f.greeting.isEmpty() || (f.step != Step::Ehlo && f.step != Step::StartTls))
    return {};
  return QStringLiteral(" It had greeted with: %1.").arg(Quote(f.greeting));
}

QString LastSaid(const Failure &f) {
  return f.reply.isEmpty() ? QString() : QStringLiteral(" It last said: %1.").arg(Quote(f.reply));
}

// What a lost connection means for the message.
QString Delivery(const Failure &f) {
  if (f.step == Step::EndOfData && !f.answered)
    return QStringLiteral("The whole message and its end had been sent, so the server may have accepted it: "
                          "check its queue or log before sending it again.");
  return QStringLiteral("The message was not delivered. Check the server's log.");
}

// For a reply that came before the command it would answer.
QString OutOfTurn(const Failure &f) {
  return QStringLiteral("The mail server at %1 sent \"%2\" out of turn: after %3, before %4 was sent. A "
                        "reply that comes before its command may belong to a command not yet sent, so "
                        "Kestrine went no further and the message was not delivered. Is a mail server really "
                        "listening on that port? Check its log.")
      .arg(f.server, Quote(f.text), Words(f, &StepWords::after), f.next);
}

} // namespace

QString Describe(const Failure &failure) {
  // The commands quote the user's addresses: shown escaped like any quote.
  Failure f = failure;
  f.command = Visible(f.command);
  f.next = Visible(f.next);
  if (IsServerRefusal(f.number))
    return Refusal(f);
  switch (f.number) {
  case kNoService:
    return QStringLiteral("Could not connect to the mail server at %1: %2. "
                          "Is the mail server (Postfix, Exim, ...) installed and running?")
        .arg(f.server, f.detail);
  case kHostNotFound:
    return QStringLiteral("The mail server's host name \"%1\" could not be resolved: %2. "
                          "Check the name and /etc/hosts.")
        .arg(f.text, f.detail);
  case kTimedOut:
    if (f.step == Step::Connecting)
      return NothingWithin(f) + (f.text.isEmpty() ? QString() : QStringLiteral(" Tried %1.").arg(f.text));
    return QStringLiteral("%1%2 Is the server overloaded or stuck? Check its log.")
        .arg(NothingWithin(f), LastSaid(f));
  case kConnectionLost:
    return QStringLiteral("The mail server at %1 closed the connection %2%3.%4%5 %6")
        .arg(f.server, Words(f, f.answered ? &StepWords::answered : &StepWords::doing),
             f.detail.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(Visible(f.detail)), LastSaid(f),
             Greeted(f), Delivery(f));
  case kTlsFailure:
    if (f.step != Step::StartTls)
      return QStringLiteral(
                 "The TLS connection to the mail server at %1 failed %2: %3. Does the server demand "
                 "a client certificate? Check its TLS settings and its log.")
          .arg(f.server, Words(f, &StepWords::doing), Visible(f.detail));
    return QStringLiteral("The mail server at %1 offered STARTTLS, but the TLS negotiation failed: %2. "
                          "Check the server's TLS certificate and key settings.")
        .arg(f.server, Visible(f.detail));
  case kInvalidAddress:
    return QStringLiteral("The %1 address \"%2\" is not valid: %3. Nothing was sent.")
        .arg(f.field, Quote(f.text), f.detail);
  case kNoRecipient:
    return QStringLiteral("No recipient: enter at least one address in To. Nothing was sent.");
  case kNoSender:
    return QStringLiteral("No sender: enter the From address. Nothing was sent.");
  case kInvalidImportance:
    return QStringLiteral("Importance must be 0 (low), 1 (normal) or 2 (high), not %1.").arg(f.text);
  case kUtf8NotOffered:
    return QStringLiteral(
               "The address \"%1\" has non-ASCII characters before the \"@\", and the mail server at %2 "
               "does not offer SMTPUTF8. Use an ASCII address, or enable SMTPUTF8 in the mail server's "
               "settings, if it supports it. Nothing was sent.")
        .arg(Visible(f.text), f.server);
  case kNotSmtp:
    if (!f.accepted.isEmpty())
      return QStringLiteral(
                 "The mail server at %1 accepted the message (\"%2\"), then sent \"%3\" out of turn, "
                 "before QUIT. The message may well be queued: check the server's queue and log "
                 "before sending it again.")
          .arg(f.server, Quote(f.accepted), Quote(f.text));
    if (!f.next.isEmpty())
      return OutOfTurn(f);
    return QStringLiteral("What answered at %1 %2 is not a proper SMTP reply: \"%3\" (%4). "
                          "Is a mail server really listening on that port? Check its log.")
        .arg(f.server, Words(f, &StepWords::doing), Quote(f.text), f.detail);
  case kCannotStart:
    return QStringLiteral("The mail component could not start: %1.").arg(f.detail);
  case kAlreadySent:
    return QStringLiteral("This message has already been sent; create a new one to send another.");
  default:
    return QStringLiteral("Submitting to the mail server at %1 failed %2: %3.%4")
        .arg(f.server, Words(f, &StepWords::doing), f.detail, LastSaid(f));
  }
}

void Raise(const Failure &failure) { RaiseError(failure.number, Describe(failure)); }

void Raise(std::int32_t number, const QString &text, const QString &detail) {
  Failure failure;
  failure.number = number;
  failure.text = text;
  failure.detail = detail;
  Raise(failure);
}

} // namespace mail
