// What a real SMTP server receives from NewMail, decoded by Python's email package.
#include "MailTestHelpers.h"
#include "base/Version.h"
#include "mail/Submission.h"

#include <QDateTime>
#include <QTest>

using mailtest::DeliverOne;
using mailtest::Fields;
using testsupport::SmtpTestServer;

class DeliveryTest : public QObject {
  Q_OBJECT

private slots:
  void roundTripCarriesEveryHeader() {
    SmtpTestServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    Fields fields;
    fields.importance = 2;
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    const auto message = DeliverOne(server, fields);
    if (!message)
      return;
    QCOMPARE(message->mailFrom, QStringLiteral("sender@example.com"));
    QCOMPARE(message->recipients, QStringList{"ann@example.com"});
    QCOMPARE(message->ehloName, mail::ThisHostName());
    QCOMPARE(message->header("From"), QStringLiteral("Kestrine Test <sender@example.com>"));
    QCOMPARE(message->header("To"), QStringLiteral("Ann <ann@example.com>"));
    QCOMPARE(message->header("Subject"), QStringLiteral("Test message"));
    const QDateTime date = QDateTime::fromString(message->header("Date"), Qt::RFC2822Date);
    QVERIFY2(date >= before && date <= QDateTime::currentDateTime(), qPrintable(message->header("Date")));
    QVERIFY2(QRegularExpression("^<[^<>@\\s]+@[^<>@\\s]+>$").match(message->header("Message-ID")).hasMatch(),
             qPrintable(message->header("Message-ID")));
    QCOMPARE(message->header("MIME-Version"), QStringLiteral("1.0"));
    QCOMPARE(message->contentType, QStringLiteral("text/plain"));
    QCOMPARE(message->charset, QStringLiteral("utf-8"));
    QCOMPARE(message->header("Importance"), QStringLiteral("high"));
    QCOMPARE(message->header("X-Priority"), QStringLiteral("1"));
    QCOMPARE(message->header("X-Mailer"), QStringLiteral("%1 %2").arg(QLatin1String(Version::kProductName),
                                                                      QLatin1String(Version::kVersionText)));
    QCOMPARE(mailtest::Chomp(message->body), QStringLiteral("Hello from the test."));
    for (const QByteArray &line : message->raw.split('\n').mid(0, message->raw.count('\n')))
      QVERIFY2(line.endsWith('\r'), "a bare LF on the wire");
  }

  void textsArriveIntact_data() {
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("expectedBody");
    const QString utf8 = QStringLiteral("Grüße aus Köln — 日本語 ✓ zеркало");
    QTest::newRow("UTF-8 subject and body") << utf8 << utf8 + "\r\nline two" << utf8 + "\nline two";
    QTest::newRow("5000-character line") << "long" << QString(5000, u'x') << QString(5000, u'x');
    QTest::newRow("5000 non-ASCII characters") << "long" << QString(5000, u'ж') << QString(5000, u'ж');
    QTest::newRow("lone dots") << "dots"
                               << ".\r\nmiddle\r\n.\r\n..\r\n. \r\n."
                               << ".\nmiddle\n.\n..\n. \n.";
    QTest::newRow("a dot line in a non-ASCII body")
        << "dots" << QStringLiteral("é\r\n.\r\né") << QStringLiteral("é\n.\né");
    QTest::newRow("the end-of-data sequence in the body") << "eod"
                                                          << "a\r\n.\r\nMAIL FROM:<evil@example.net>\r\n"
                                                          << "a\n.\nMAIL FROM:<evil@example.net>";
    QTest::newRow("lone LF and lone CR") << "breaks"
                                         << "one\ntwo\rthree"
                                         << "one\ntwo\nthree";
    QTest::newRow("blank lines kept") << "blank"
                                      << "\r\n\r\nmiddle\r\n\r\n\r\n"
                                      << "\n\nmiddle\n\n";
    QTest::newRow("From at line start") << "from"
                                        << "From here\r\n>quoted"
                                        << "From here\n>quoted";
    QTest::newRow("empty subject and body") << ""
                                            << ""
                                            << "";
    QTest::newRow("long UTF-8 subject") << QString(40, u'ß') + " " + QString(200, u'a') << "b"
                                        << "b";
  }
  void textsArriveIntact() {
    QFETCH(QString, subject);
    QFETCH(QString, body);
    QFETCH(QString, expectedBody);
    Fields fields;
    fields.subject = subject;
    fields.body = body;
    const auto message = DeliverOne(fields);
    if (!message)
      return;
    QCOMPARE(message->header("Subject"), subject);
    QCOMPARE(mailtest::Chomp(message->body), expectedBody);
  }

  // What a reader shows is what was typed: text that merely looks like an
  // encoded-word, in the subject or a quoted name, is not decoded into
  // something else; a lone surrogate is U+FFFD wherever it stands.
  void headerTextsArriveAsTyped_data() {
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("expectedSubject");
    QTest::addColumn<QString>("expectedTo");
    const QString ann = "Ann <ann@example.com>";
    const QString lookalike = "Test =?utf-8?b?SGVsbG8=?= done";
    QTest::newRow("subject like an encoded-word") << lookalike << ann << lookalike << ann;
    QTest::newRow("subject like a Latin-1 encoded-word")
        << "price =?iso-8859-1?q?=A3?= 5" << ann << "price =?iso-8859-1?q?=A3?= 5" << ann;
    QTest::newRow("encoded-word inside a word") << "a=?utf-8?q?x?=b" << ann << "a=?utf-8?q?x?=b" << ann;
    const QString longOne =
        QStringLiteral("Grüße =?utf-8?q?") + QString(100, u'a') + QStringLiteral("?= ✓ end");
    QTest::newRow("long, with non-ASCII around it") << longOne << ann << longOne << ann;
    QTest::newRow("quoted name like an encoded-word")
        << "s"
        << "\"=?utf-8?b?SGVsbG8=?=\" <ann@example.com>"
        << "s"
        << "=?utf-8?b?SGVsbG8=?= <ann@example.com>"; // the name itself, not "Hello"
    QTest::newRow("lone surrogates") << QStringLiteral("a") + QChar(0xD800) + "b"
                                     << QStringLiteral("Zo") + QChar(0xDC00) + " <ann@example.com>"
                                     << QStringLiteral("a\uFFFDb")
                                     << QStringLiteral("Zo\uFFFD <ann@example.com>");
  }
  void headerTextsArriveAsTyped() {
    QFETCH(QString, subject);
    QFETCH(QString, to);
    QFETCH(QString, expectedSubject);
    QFETCH(QString, expectedTo);
    Fields fields;
    fields.subject = subject;
    fields.to = to;
    const auto message = DeliverOne(fields);
    if (!message)
      return;
    QCOMPARE(message->header("Subject"), expectedSubject);
    QCOMPARE(message->header("To"), expectedTo);
  }

  // What follows EHLO and the "@" of the Message-ID must be a DNS name.
  void hostNameIsAValidDnsNameOrLocalhost_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("used");
    const QString label63(63, u'a');
    for (const QString &valid :
         {QStringLiteral("vm"), QStringLiteral("mail-1.example.com"), label63 + ".example"})
      QTest::newRow(qPrintable("valid " + valid.left(20))) << valid << valid;
    for (const QString &invalid :
         {QString(), QStringLiteral("a..b"), QStringLiteral("host."), QStringLiteral("-mail.example"),
          QStringLiteral("mail-.example"), QStringLiteral("under_score"), QStringLiteral("bücher"),
          label63 + "a.example"})
      QTest::newRow(qPrintable("invalid " + invalid.left(20))) << invalid << "localhost";
  }
  void hostNameIsAValidDnsNameOrLocalhost() {
    QFETCH(QString, name);
    QFETCH(QString, used);
    QCOMPARE(mail::ValidHostNameOrLocalhost(name), used);
  }

  void severalRecipients_data() {
    QTest::addColumn<QString>("to");
    QTest::addColumn<QStringList>("envelope");
    QTest::addColumn<QString>("header");
    QTest::newRow("commas") << "ann@example.com, bob@example.org"
                            << QStringList{"ann@example.com", "bob@example.org"}
                            << "ann@example.com, bob@example.org";
    QTest::newRow("semicolons and names")
        << "Ann <ann@example.com>; \"Bloggs, Bob\" <bob@example.org>;carl@example.net"
        << QStringList{"ann@example.com", "bob@example.org", "carl@example.net"}
        << "Ann <ann@example.com>, \"Bloggs, Bob\" <bob@example.org>, carl@example.net";
    QTest::newRow("UTF-8 names") << QStringLiteral("Zoë <zoe@example.com>; Jörg <joerg@example.com>")
                                 << QStringList{"zoe@example.com", "joerg@example.com"}
                                 << QStringLiteral("Zoë <zoe@example.com>, Jörg <joerg@example.com>");
  }
  void severalRecipients() {
    QFETCH(QString, to);
    QFETCH(QStringList, envelope);
    QFETCH(QString, header);
    Fields fields;
    fields.to = to;
    const auto message = DeliverOne(fields);
    if (!message)
      return;
    QCOMPARE(message->recipients, envelope);
    QCOMPARE(message->header("To"), header);
  }

  void importanceHeaders_data() {
    QTest::addColumn<int>("importance");
    QTest::addColumn<QString>("word");
    QTest::addColumn<QString>("priority");
    QTest::newRow("0 low") << 0 << "low"
                           << "5";
    QTest::newRow("1 normal") << 1 << "normal"
                              << "3";
    QTest::newRow("2 high") << 2 << "high"
                            << "1";
  }
  void importanceHeaders() {
    QFETCH(int, importance);
    QFETCH(QString, word);
    QFETCH(QString, priority);
    Fields fields;
    fields.importance = importance;
    const auto message = DeliverOne(fields);
    if (!message)
      return;
    QCOMPARE(message->header("Importance"), word);
    QCOMPARE(message->header("X-Priority"), priority);
  }

  void sendArgumentsReplaceTheFields() {
    SmtpTestServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    mail::SetDefaultTarget({"127.0.0.1", server.port(), mailtest::ShortTimeouts()});
    mail::NewMail message;
    message.From("old@example.com");
    message.To("old@example.com");
    message.Subject("old");
    message.Body("old");
    message.Importance(0);
    message.Send(QString("new@example.com"), QString("bob@example.org"), QString("new subject"),
                 QString("new body"), 2);
    const auto received = server.messages();
    QCOMPARE(received.size(), 1);
    QCOMPARE(received[0].mailFrom, QStringLiteral("new@example.com"));
    QCOMPARE(received[0].recipients, QStringList{"bob@example.org"});
    QCOMPARE(received[0].header("Subject"), QStringLiteral("new subject"));
    QCOMPARE(mailtest::Chomp(received[0].body), QStringLiteral("new body"));
    QCOMPARE(received[0].header("Importance"), QStringLiteral("high"));
  }

  void aMessageIsSentOnce() {
    SmtpTestServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    mail::SetDefaultTarget({"127.0.0.1", server.port(), mailtest::ShortTimeouts()});
    mail::NewMail message;
    message.From("a@example.com");
    message.To("b@example.com");
    message.Send();
    try {
      message.Send();
      QFAIL("sent twice");
    } catch (const ErrorRecord &e) {
      QCOMPARE(e.Number(), mail::kAlreadySent);
    }
    QCOMPARE(server.messages().size(), 1);
  }

  void nonAsciiAddressGoesWithSmtpUtf8() {
    Fields fields;
    fields.from = QStringLiteral("Jörg <jörg@exämple.de>");
    fields.to = QStringLiteral("zoë@example.com, ann@example.com");
    const auto message = DeliverOne(fields, {"--smtputf8"});
    if (!message)
      return;
    QCOMPARE(message->mailFrom, QStringLiteral("jörg@xn--exmple-cua.de"));
    QCOMPARE(message->recipients, (QStringList{QStringLiteral("zoë@example.com"), "ann@example.com"}));
    QVERIFY2(message->mailOptions.contains("SMTPUTF8"), qPrintable(message->mailOptions.join(' ')));
    QCOMPARE(message->header("From"), QStringLiteral("Jörg <jörg@xn--exmple-cua.de>"));
  }

  void nonAsciiDomainGoesInItsAsciiForm() {
    Fields fields;
    fields.to = QStringLiteral("Zoë <zoe@exämple.com>");
    const auto message = DeliverOne(fields);
    if (!message)
      return;
    QCOMPARE(message->recipients, QStringList{"zoe@xn--exmple-cua.com"});
    QCOMPARE(message->header("To"), QStringLiteral("Zoë <zoe@xn--exmple-cua.com>"));
    QVERIFY(!message->mailOptions.contains("SMTPUTF8"));
  }

  void asciiAddressesNeedNoSmtpUtf8() {
    const auto message = DeliverOne(Fields{}, {"--smtputf8"});
    if (!message)
      return;
    QVERIFY(!message->mailOptions.contains("SMTPUTF8"));
  }

  void startTlsWhenOffered() {
    const auto message = DeliverOne(Fields{}, {"--starttls"});
    if (!message)
      return;
    QVERIFY(message->tls);
    QCOMPARE(mailtest::Chomp(message->body), QStringLiteral("Hello from the test."));
  }

  void localhostReachesEitherLoopback_data() {
    QTest::addColumn<QString>("listen");
    QTest::newRow("IPv4") << "127.0.0.1";
    QTest::newRow("IPv6") << "::1";
  }
  void localhostReachesEitherLoopback() {
    QFETCH(QString, listen);
    SmtpTestServer server({"--host", listen});
    if (!server.start())
      QSKIP(qPrintable("cannot listen on " + listen + ": " + server.errorString()));
    const auto error = mailtest::SendTo("localhost", server.port(), Fields{});
    QVERIFY2(!error, qPrintable(mailtest::Describe(error)));
    QCOMPARE(server.messages().size(), 1);
  }
};

QTEST_GUILESS_MAIN(DeliveryTest)
#include "tst_mail_delivery.moc"
