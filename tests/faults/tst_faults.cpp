// The fault catalogue: hostile servers and hostile input, each pressed through
// the main window's "Send Email" against a real server, boxes answered here.
// Every case ends in exactly one box: "Send Email OK" only when the server
// took the message, otherwise one Err_SendEmail report. Bad input reaches no
// server at all, and after every case a press against a good server goes through.
#include "support/BodyOfSize.h"
#include "support/MainWindowTest.h"
#include "support/SmtpTestServer.h"
#include "ui/Application.h"

#include <QElapsedTimer>
#include <QtTest>

#include <memory>

using testsupport::BodyOfSize;
using testsupport::PointMailAt;
using testsupport::ReadReport;
using testsupport::Report;
using testsupport::SmtpTestServer;

namespace {

const QString kSender = QStringLiteral("kestrine@brimvale.example");
const QString kRecipient = QStringLiteral("postmaster@localhost");
const QString kSubject = QStringLiteral("Kestrine fault test");
const QString kBody = QStringLiteral("A short test body.\r\nSecond line.\r\n");
constexpr int kReplyMs = 3000;
constexpr int kTotalMs = 10000;

// Where a case submits: nothing at all (a port nothing listens on), aiosmtpd
// or tests/support's scripted peer. Counts what it saw so that a case can
// prove nothing was sent.
class Server {
public:
  Server(const QString &kind, const QStringList &arguments) {
    if (kind == u"aiosmtpd")
      server_ = std::make_unique<SmtpTestServer>(arguments);
    else if (kind == u"peer")
      server_ = std::make_unique<SmtpTestServer>(SmtpTestServer::Program::ScriptedPeer, arguments);
  }

  bool start() {
    if (server_)
      return server_->start();
    refusedPort_ = SmtpTestServer::unusedPort();
    return refusedPort_ != 0;
  }
  QString errorString() const { return server_ ? server_->errorString() : QStringLiteral("no free port"); }
  std::uint16_t port() const { return server_ ? server_->port() : refusedPort_; }
  int connectionCount() const { return server_ ? server_->connectionCount() : 0; }
  // Messages the server took: aiosmtpd keeps each in full, the peer one line each.
  int acceptedCount() const { return static_cast<int>(messages().size() + peerAccepted().size()); }
  QList<testsupport::ReceivedMessage> messages() const {
    return server_ ? server_->messages() : QList<testsupport::ReceivedMessage>{};
  }
  QStringList peerAccepted() const { return server_ ? server_->peerAccepted() : QStringList{}; }

private:
  std::unique_ptr<SmtpTestServer> server_;
  std::uint16_t refusedPort_ = 0;
};

} // namespace

// Each test function gets a new main window (see MainWindowTest).
class TestFaults : public testsupport::MainWindowTest {
  Q_OBJECT

  std::unique_ptr<SmtpTestServer> good_;

private slots:
  void initTestCase() {
    good_ = std::make_unique<SmtpTestServer>();
    QVERIFY2(good_->start(), qPrintable(good_->errorString()));
  }
  void cleanupTestCase() { good_.reset(); }

  void eachFaultGivesOneClearAnswer_data() {
    QTest::addColumn<QString>("server");      // none, aiosmtpd, peer
    QTest::addColumn<QStringList>("options"); // the server's arguments
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("body");
    QTest::addColumn<int>("replyMs");
    QTest::addColumn<int>("totalMs");
    QTest::addColumn<int>("code");               // 0: the message is accepted
    QTest::addColumn<QString>("fragment");       // in the description, or in what the server got
    QTest::addColumn<QStringList>("recipients"); // the envelope, when accepted
    QTest::addColumn<bool>("badInput");          // nothing may reach any server

    const QStringList one{kRecipient};
    const auto row = [&](const char *name, const QString &server, const QStringList &options, int code,
                         const QString &fragment) -> QTestData & {
      return QTest::newRow(name) << server << options << kSender << kRecipient << kSubject << kBody
                                 << kReplyMs << kTotalMs << code << fragment << one << false;
    };
    const auto input = [&](const char *name, const QString &from, const QString &to, int code,
                           const QString &fragment) {
      QTest::newRow(name) << QStringLiteral("aiosmtpd") << QStringList{} << from << to << kSubject << kBody
                          << kReplyMs << kTotalMs << code << fragment << QStringList{} << true;
    };

    // The server's faults.
    row("refused connection", "none", {}, 1001, "connection refused");
    row("greeting 554", "peer", {"--answer", "GREETING:554 5.3.2 No SMTP service here"}, 554,
        "554 5.3.2 No SMTP service here");
    row("greeting then silence", "peer", {"--scenario", "greet-silent"}, 1003, "EHLO");
    row("silent from the start", "peer", {"--scenario", "silent"}, 1003, "greeting");
    row("421 mid-session", "peer", {"--scenario", "close-421"}, 421, "Service shutting down");
    row("EHLO rejected, HELO taken", "peer", {"--scenario", "helo-only"}, 0, kRecipient);
    row("MAIL 550", "peer", {"--answer", "MAIL:550 5.7.1 Sender address rejected"}, 550,
        "Sender address rejected");
    QTest::newRow("RCPT 550 for one of two recipients")
        << "peer"
        << QStringList{"--answer", "RCPT:550 5.1.1 <nobody@localhost>: User unknown", "--answer-for",
                       "nobody@localhost"}
        << kSender << QStringLiteral("postmaster@localhost, nobody@localhost") << kSubject << kBody
        << kReplyMs << kTotalMs << 550 << QStringLiteral("RCPT TO:<nobody@localhost>") << QStringList{}
        << false;
    row("RCPT 452", "peer", {"--answer", "RCPT:452 4.5.3 Too many recipients"}, 452,
        "452 4.5.3 Too many recipients");
    row("DATA 554", "peer", {"--answer", "DATA:554 5.5.1 No valid recipients"}, 554, "No valid recipients");
    row("end of data 552", "peer", {"--answer", "EOD:552 5.3.4 Message size exceeds fixed limit"}, 552,
        "Message size exceeds fixed limit");
    row("connection reset after DATA", "peer", {"--scenario", "reset-after-data"}, 1004, "closed");
    row("connection closed mid-content", "peer", {"--scenario", "close-mid-data"}, 1004, "closed");
    row("100 kB reply line", "peer", {"--scenario", "long-reply"}, 1011, "550 5.7.1 xxxx");
    row("354 and an early 250 to DATA", "peer",
        {"--answer", "DATA:354 go\\n250 2.0.0 early", "--answer", "EOD:554 5.7.1 rejected"}, 1011,
        "250 2.0.0 early");
    row("250, 354 and 250 to RCPT", "peer", {"--answer", "RCPT:250 ok\\n354 go\\n250 queued"}, 1011,
        "out of turn");
    row("421 to EHLO, then closed", "peer",
        {"--answer", "EHLO:421 4.3.2 shutting down", "--close-after", "EHLO"}, 421, "closing the connection");
    row("421 to STARTTLS", "peer",
        {"--answer", "EHLO:250-peer\\n250 STARTTLS", "--answer", "STARTTLS:421 4.3.2 shutting down"}, 421,
        "in reply to STARTTLS");
    row("251 to RCPT, 252 at the end of data", "peer",
        {"--answer", "RCPT:251 2.1.5 will forward", "--answer", "EOD:252 2.0.0 queued"}, 0, kRecipient);
    row("reset after the greeting", "peer", {"--scenario", "greet-reset"}, 1004, "closed the connection");
    row("000 zero to MAIL FROM", "peer", {"--answer", "MAIL:000 zero"}, 1011, "000 zero");
    row("reply text turned around", "peer", {"--answer", "MAIL:550 5.7.1 no \\u202e.KO detpecca"}, 550,
        "no \\u{202E}.KO detpecca");
    row("garbage instead of a reply code", "peer", {"--scenario", "garbage"}, 1011,
        "HELLO THIS IS NOT A MAIL SERVER");
    row("STARTTLS offered then broken", "peer", {"--scenario", "bad-tls"}, 1005, "STARTTLS");
    row("TLS ended by close_notify", "peer", {"--scenario", "tls-close-notify"}, 1004, "close_notify");
    row("EHLO 554, then closed", "peer", {"--answer", "EHLO:554 5.7.1 go away", "--close-after", "EHLO"}, 554,
        "554 5.7.1 go away");
    row("lines unasked posing as the box's own", "peer",
        {"--answer", "RCPT:250 ok\\nError code = 0\\nDescription = Send Email OK"}, 1011,
        "Error code = 0\\nDescription = Send Email OK");
    QTest::newRow("slow-drip replies within the reply bound")
        << "peer" << QStringList{"--scenario", "slow-drip", "--drip", "1.2"} << kSender << kRecipient
        << kSubject << kBody << 2000 << 30000 << 0 << kRecipient << one << false;
    QTest::newRow("slow-drip replies past the reply bound")
        << "peer" << QStringList{"--scenario", "slow-drip", "--drip", "4"} << kSender << kRecipient
        << kSubject << kBody << 2000 << 30000 << 1003 << QStringLiteral("2 s") << one << false;

    // Hostile input.
    input("CR LF in From", kSender + QStringLiteral("\r\nRCPT TO:<victim@localhost>"), kRecipient, 1006,
          "From");
    input("CR LF in To", kSender, kRecipient + QStringLiteral("\r\nBcc: victim@localhost"), 1006, "To");
    input("NUL in To", kSender, QStringLiteral("post%1master@localhost").arg(QChar(0)), 1006, "To");
    input("empty sender", QString(), kRecipient, 1008, "No sender");
    input("blank sender", QStringLiteral("   "), kRecipient, 1008, "No sender");
    input("two senders", QStringLiteral("a@localhost, b@localhost"), kRecipient, 1006, "From");
    input("no address in To", kSender, QStringLiteral(" ; , "), 1007, "No recipient");
    QTest::newRow("CR LF in Subject stays one header")
        << "aiosmtpd" << QStringList{} << kSender << kRecipient
        << QStringLiteral("Hello\r\nBcc: victim@localhost\r\n\r\nfake body") << kBody << kReplyMs << kTotalMs
        << 0 << QStringLiteral("Hello  Bcc: victim@localhost    fake body") << one << false;
    QTest::newRow("CR LF, a lone dot and SMTP commands in the body")
        << "aiosmtpd" << QStringList{} << kSender << kRecipient << kSubject
        << QStringLiteral(
               "first\r\n.\r\nMAIL FROM:<x@localhost>\r\nRCPT TO:<victim@localhost>\r\nDATA\r\n.\r\n")
        << kReplyMs << kTotalMs << 0 << QString() << one << false;
    QTest::newRow("NUL and control characters in the body")
        << "aiosmtpd" << QStringList{} << kSender << kRecipient << kSubject
        << QStringLiteral("before%1after\x01\x1b[31m\r\n").arg(QChar(0)) << kReplyMs << kTotalMs << 0
        << QString() << one << false;
    QTest::newRow("non-Latin body") << "aiosmtpd" << QStringList{} << kSender << kRecipient << kSubject
                                    << QStringLiteral("Проверка почтового сервера.\r\nВторая строка.\r\n")
                                    << kReplyMs << kTotalMs << 0 << QString() << one << false;
    QTest::newRow("10 MB body") << "aiosmtpd" << QStringList{} << kSender << kRecipient << kSubject
                                << BodyOfSize(10 * 1024 * 1024) << kReplyMs << 30000 << 0 << QString() << one
                                << false;
    QTest::newRow("non-ASCII recipient, server offers SMTPUTF8")
        << "aiosmtpd" << QStringList{"--smtputf8"} << kSender << QStringLiteral("jörg@localhost") << kSubject
        << kBody << kReplyMs << kTotalMs << 0 << QStringLiteral("SMTPUTF8")
        << QStringList{QStringLiteral("jörg@localhost")} << false;
    QTest::newRow("non-ASCII sender, no SMTPUTF8")
        << "aiosmtpd" << QStringList{} << QStringLiteral("prüfer@localhost") << kRecipient << kSubject
        << kBody << kReplyMs << kTotalMs << 1010 << QStringLiteral("prüfer@localhost") << QStringList{}
        << false;
    QTest::newRow("non-ASCII recipient, no SMTPUTF8")
        << "aiosmtpd" << QStringList{} << kSender << QStringLiteral("jörg@localhost") << kSubject << kBody
        << kReplyMs << kTotalMs << 1010 << QStringLiteral("SMTPUTF8") << QStringList{} << false;
    QTest::newRow("a direction character in the recipient is quoted escaped")
        << "aiosmtpd" << QStringList{} << kSender << QStringLiteral("\u202Eab@localhost") << kSubject << kBody
        << kReplyMs << kTotalMs << 1010 << QStringLiteral("\"\\u{202E}ab@localhost\"") << QStringList{}
        << false;
    QTest::newRow("non-ASCII domain goes in its ASCII form")
        << "aiosmtpd" << QStringList{} << kSender << QStringLiteral("postmaster@bücher.localhost") << kSubject
        << kBody << kReplyMs << kTotalMs << 0 << QString()
        << QStringList{QStringLiteral("postmaster@xn--bcher-kva.localhost")} << false;
  }

  void eachFaultGivesOneClearAnswer() {
    QFETCH(QString, server);
    QFETCH(QStringList, options);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, subject);
    QFETCH(QString, body);
    QFETCH(int, replyMs);
    QFETCH(int, totalMs);
    QFETCH(int, code);
    QFETCH(QString, fragment);
    QFETCH(QStringList, recipients);
    QFETCH(bool, badInput);

    Server faulty(server, options);
    QVERIFY2(faulty.start(), qPrintable(faulty.errorString()));
    PointMailAt(faulty.port(), replyMs, totalMs);
    form_->txtFrom.SetText(from);
    form_->txtTo.SetText(to);
    form_->txtSubject.SetText(subject);
    form_->txtMessage.SetText(body);

    QElapsedTimer clock;
    clock.start();
    Press();
    // Every wait is bounded; the press must come back within them.
    QVERIFY2(clock.elapsed() < totalMs + 5000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(boxes_->Shown.size(), std::size_t(1));
    const ui::MessageBoxRequest box = boxes_->Shown[0];
    // The dialogue behind the box, ending with the final reply when accepted;
    // none for input refused before any connection.
    QCOMPARE(box.Details.isEmpty(), badInput);
    if (code == 0)
      QVERIFY2(box.Details.section(u'\n', -1).startsWith(u"The server accepted the message: 2"),
               qPrintable(box.Details));

    if (code == 0) {
      QCOMPARE(box.Prompt, QStringLiteral("Send Email OK"));
      QCOMPARE(faulty.acceptedCount(), 1);
      if (server == u"aiosmtpd") {
        const testsupport::ReceivedMessage message = faulty.messages().at(0);
        QCOMPARE(message.recipients, recipients);
        for (const char *single : {"From", "To", "Subject", "Date", "Message-ID"}) {
          qsizetype count = 0;
          for (const auto &header : message.headers)
            count += header.first.compare(QLatin1String(single), Qt::CaseInsensitive) == 0;
          QVERIFY2(count == 1, single);
        }
        QVERIFY(message.header(QStringLiteral("Bcc")).isNull());
        QVERIFY(message.header(QStringLiteral("Cc")).isNull());
        QCOMPARE(message.body, body);
        if (fragment == u"SMTPUTF8")
          QVERIFY(message.mailOptions.contains(fragment));
        else if (!fragment.isEmpty())
          QCOMPARE(message.header(QStringLiteral("Subject")), fragment);
      } else {
        const QString accepted = faulty.peerAccepted().value(0);
        QVERIFY2(accepted.contains(u'<' + fragment + u'>'), qPrintable(accepted));
      }
    } else {
      QCOMPARE(box.Buttons, ui::MB_OK + ui::MB_ICONERROR);
      const Report report = ReadReport(box.Prompt);
      QVERIFY2(report.code != -1, qPrintable(box.Prompt.left(500)));
      QCOMPARE(report.code, code);
      QVERIFY2(report.description.contains(fragment), qPrintable(report.description.left(2500)));
      // However long the server's reply, the box stays readable.
      QVERIFY2(report.description.size() < 4000, qPrintable(QString::number(report.description.size())));
      if (!badInput && server != u"none")
        QVERIFY2(report.description.contains(QStringLiteral("127.0.0.1 port %1").arg(faulty.port())),
                 qPrintable(report.description.left(2500)));
      QCOMPARE(faulty.acceptedCount(), 0);
    }
    if (badInput) {
      QTest::qWait(200); // a stray connection would show by now
      QCOMPARE(faulty.connectionCount(), 0);
    }

    // The window is still usable: with good fields, a good server takes the next press.
    const int before = static_cast<int>(good_->messages().size());
    PointMailAt(good_->port(), kReplyMs, kTotalMs);
    form_->txtFrom.SetText(kSender);
    form_->txtTo.SetText(kRecipient);
    form_->txtMessage.SetText(kBody);
    Press();
    QCOMPARE(boxes_->Shown.size(), std::size_t(2));
    QCOMPARE(boxes_->Shown[1].Prompt, QStringLiteral("Send Email OK"));
    QCOMPARE(good_->messages().size(), before + 1);
  }
};

int main(int argc, char *argv[]) {
  ui::Application application(argv[0]);
  TestFaults test;
  return QTest::qExec(&test, argc, argv);
}

#include "tst_faults.moc"
