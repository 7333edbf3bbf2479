#include "support/SmtpTestServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {
namespace {

// Debian's interpreter, which has python3-aiosmtpd; another python3 may come first on PATH.
const QString kPython = QStringLiteral("/usr/bin/python3");
constexpr int kStartBoundMs = 20000;
constexpr int kStopBoundMs = 5000;

QStringList Strings(const QJsonValue &value) {
  QStringList list;
  for (const QJsonValue &item : value.toArray())
    list << item.toString();
  return list;
}

} // namespace

QString ReceivedMessage::header(const QString &name) const {
  for (const auto &[key, value] : headers)
    if (key.compare(name, Qt::CaseInsensitive) == 0)
      return value;
  return {};
}

SmtpTestServer::SmtpTestServer(QStringList arguments)
    : SmtpTestServer(Program::MailServer, std::move(arguments)) {}

SmtpTestServer::SmtpTestServer(Program program, QStringList arguments)
    : program_(program), arguments_(std::move(arguments)) {}

SmtpTestServer::~SmtpTestServer() { stop(); }

QString SmtpTestServer::scriptDirectory() { return QStringLiteral(KESTRINE_TEST_SUPPORT_DIR); }

bool SmtpTestServer::start() {
  if (!directory_.isValid()) {
    error_ = QStringLiteral("no temporary directory: %1").arg(directory_.errorString());
    return false;
  }
  const QString script =
      program_ == Program::MailServer ? QStringLiteral("smtp_server.py") : QStringLiteral("smtp_peer.py");
  process_ = std::make_unique<QProcess>();
  // The server's own complaints go straight to the test's log.
  process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process_->start(kPython, QStringList{QDir(scriptDirectory()).filePath(script), QStringLiteral("--port"),
                                       QStringLiteral("0"), QStringLiteral("--dir"), directory_.path()} +
                               arguments_);
  QByteArray output;
  const QDeadlineTimer deadline(kStartBoundMs);
  if (process_->waitForStarted(kStartBoundMs)) {
    while (!deadline.hasExpired() && process_->state() == QProcess::Running) {
      process_->waitForReadyRead(static_cast<int>(std::min<qint64>(deadline.remainingTime(), 200)));
      output += process_->readAllStandardOutput();
      const qsizetype at = output.indexOf("PORT ");
      const qsizetype end = output.indexOf('\n', at);
      if (at >= 0 && end > at) {
        port_ = static_cast<std::uint16_t>(output.mid(at + 5, end - at - 5).trimmed().toUInt());
        if (port_ != 0)
          return true;
        break;
      }
    }
  }
  error_ = QStringLiteral("%1 did not start listening within %2 s (%3); its output: %4")
               .arg(script)
               .arg(kStartBoundMs / 1000)
               .arg(process_->errorString(), QString::fromLocal8Bit(output));
  stop();
  return false;
}

void SmtpTestServer::stop() {
  if (!process_)
    return;
  if (process_->state() != QProcess::NotRunning) {
    process_->terminate();
    if (!process_->waitForFinished(kStopBoundMs)) {
      process_->kill();
      process_->waitForFinished(kStopBoundMs);
    }
  }
  process_.reset();
}

QList<ReceivedMessage> SmtpTestServer::messages() const {
  QList<ReceivedMessage> messages;
  const QDir dir(directory_.path());
  for (const QString &name : dir.entryList({QStringLiteral("message-*.json")}, QDir::Files, QDir::Name)) {
    QFile json(dir.filePath(name));
    QFile eml(dir.filePath(name.chopped(5) + QStringLiteral(".eml")));
    if (!json.open(QIODevice::ReadOnly) || !eml.open(QIODevice::ReadOnly))
      continue;
    const QJsonObject record = QJsonDocument::fromJson(json.readAll()).object();
    const QJsonObject decoded = record.value(u"decoded").toObject();
    ReceivedMessage message;
    message.mailFrom = record.value(u"mail_from").toString();
    message.recipients = Strings(record.value(u"rcpt_tos"));
    message.mailOptions = Strings(record.value(u"mail_options"));
    message.ehloName = record.value(u"ehlo").toString();
    message.tls = record.value(u"tls").toBool();
    message.raw = eml.readAll();
    for (const QJsonValue &pair : decoded.value(u"headers").toArray())
      message.headers.append({pair.toArray().at(0).toString(), pair.toArray().at(1).toString()});
    message.body = decoded.value(u"body").toString();
    message.contentType = decoded.value(u"content_type").toString();
    message.charset = decoded.value(u"charset").toString();
    message.transferEncoding = decoded.value(u"transfer_encoding").toString();
    messages.append(message);
  }
  return messages;
}

QStringList SmtpTestServer::peerAccepted() const {
  QFile log(QDir(directory_.path()).filePath(QStringLiteral("accepted.log")));
  if (!log.open(QIODevice::ReadOnly))
    return {};
  return QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

int SmtpTestServer::connectionCount() const {
  QFile log(QDir(directory_.path()).filePath(QStringLiteral("connections.log")));
  if (!log.open(QIODevice::ReadOnly))
    return 0;
  return static_cast<int>(log.readAll().count('\n'));
}

std::uint16_t SmtpTestServer::unusedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0)
    return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  std::uint16_t port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  ::close(fd);
  return port;
}

} // namespace testsupport
