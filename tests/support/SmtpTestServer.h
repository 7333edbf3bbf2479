#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>
#include <memory>

namespace testsupport {

// One message as the test server received it.
struct ReceivedMessage {
  QString mailFrom;        // the envelope sender (MAIL FROM), without brackets
  QStringList recipients;  // the envelope recipients (RCPT TO), in order
  QStringList mailOptions; // parameters of MAIL FROM, e.g. "SMTPUTF8", "SIZE=123"
  QString ehloName;        // what the client said after EHLO
  bool tls = false;        // whether the message came over STARTTLS
  QByteArray raw;          // the data exactly as received, dot-stuffing undone

  // The message as Python's email package decodes it:
  QList<QPair<QString, QString>> headers; // in order, values decoded (RFC 2047 undone)
  QString body;                           // transfer encoding and charset undone
  QString contentType;                    // e.g. "text/plain"
  QString charset;
  QString transferEncoding;

  QString header(const QString &name) const; // first value of `name` (any case), or a null QString
};

// A real SMTP server on loopback for a test, in its own process.
//
//   testsupport::SmtpTestServer server;                     // aiosmtpd, accepts everything
//   testsupport::SmtpTestServer utf8({"--smtputf8"});
//   testsupport::SmtpTestServer peer(SmtpTestServer::Program::ScriptedPeer, {"--scenario", "silent"});
//   QVERIFY2(server.start(), qPrintable(server.errorString()));
//   ... send to 127.0.0.1, server.port() ...
//   QCOMPARE(server.messages().size(), 1);
//
// Program::MailServer runs tests/support/smtp_server.py (aiosmtpd), for the
// tests that read the message received; its options (--smtputf8, --starttls,
// --host) are documented in that script. Program::ScriptedPeer runs
// tests/support/smtp_peer.py, a raw socket peer for refusals and faults; its
// scenarios (--scenario NAME) and options (--answer, --answer-for, --delay,
// --close-after, --line-end) are listed in that script's help, the one place
// that names them.
// Both listen on a free loopback port chosen by the system. Every wait is
// bounded. The destructor stops the server.
class SmtpTestServer {
public:
  enum class Program { MailServer, ScriptedPeer };

  explicit SmtpTestServer(QStringList arguments = {});
  SmtpTestServer(Program program, QStringList arguments);
  ~SmtpTestServer();
  SmtpTestServer(const SmtpTestServer &) = delete;
  SmtpTestServer &operator=(const SmtpTestServer &) = delete;

  // Starts the server and waits (at most 20 s) until it listens. False, with
  // errorString() saying why, when it does not.
  bool start();
  void stop();

  std::uint16_t port() const { return port_; }
  QString errorString() const { return error_; }

  // What the server has accepted so far, oldest first. The server records a
  // message before it answers the end of data, so once a client has been told
  // "accepted", the message is here.
  QList<ReceivedMessage> messages() const;

  // What the scripted peer has accepted so far, one line per message: the
  // arguments of MAIL and of each RCPT as the client sent them, then the
  // content's size in octets ("FROM:<a> TO:<b> 312"). Recorded, like
  // messages(), before the end of data is answered. Always empty for the mail
  // server, whose messages() say more.
  QStringList peerAccepted() const;

  // How many connections the server has taken (recorded before its greeting).
  int connectionCount() const;

  // A loopback TCP port on which nothing listens (at the moment of the call).
  static std::uint16_t unusedPort();

  // The directory where tests/support keeps its scripts.
  static QString scriptDirectory();

private:
  Program program_;
  QStringList arguments_;
  QTemporaryDir directory_;
  std::unique_ptr<QProcess> process_;
  std::uint16_t port_ = 0;
  QString error_;
};

} // namespace testsupport
