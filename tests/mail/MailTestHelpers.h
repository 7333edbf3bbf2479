#pragma once

// Shared by the tests that send through NewMail to a real test server.
#include "base/ErrorRecord.h"
#include "mail/MailErrors.h"
#include "mail/NewMail.h"
#include "support/SmtpTestServer.h"

#include <QString>
#include <QStringList>
#include <QTest>

#include <chrono>
#include <optional>

namespace mailtest {

// Short bounds so that a fault shows within seconds; generous enough for valgrind.
inline mail::Timeouts ShortTimeouts() {
  using std::chrono::milliseconds;
  return {milliseconds(3000), milliseconds(2000), milliseconds(8000)};
}

struct Fields {
  QString from = QStringLiteral("Kestrine Test <sender@example.com>");
  QString to = QStringLiteral("Ann <ann@example.com>");
  QString subject = QStringLiteral("Test message");
  QString body = QStringLiteral("Hello from the test.\r\n");
  std::int32_t importance = 1;
};

// Sends `fields` to `host`:`port`; the failure it raised, if any.
inline std::optional<ErrorRecord> SendTo(const QString &host, std::uint16_t port, const Fields &fields,
                                         const mail::Timeouts &timeouts = ShortTimeouts()) {
  try {
    mail::SetDefaultTarget({host, port, timeouts});
    mail::NewMail message;
    message.From(fields.from);
    message.To(fields.to);
    message.Subject(fields.subject);
    message.Importance(fields.importance);
    message.Body(fields.body);
    message.Send();
    return std::nullopt;
  } catch (const ErrorRecord &e) {
    return e;
  }
}

inline std::optional<ErrorRecord> SendTo(const testsupport::SmtpTestServer &server, const Fields &fields = {},
                                         const mail::Timeouts &timeouts = ShortTimeouts()) {
  return SendTo(QStringLiteral("127.0.0.1"), server.port(), fields, timeouts);
}

inline QString Describe(const std::optional<ErrorRecord> &error) {
  return error ? QStringLiteral("%1: %2").arg(error->Number()).arg(error->Description())
               : QStringLiteral("no error");
}

// Sends `fields` to the started `server` and returns the one message it
// received. When the send fails or the server has no message or more than one,
// the test has failed and the result is empty.
inline std::optional<testsupport::ReceivedMessage> DeliverOne(const testsupport::SmtpTestServer &server,
                                                              const Fields &fields) {
  std::optional<testsupport::ReceivedMessage> received;
  [&] {
    const auto error = SendTo(server, fields);
    QVERIFY2(!error, qPrintable(Describe(error)));
    const auto messages = server.messages();
    QCOMPARE(messages.size(), 1);
    received = messages.first();
  }();
  return received;
}

// The same with a server of its own: aiosmtpd started with `serverArguments`.
inline std::optional<testsupport::ReceivedMessage> DeliverOne(const Fields &fields = {},
                                                              const QStringList &serverArguments = {}) {
  testsupport::SmtpTestServer server(serverArguments);
  if (!server.start()) {
    [&] { QFAIL(qPrintable(server.errorString())); }();
    return std::nullopt;
  }
  return DeliverOne(server, fields);
}

// One trailing line break less, so that a body without one compares equal to
// what arrives (the wire always ends the last line).
inline QString Chomp(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  if (text.endsWith(u'\n'))
    text.chop(1);
  return text;
}

} // namespace mailtest
