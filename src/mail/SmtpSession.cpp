#include "mail/SmtpSession.h"

#include <QDateTime>
#include <QHostAddress>
#include <QHostInfo>
#include <QSslCertificate>
#include <QSslCipher>
#include <QSslKey>
#include <QSslSocket>
#include <QStringList>

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <algorithm>

namespace mail {
namespace {

using std::chrono::milliseconds;

// Far more than any proper reply (RFC 5321 allows 512 octets a line), enough
// for an EHLO with hundreds of capabilities; a peer that sends without end
// must not make us read without end.
constexpr qsizetype kLongestReply = qsizetype{64} * 1024;
// How much of the message may wait in the socket's buffer: a 10 MB body
// goes out in pieces, not copied whole.
constexpr qsizetype kPiece = qsizetype{256} * 1024;
constexpr qsizetype kBuffered = qsizetype{1024} * 1024;
// What the socket may hold of what the server sent and we have not read.
constexpr qsizetype kReadBuffer = qsizetype{1024} * 1024;
// What QUIT gets after a failure or after the message was accepted: its answer
// changes nothing, and a server that ignores it must not hold the caller.
constexpr milliseconds kQuitBound{1000};

QString Duration(milliseconds bound) {
  if (bound.count() % 1000 == 0)
    return QStringLiteral("%1 s").arg(bound.count() / 1000);
  return QStringLiteral("%1 ms").arg(bound.count());
}

// "250-text", "250 text" or "250": a code 200 to 599 (RFC 5321's 2-5, 0-5,
// 0-9), then a blank, a hyphen or the line's end.
bool IsReplyLine(const QByteArray &line) {
  return line.size() >= 3 && line[0] >= '2' && line[0] <= '5' && line[1] >= '0' && line[1] <= '5' &&
         line[2] >= '0' && line[2] <= '9' && (line.size() == 3 || line[3] == ' ' || line[3] == '-');
}

bool IsLastLine(const QByteArray &line) { return line.size() == 3 || line[3] == ' '; }

// The code of `lines` when they are one whole refusal (4xx or 5xx): every
// line a reply line with that code, the last one final; else 0.
int RefusalIn(const QList<QByteArray> &lines) {
  if (lines.isEmpty() || !IsReplyLine(lines.last()) || !IsLastLine(lines.last()))
    return 0;
  const QByteArray code = lines.last().left(3);
  const bool one = std::all_of(lines.begin(), lines.end(), [&](const QByteArray &line) {
    return IsReplyLine(line) && line.startsWith(code);
  });
  return one && (code[0] == '4' || code[0] == '5') ? code.toInt() : 0;
}

// What the certificate check in the TLS handshake found wrong, in its words.
QStringList CertificateProblems(const QSslSocket &socket) {
  QStringList problems;
  for (const QSslError &error : socket.sslHandshakeErrors())
    problems << error.errorString();
  return problems;
}

QString Lines(const QList<QByteArray> &lines) {
  QStringList text;
  for (const QByteArray &line : lines)
    text << QString::fromUtf8(line);
  return text.join(u'\n');
}

} // namespace

QString SmtpReply::Text() const { return Lines(lines); }

bool SmtpReply::Offers(const QByteArray &keyword) const {
  return std::any_of(
      lines.begin() + std::min<qsizetype>(1, lines.size()), lines.end(),
      [&](const QByteArray &line) { return line.mid(4).trimmed().split(' ').value(0).toUpper() == keyword; });
}

SmtpSession::SmtpSession(const QString &host, std::uint16_t port, const Timeouts &bounds,
                         Conversation &conversation)
    : host_(host), port_(port), bounds_(bounds), conversation_(conversation), started_(Clock::now()),
      socket_(std::make_unique<QTcpSocket>()) {
  failure_.server = QStringLiteral("%1 port %2").arg(host).arg(port);
  // A server that talks while we send must not fill memory without end.
  socket_->setReadBufferSize(kReadBuffer);
  TakeInAsItArrives();
}

SmtpSession::Deadline SmtpSession::Within(milliseconds bound) const {
  const Clock::time_point whole = started_ + bounds_.Total;
  const Clock::time_point own = Clock::now() + bound;
  return own < whole ? Deadline{own, bound, false} : Deadline{whole, bounds_.Total, true};
}

int SmtpSession::MillisecondsLeft(const Deadline &deadline) {
  const auto left = std::chrono::ceil<milliseconds>(deadline.at - Clock::now()).count();
  if (left <= 0)
    TimedOut(deadline);
  return static_cast<int>(std::min<long long>(left, 24LL * 3600 * 1000));
}

void SmtpSession::TimedOut(const Deadline &deadline) {
  Fail(kTimedOut, {},
       deadline.whole
           ? QStringLiteral("the %1 allowed for the whole submission").arg(Duration(deadline.bound))
           : Duration(deadline.bound));
}

void SmtpSession::ConnectionLost() {
  closed_ = true;
  Drain();
  // Whatever it said before it went is worth quoting; a whole refusal is the
  // answer itself (421 unasked, or a refusal while the content went out).
  const QList<QByteArray> said = TakeRest();
  if (const int code = RefusalIn(said)) {
    failure_.reply = Lines(said);
    conversation_.Note(QStringLiteral("the server closed the connection"));
    Fail(code);
  }
  if (!said.isEmpty()) {
    failure_.reply = Lines(said);
  } else if (refusal_) {
    // It refused the last command and went: the refusal is what it had to say.
    failure_ = *refusal_;
    conversation_.Note(QStringLiteral("the server closed the connection"));
    Raise(failure_);
  }
  if (!tlsError_.isEmpty()) {
    conversation_.Note(QStringLiteral("TLS failed: ") + tlsError_);
    Fail(kTlsFailure, {}, tlsError_);
  }
  conversation_.Note(tlsClosed_ ? QStringLiteral("the server ended TLS (close_notify)")
                                : QStringLiteral("the server closed the connection"));
  Fail(kConnectionLost, {}, tlsClosed_ ? QStringLiteral("it ended TLS with close_notify") : QString());
}

QList<QByteArray> SmtpSession::TakeRest() {
  QList<QByteArray> lines;
  for (QByteArray line; lines.size() < 100 && TakeLine(line);)
    lines << line;
  Compact();
  if (!unread_.isEmpty())
    lines << unread_.left(kLongestReply); // a line without its end, or what follows 100 lines
  unread_.clear();
  for (const QByteArray &line : lines)
    conversation_.Received(line);
  saidMore_ = saidMore_ || !lines.isEmpty();
  return lines;
}

void SmtpSession::Fail(std::int32_t number, const QString &text, const QString &detail) {
  // The details show all that was received, what a failure leaves unread too.
  TakeRest();
  failure_.number = number;
  failure_.text = text;
  failure_.detail = detail;
  Raise(failure_);
}

void SmtpSession::Unexpected(const SmtpReply &reply) {
  failure_.reply = reply.Text();
  if (IsServerRefusal(reply.code))
    Fail(reply.code);
  Fail(kNotSmtp, reply.Text(),
       QStringLiteral("a %1xx reply does not answer this step").arg(reply.code / 100));
}

void SmtpSession::Begin(Step step, const QString &command) {
  failure_.step = step;
  failure_.command = command;
  failure_.reply.clear();
  failure_.answered = false;
}

void SmtpSession::Connect() {
  Begin(Step::Connecting, {});
  QList<QHostAddress> addresses;
  if (QHostAddress literal; literal.setAddress(host_)) {
    addresses << literal;
  } else if (host_.compare(u"localhost", Qt::CaseInsensitive) == 0 ||
             host_.endsWith(u".localhost", Qt::CaseInsensitive)) {
    // Always both loopbacks (RFC 6761), whatever /etc/hosts lists: a server
    // may listen on either alone.
    addresses << QHostAddress(QHostAddress::LocalHostIPv6) << QHostAddress(QHostAddress::LocalHost);
  } else {
    // The system's resolver, bounded by its own settings.
    const QHostInfo info = QHostInfo::fromName(host_);
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty())
      Fail(kHostNotFound, host_, info.errorString());
    addresses = info.addresses();
  }
  QStringList tried;
  bool timedOut = false;
  for (const QHostAddress &address : addresses) {
    const Deadline deadline = Within(bounds_.Connect);
    const QString where = QStringLiteral("%1 port %2").arg(address.toString()).arg(port_);
    conversation_.Note(QStringLiteral("connecting to ") + where);
    socket_->connectToHost(address, port_);
    if (socket_->waitForConnected(MillisecondsLeft(deadline))) {
      // Each command is one small write after the last reply: Nagle's
      // algorithm would hold the end of data back for the content's ACK.
      socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
      conversation_.Note(QStringLiteral("connected to ") + where);
      return;
    }
    QString result;
    if (socket_->error() == QAbstractSocket::SocketTimeoutError) {
      socket_->abort();
      if (deadline.whole)
        TimedOut(deadline);
      result = QStringLiteral("no answer within %1").arg(Duration(bounds_.Connect));
      timedOut = true;
    } else if (socket_->error() == QAbstractSocket::RemoteHostClosedError ||
               socket_->error() == QAbstractSocket::UnfinishedSocketOperationError) {
      // The server took the connection and reset it before Qt saw it made
      // (Qt then reports an unfinished operation): it is there, and went.
      socket_->abort();
      conversation_.Note(QStringLiteral("connected to %1, and reset at once").arg(where));
      Begin(Step::Greeting, {});
      ConnectionLost();
    } else if (socket_->error() == QAbstractSocket::ConnectionRefusedError) {
      result = QStringLiteral("connection refused (nothing is listening on that port)");
    } else {
      result = socket_->errorString();
    }
    socket_->abort();
    conversation_.Note(where + QStringLiteral(": ") + result);
    tried << (addresses.size() == 1 ? result : where + QStringLiteral(": ") + result);
  }
  const QString each = tried.join(QStringLiteral("; "));
  if (timedOut)
    Fail(kTimedOut, addresses.size() == 1 ? QString() : each, Duration(bounds_.Connect));
  Fail(kNoService, {}, addresses.size() == 1 ? each : QStringLiteral("tried ") + each);
}

void SmtpSession::Receive(const Deadline &deadline) {
  const bool arrived = socket_->waitForReadyRead(MillisecondsLeft(deadline));
  TakeIn();
  if (arrived)
    return;
  if (!Connected() || socket_->error() != QAbstractSocket::SocketTimeoutError)
    closed_ = true;
  else if (Clock::now() >= deadline.at)
    TimedOut(deadline);
}

bool SmtpSession::TakeLine(QByteArray &line, qsizetype *octets) {
  const qsizetype end = unread_.indexOf('\n', taken_);
  if (end < 0) {
    Compact();
    return false;
  }
  if (octets)
    *octets += end + 1 - taken_;
  line = unread_.mid(taken_, end - taken_);
  if (line.endsWith('\r'))
    line.chop(1);
  taken_ = end + 1;
  return true;
}

void SmtpSession::Compact() {
  unread_.remove(0, taken_);
  taken_ = 0;
}

SmtpReply SmtpSession::ReadReply() {
  const Deadline deadline = Within(bounds_.Reply);
  SmtpReply reply;
  qsizetype size = 0;
  const auto tooLong = [&] {
    failure_.reply = reply.Text();
    Fail(kNotSmtp, Lines(reply.lines.mid(0, 3)), QStringLiteral("the reply goes on past 64 KB without end"));
  };
  for (;;) {
    for (QByteArray line; TakeLine(line, &size);) {
      conversation_.Received(line);
      if (!IsReplyLine(line)) {
        failure_.reply = reply.Text();
        Fail(kNotSmtp, QString::fromUtf8(line.left(kLongestReply)),
             QStringLiteral("an SMTP reply line starts with a code from 200 to 599 and a blank, a hyphen or "
                            "the line's end"));
      }
      const int code = line.left(3).toInt();
      if (!reply.lines.isEmpty() && code != reply.code) {
        failure_.reply = reply.Text();
        Fail(kNotSmtp, QString::fromUtf8(line),
             QStringLiteral("every line of one reply has the same code, and the first had %1")
                 .arg(reply.code));
      }
      reply.code = code;
      reply.lines << line;
      if (size > kLongestReply)
        tooLong();
      if (IsLastLine(line)) {
        failure_.reply = reply.Text();
        failure_.answered = true;
        Compact();
        return reply;
      }
    }
    if (size + unread_.size() > kLongestReply) {
      reply.lines << unread_.left(kLongestReply);
      tooLong();
    }
    if (closed_)
      ConnectionLost();
    Receive(deadline);
  }
}

void SmtpSession::Drain() {
  Compact();
  if (Connected())
    socket_->waitForReadyRead(0);
  TakeIn();
}

void SmtpSession::TakeIn() {
  const qsizetype held = unread_.size() - taken_;
  if (socket_->isOpen() && held < kReadBuffer)
    unread_ += socket_->read(kReadBuffer - held);
}

void SmtpSession::TakeInAsItArrives() {
  // Qt drops what it has read when a write fails: a reply that the server
  // sent before it reset the connection (while the content went out) would go
  // with it. Each arrival is ours at once, within the read bound.
  QObject::connect(socket_.get(), &QIODevice::readyRead, socket_.get(), [this] { TakeIn(); });
}

void SmtpSession::CheckNothingUnread(const QString &next) {
  Drain();
  if (!unread_.isEmpty()) {
    const QList<QByteArray> early = TakeRest();
    // A server that must shut down may say 421 unasked, and close; a refusal
    // followed by a close is a refusal too.
    if (const int code = RefusalIn(early); code == 421 || (code && !Connected())) {
      failure_.reply = Lines(early);
      Fail(code);
    }
    failure_.next = next;
    Fail(kNotSmtp, Lines(early));
  }
  if (!Connected())
    ConnectionLost();
}

void SmtpSession::Accepted(const SmtpReply &reply) {
  Drain();
  if (unread_.isEmpty())
    return;
  failure_.accepted = reply.Text();
  Fail(kNotSmtp, Lines(TakeRest()));
}

qsizetype SmtpSession::Unsent() const {
  // Under TLS what is encrypted waits in a buffer of its own.
  const auto *secure = qobject_cast<const QSslSocket *>(socket_.get());
  return socket_->bytesToWrite() + (secure ? secure->encryptedBytesToWrite() : 0);
}

void SmtpSession::Write(const char *data, qsizetype size, qsizetype keep) {
  if (size > 0 && socket_->write(data, size) != size)
    ConnectionLost();
  // Each wait gets the reply bound afresh: the server is taking what we send.
  while (Unsent() > keep) {
    const Deadline deadline = Within(bounds_.Reply);
    if (socket_->waitForBytesWritten(MillisecondsLeft(deadline)))
      continue;
    if (!Connected() || socket_->error() != QAbstractSocket::SocketTimeoutError)
      ConnectionLost();
    if (Clock::now() >= deadline.at)
      TimedOut(deadline);
  }
}

SmtpReply SmtpSession::Greeting() {
  Begin(Step::Greeting, {});
  SmtpReply reply = ReadReply();
  failure_.greeting = reply.Text();
  if (reply.code != 220)
    Unexpected(reply);
  return reply;
}

SmtpReply SmtpSession::Command(Step step, const QByteArray &command) {
  CheckNothingUnread(QString::fromUtf8(command));
  Begin(step, QString::fromUtf8(command));
  conversation_.Sent(command);
  const QByteArray line = command + "\r\n";
  Write(line.constData(), line.size(), 0);
  SmtpReply reply = ReadReply();
  refusal_.reset();
  if (IsServerRefusal(reply.code)) {
    refusal_ = failure_;
    refusal_->number = reply.code;
  }
  return reply;
}

void SmtpSession::StartTls() {
  // In TLS the client speaks first: anything the server sent after its 220
  // is no handshake.
  Drain();
  if (!unread_.isEmpty()) {
    conversation_.Received(unread_.left(kLongestReply).trimmed());
    Fail(kTlsFailure, {},
         QStringLiteral("where its TLS handshake should have begun it sent plain text: \"%1\"")
             .arg(Visible(QString::fromUtf8(unread_.left(200)).trimmed())));
  }
  const Deadline deadline = Within(bounds_.Reply);
  // The connection moves to a TLS socket only now: making one loads Qt's TLS
  // backend and OpenSSL, some 10 ms that a server without STARTTLS never
  // needs. The plain socket lets go of its own descriptor only; the
  // connection goes on in the copy.
  auto tls = std::make_unique<QSslSocket>();
  const int descriptor = ::dup(static_cast<int>(socket_->socketDescriptor()));
  if (descriptor < 0 || !tls->setSocketDescriptor(descriptor)) {
    if (descriptor >= 0)
      ::close(descriptor);
    Fail(kTlsFailure, {},
         QStringLiteral("the connection could not be handed to TLS: ") +
             (descriptor < 0 ? QString::fromLocal8Bit(std::strerror(errno)) : tls->errorString()));
  }
  socket_->abort();
  socket_ = std::move(tls);
  socket_->setReadBufferSize(kReadBuffer);
  TakeInAsItArrives();
  auto *const secure = static_cast<QSslSocket *>(socket_.get());
  // A local service usually has a self-signed certificate: on loopback,
  // encryption without a verified certificate is better than none, and what
  // the check found goes to the details; elsewhere, the check is enforced.
  secure->setPeerVerifyMode(QSslSocket::VerifyPeer);
  secure->setPeerVerifyName(host_);
  if (secure->peerAddress().isLoopback())
    QObject::connect(secure, &QSslSocket::sslErrors, secure, [secure] { secure->ignoreSslErrors(); });
  secure->startClientEncryption();
  while (!secure->isEncrypted()) {
    if (secure->waitForEncrypted(MillisecondsLeft(deadline)))
      break;
    if (!Connected() || secure->error() != QAbstractSocket::SocketTimeoutError) {
      // Every reason the certificate check found, then TLS's own words.
      QStringList reasons = CertificateProblems(*secure);
      if (!reasons.contains(secure->errorString()))
        reasons << secure->errorString();
      conversation_.Note(QStringLiteral("TLS failed: ") + reasons.join(QStringLiteral("; ")));
      Fail(kTlsFailure, {}, reasons.join(QStringLiteral("; ")));
    }
  }
  const QSslCipher cipher = secure->sessionCipher();
  conversation_.Note(QStringLiteral("TLS established: %1, %2").arg(cipher.protocolString(), cipher.name()));
  NoteCertificate();
  WatchTls();
}

void SmtpSession::WatchTls() {
  auto *const secure = static_cast<QSslSocket *>(socket_.get());
  // QSslSocket reports an alert, or bytes that are not TLS, without closing
  // the connection, and a reader would wait on for its bound: a broken TLS
  // stream cannot go on, so it ends here and every wait returns at once.
  QObject::connect(secure, &QAbstractSocket::errorOccurred, secure,
                   [this, secure](QAbstractSocket::SocketError error) {
                     if (error == QAbstractSocket::SocketTimeoutError || !tlsError_.isEmpty() || tlsClosed_)
                       return;
                     // Still connected after "remote host closed": TLS's close_notify, TCP open.
                     if (error == QAbstractSocket::RemoteHostClosedError) {
                       if (secure->state() != QAbstractSocket::ConnectedState)
                         return;
                       tlsClosed_ = true;
                     } else {
                       tlsError_ = secure->errorString();
                     }
                     secure->abort();
                   });
}

void SmtpSession::NoteCertificate() {
  const auto *secure = static_cast<const QSslSocket *>(socket_.get());
  const QList<QSslCertificate> chain = secure->peerCertificateChain();
  if (chain.isEmpty()) {
    conversation_.Note(QStringLiteral("the server showed no certificate"));
    return;
  }
  const QSslCertificate &leaf = chain.first();
  const auto names = [](const QSslCertificate &certificate, bool issuer) {
    QStringList parts;
    for (const QByteArray &attribute :
         issuer ? certificate.issuerInfoAttributes() : certificate.subjectInfoAttributes())
      parts
          << QString::fromLatin1(attribute) + u'=' +
                 (issuer ? certificate.issuerInfo(attribute) : certificate.subjectInfo(attribute)).join(u'+');
    return parts.isEmpty() ? QStringLiteral("(none)") : parts.join(QStringLiteral(", "));
  };
  QStringList alternatives;
  const auto entries = leaf.subjectAlternativeNames();
  for (auto entry = entries.cbegin(); entry != entries.cend(); ++entry)
    alternatives << (entry.key() == QSsl::DnsEntry         ? QStringLiteral("DNS:")
                     : entry.key() == QSsl::IpAddressEntry ? QStringLiteral("IP:")
                                                           : QStringLiteral("email:")) +
                        entry.value();
  conversation_.Note(QStringLiteral("certificate: %1; alternative names: %2")
                         .arg(names(leaf, false),
                              alternatives.isEmpty() ? QStringLiteral("none") : alternatives.join(u',')));
  conversation_.Note(QStringLiteral("issuer: ") + names(leaf, true));
  const QDateTime now = QDateTime::currentDateTimeUtc();
  const qint64 left = now.daysTo(leaf.expiryDate());
  conversation_.Note(QStringLiteral("valid from %1 to %2, %3")
                         .arg(leaf.effectiveDate().toUTC().toString(Qt::ISODate),
                              leaf.expiryDate().toUTC().toString(Qt::ISODate),
                              leaf.effectiveDate() > now ? QStringLiteral("not valid yet")
                              : leaf.expiryDate() < now  ? QStringLiteral("expired %1 days ago").arg(-left)
                                                         : QStringLiteral("%1 days left").arg(left)));
  const QSslKey key = leaf.publicKey();
  const QString algorithm = key.algorithm() == QSsl::Rsa   ? QStringLiteral("RSA")
                            : key.algorithm() == QSsl::Ec  ? QStringLiteral("EC")
                            : key.algorithm() == QSsl::Dsa ? QStringLiteral("DSA")
                            : key.algorithm() == QSsl::Dh  ? QStringLiteral("DH")
                                                           : QStringLiteral("other");
  conversation_.Note(QStringLiteral("key: %1, %2 bits; chain: %3 certificates")
                         .arg(algorithm)
                         .arg(key.length())
                         .arg(chain.size()));
  // The check against this machine's trusted CAs and the host name, which
  // TLS made in the handshake: enforced off this machine only.
  const QStringList reasons = CertificateProblems(*secure);
  if (reasons.isEmpty())
    conversation_.Note(
        QStringLiteral("certificate check against this machine's CAs and the name %1: passed").arg(host_));
  else
    conversation_.Note(QStringLiteral("certificate check against this machine's CAs and the name %1: not "
                                      "enforced, the server is this machine; the check would fail: %2")
                           .arg(host_, reasons.join(QStringLiteral("; "))));
}

SmtpReply SmtpSession::Content(const QByteArray &message) {
  // From the 354 on the server reads content: no QUIT after a failure here.
  Begin(Step::MessageContent, {});
  CheckNothingUnread(QStringLiteral("the message content"));
  conversation_.Sent(QByteArrayLiteral("[the message content, ") + QByteArray::number(message.size()) +
                     " octets]");
  // Dot-stuffing: a line that starts with "." gets one more in front.
  if (message.startsWith('.'))
    Write(".", 1, kBuffered);
  for (qsizetype from = 0; from < message.size();) {
    const qsizetype dot = message.indexOf("\n.", from);
    const qsizetype upTo = dot < 0 ? message.size() : dot + 1;
    for (; from < upTo; from += kPiece)
      Write(message.constData() + from, std::min(kPiece, upTo - from), kBuffered);
    from = upTo;
    if (dot >= 0)
      Write(".", 1, kBuffered);
  }
  if (!message.isEmpty() && !message.endsWith("\r\n"))
    Write("\r\n", 2, kBuffered);
  // All of it out before the end of data: a close until then is a close
  // during the content.
  Write(nullptr, 0, 0);
  CheckNothingUnread(QStringLiteral("the end of the message data"));
  // Until the end of data has left, a close means the message was not
  // delivered; only after it may the server have taken it.
  conversation_.Sent(".");
  Write(".\r\n", 3, 0);
  Begin(Step::EndOfData, {});
  return ReadReply();
}

void SmtpSession::Quit() noexcept {
  // Between 354 and the end of data the server takes every line as content:
  // a QUIT there would be part of the message, and get no answer.
  if (!Connected() || failure_.step == Step::MessageContent) {
    socket_->abort();
    return;
  }
  try {
    // What the server said unasked stays its last word: a QUIT now would
    // read as if it answered that.
    Drain();
    TakeRest();
    if (saidMore_) {
      conversation_.Note(QStringLiteral("no QUIT: the server had said more than it was asked"));
      socket_->abort();
      return;
    }
    const Clock::time_point until = Clock::now() + kQuitBound;
    const auto left = [&] {
      return static_cast<int>(
          std::max<long long>(0, std::chrono::ceil<milliseconds>(until - Clock::now()).count()));
    };
    conversation_.Sent("QUIT");
    socket_->write("QUIT\r\n");
    while (socket_->bytesToWrite() > 0 && left() > 0 && socket_->waitForBytesWritten(left())) {
    }
    bool answered = false;
    while (!answered && Connected() && left() > 0) {
      socket_->waitForReadyRead(left());
      TakeIn();
      for (QByteArray line; !answered && TakeLine(line);) {
        conversation_.Received(line);
        answered = !IsReplyLine(line) || IsLastLine(line);
      }
    }
  } catch (...) {
  }
  socket_->abort();
}

} // namespace mail
