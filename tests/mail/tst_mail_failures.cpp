// Every way a submission fails: its number, its words, its bounded time, and
// that bad input never reaches the wire.
#include "MailTestHelpers.h"

#include <QElapsedTimer>
#include <QTest>

using mailtest::Fields;
using std::chrono::milliseconds;
using testsupport::SmtpTestServer;

namespace {

// The send failed with `number`, and its description holds each of `parts`;
// a part that starts "S: ", "C: " or with blanks (a note) is a line of the
// dialogue, looked for in the details. The description is one line whatever the server sent, and the
// details keep their bound.
void ExpectFailure(const std::optional<ErrorRecord> &error, int number, const QStringList &parts) {
  QVERIFY2(error, "the send succeeded");
  QCOMPARE(error->Number(), number);
  for (const QString &part : parts) {
    const QString &text = part.startsWith(u"S: ") || part.startsWith(u"C: ") || part.startsWith(u"   ")
                              ? error->Details()
                              : error->Description();
    QVERIFY2(text.contains(part), qPrintable(QStringLiteral("\"%1\" not in: %2").arg(part, text)));
  }
  QVERIFY2(QStringView(error->Description()).isValidUtf16(), "a cut split a surrogate pair");
  QVERIFY2(!error->Description().contains(u'\n'), qPrintable(error->Description()));
  QVERIFY2(error->Details().size() <= 64 * 1024, qPrintable(error->Details().right(300)));
  // Nothing, not even QUIT, answers what a server said out of turn.
  if (error->Description().contains(u"out of turn"))
    QVERIFY2(!error->Details().contains(u"C: QUIT"), qPrintable(error->Details()));
  // The details hold the dialogue, and nothing but QUIT follows a refusal.
  if (!IsServerRefusal(number))
    return;
  const QStringList lines = error->Details().split(u'\n');
  qsizetype refused = lines.size();
  while (refused > 0 && !lines[refused - 1].contains(QStringLiteral("S: %1 ").arg(number)))
    --refused;
  for (const QString &line : lines.mid(refused))
    if (line.contains(u"C: "))
      QVERIFY2(line.endsWith(u"C: QUIT"), qPrintable(error->Details()));
  QVERIFY2(refused > 0, qPrintable("the refusal is not in the details: " + error->Details()));
}

// Sends `fields` to `server` and checks that the send came back within
// `boundMs`; what it raised, if anything.
std::optional<ErrorRecord> SendWithin(qint64 boundMs, const SmtpTestServer &server, const Fields &fields,
                                      const mail::Timeouts &timeouts = mailtest::ShortTimeouts()) {
  QElapsedTimer clock;
  clock.start();
  auto error = mailtest::SendTo(server, fields, timeouts);
  const qint64 took = clock.elapsed();
  [&] { QVERIFY2(took < boundMs, qPrintable(QStringLiteral("took %1 ms").arg(took))); }();
  return error;
}

} // namespace

class FailuresTest : public QObject {
  Q_OBJECT

private slots:
  void serverRefusalsReachTheDescription_data() {
    QTest::addColumn<QStringList>("serverArguments");
    QTest::addColumn<QString>("to");
    QTest::addColumn<int>("number");
    QTest::addColumn<QStringList>("described");
    const QString ann = "ann@example.com";
    QTest::newRow("greeting 554") << QStringList{"--answer", "GREETING:554 5.3.2 No SMTP service here"} << ann
                                  << 554
                                  << QStringList{"554 5.3.2 No SMTP service here", "in its greeting",
                                                 "refused the connection"};
    QTest::newRow("greeting 421") << QStringList{"--answer", "GREETING:421 4.3.2 Too busy, come back later"}
                                  << ann << 421
                                  << QStringList{"421 4.3.2 Too busy, come back later", "temporary"};
    QTest::newRow("EHLO and HELO 550")
        << QStringList{"--answer", "EHLO:550 5.7.1 Who are you?", "--answer", "HELO:550 5.7.1 Who are you?"}
        << ann << 550 << QStringList{"550 5.7.1 Who are you?", "in reply to HELO "};
    QTest::newRow("MAIL 550") << QStringList{"--answer", "MAIL:550 5.7.1 Sender rejected"} << ann << 550
                              << QStringList{"550 5.7.1 Sender rejected",
                                             "in reply to MAIL FROM:<sender@example.com>", "sender"};
    QTest::newRow("MAIL 451") << QStringList{"--answer", "MAIL:451 4.3.0 Try again"} << ann << 451
                              << QStringList{"451 4.3.0 Try again", "temporary"};
    QTest::newRow("RCPT 550 for one of two")
        << QStringList{"--answer",
                       "RCPT:550 5.1.1 <bob@example.org>: Recipient address rejected: User unknown",
                       "--answer-for", "bob@example.org"}
        << "ann@example.com, bob@example.org" << 550
        << QStringList{"550 5.1.1 <bob@example.org>: Recipient address rejected: User unknown",
                       "in reply to RCPT TO:<bob@example.org>", "recipient exists"};
    QTest::newRow("RCPT 450 on several lines")
        << QStringList{"--answer", "RCPT:450-4.2.0 Greylisted\\n450 please try again in 5 minutes"} << ann
        << 450 << QStringList{R"(450-4.2.0 Greylisted\n450 please try again in 5 minutes)"};
    QTest::newRow("DATA 554") << QStringList{"--answer", "DATA:554 5.5.1 No valid recipients"} << ann << 554
                              << QStringList{"554 5.5.1 No valid recipients", "in reply to DATA"};
    QTest::newRow("end of data 452") << QStringList{"--answer", "EOD:452 4.3.1 Insufficient system storage"}
                                     << ann << 452
                                     << QStringList{"452 4.3.1 Insufficient system storage",
                                                    "in reply to the end of the message data", "disk space"};
    QTest::newRow("end of data 552") << QStringList{"--answer", "EOD:552 5.3.4 Message too big"} << ann << 552
                                     << QStringList{"552 5.3.4 Message too big", "size limit"};
    QTest::newRow("a long reply is cut, and says so")
        << QStringList{"--answer", "MAIL:550-" + QStringList(29, QString(100, u'z')).join("\\n550-") +
                                       "\\n550 " + QString(100, u'z')}
        << ann << 550 << QStringList{"550-zzzz", "more characters"};
    QTest::newRow("end of data 554") << QStringList{"--answer", "EOD:554 5.7.1 Rejected by content filter"}
                                     << ann << 554
                                     << QStringList{"554 5.7.1 Rejected by content filter",
                                                    "content filters"};
  }
  void serverRefusalsReachTheDescription() {
    QFETCH(QStringList, serverArguments);
    QFETCH(QString, to);
    QFETCH(int, number);
    QFETCH(QStringList, described);
    SmtpTestServer server(SmtpTestServer::Program::ScriptedPeer, serverArguments);
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    Fields fields;
    fields.to = to;
    ExpectFailure(mailtest::SendTo(server, fields), number,
                  described << QStringLiteral("127.0.0.1 port %1").arg(server.port()));
    QCOMPARE(server.peerAccepted().size(), 0);
  }

  // Faults only a broken peer makes; each must end with its number well within
  // the bounds (reply 2 s, whole submission 8 s).
  void faultsEndWithinTheBounds_data() {
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<int>("number");
    QTest::addColumn<QStringList>("described");
    QTest::addColumn<int>("bodySize");
    QTest::newRow("silence after connect")
        << "silent" << int(mail::kTimedOut) << QStringList{"sent no greeting within 2 s"} << 2000;
    QTest::newRow("garbage greeting")
        << "garbage" << int(mail::kNotSmtp)
        << QStringList{"HELLO THIS IS NOT A MAIL SERVER", "not a proper SMTP reply"} << 2000;
    // Past 64 KB a reply is no proper one, whatever its code.
    QTest::newRow("100 kB reply line")
        << "long-reply" << int(mail::kNotSmtp) << QStringList{"550 5.7.1 xxxx", "MAIL FROM", "64 KB"} << 2000;
    QTest::newRow("closed mid-DATA") << "close-mid-data" << int(mail::kConnectionLost)
                                     << QStringList{"closed the connection", "message content",
                                                    "not delivered"}
                                     << 4 * 1024 * 1024; // more than the socket buffers hold
    QTest::newRow("closed before the end-of-data reply")
        << "close-at-end" << int(mail::kConnectionLost)
        << QStringList{"closed the connection", "reply to the end of the message data",
                       "may have accepted it"}
        << 2000;
    QTest::newRow("stops reading the content")
        << "stop-reading" << int(mail::kTimedOut)
        << QStringList{"did not take the message content within 2 s"} << 8 * 1024 * 1024;
    QTest::newRow("reset before the greeting")
        << "reset" << int(mail::kConnectionLost) << QStringList{"while waiting for its greeting"} << 2000;
    QTest::newRow("reset after the greeting")
        << "greet-reset" << int(mail::kConnectionLost) << QStringList{"closed the connection"} << 2000;
    QTest::newRow("STARTTLS that is not TLS")
        << "bad-tls" << int(mail::kTlsFailure) << QStringList{"STARTTLS"} << 2000;
    // Whatever the body's size, the reply is the answer, not the close behind it.
    QTest::newRow("421 unasked mid-content, then a reset")
        << "refuse-mid-data" << 421
        << QStringList{"421 4.3.2 shutting down", "while the message content was being sent"}
        << 4 * 1024 * 1024;
    QTest::newRow("closed right after 354")
        << "close-after-354" << int(mail::kConnectionLost)
        << QStringList{"while the message content was being sent", "not delivered"} << 4 * 1024 * 1024;
    QTest::newRow("421 to the end of data, then a reset")
        << "refuse-mid-data" << 421 << QStringList{"421 4.3.2 shutting down"} << 2000;
  }
  void faultsEndWithinTheBounds() {
    QFETCH(QString, scenario);
    QFETCH(int, number);
    QFETCH(QStringList, described);
    QFETCH(int, bodySize);
    SmtpTestServer peer(SmtpTestServer::Program::ScriptedPeer, {"--scenario", scenario});
    QVERIFY2(peer.start(), qPrintable(peer.errorString()));
    Fields fields;
    fields.body = QString(bodySize, u'b');
    const auto error = SendWithin(6000, peer, fields);
    ExpectFailure(error, number, described);
    if (!error)
      return;
    QVERIFY2(error->Description().size() < 3000, "an unbounded description");
  }

  // The message was accepted; a server that then ignores QUIT must not hold
  // the caller beyond the reply bound.
  void acceptedMessageIsSuccessEvenIfQuitGoesUnanswered() {
    SmtpTestServer peer(SmtpTestServer::Program::ScriptedPeer, {"--scenario", "silent-quit"});
    QVERIFY2(peer.start(), qPrintable(peer.errorString()));
    const auto error =
        SendWithin(3000, peer, Fields{}, {milliseconds(3000), milliseconds(10000), milliseconds(20000)});
    QVERIFY2(!error, qPrintable(mailtest::Describe(error)));
  }

  void totalBoundHoldsAgainstASlowServer() {
    SmtpTestServer peer(SmtpTestServer::Program::ScriptedPeer, {"--scenario", "silent"});
    QVERIFY2(peer.start(), qPrintable(peer.errorString()));
    ExpectFailure(
        SendWithin(3000, peer, Fields{}, {milliseconds(2000), milliseconds(5000), milliseconds(1500)}),
        mail::kTimedOut, {"whole submission"});
  }

  // Each bound covers its own wait: connect the TCP connection, reply each
  // answer (the greeting and a TLS handshake included), whole the submission,
  // QUIT included (at most 1 s more). Sizes in both orders; the description
  // names the bound that fired, and the send ends at it, not before or long after.
  void eachBoundCoversItsOwnWait_data() {
    QTest::addColumn<QStringList>("peer");
    QTest::addColumn<QList<int>>("bounds"); // connect, reply, whole (ms)
    QTest::addColumn<int>("number");        // 0: accepted
    QTest::addColumn<QString>("described");
    QTest::addColumn<int>("endsAtMs"); // when the bound fires (for a success: at most)
    const QString mail = "MAIL FROM:<sender@example.com>";
    QTest::newRow("greeting after 2 s, connect bound 1 s")
        << QStringList{"--delay", "GREETING:2"} << QList<int>{1000, 3000, 8000} << 0 << QString() << 2000;
    QTest::newRow("greeting after 4 s, reply bound 2 s")
        << QStringList{"--delay", "GREETING:4"} << QList<int>{1000, 2000, 8000} << int(mail::kTimedOut)
        << "sent no greeting within 2 s" << 2000;
    QTest::newRow("greeting after 4 s, reply 3 s, connect 2 s")
        << QStringList{"--delay", "GREETING:4"} << QList<int>{2000, 3000, 8000} << int(mail::kTimedOut)
        << "sent no greeting within 3 s" << 3000;
    QTest::newRow("no connection, connect bound 1 s")
        << QStringList{"--scenario", "unreachable"} << QList<int>{1000, 3000, 5000} << int(mail::kTimedOut)
        << "Could not connect to the mail server at 127.0.0.1 port %1 within 1 s" << 1000;
    QTest::newRow("no connection, whole bound before the connect bound")
        << QStringList{"--scenario", "unreachable"} << QList<int>{4000, 3000, 2000} << int(mail::kTimedOut)
        << "within the 2 s allowed for the whole submission" << 2000;
    QTest::newRow("MAIL unanswered, reply 2 s")
        << QStringList{"--delay", "MAIL:30"} << QList<int>{1000, 2000, 8000} << int(mail::kTimedOut)
        << "sent no reply to " + mail + " within 2 s" << 2000;
    QTest::newRow("MAIL after 1.5 s, RCPT unanswered, whole 3 s")
        << QStringList{"--delay", "MAIL:1.5", "--delay", "RCPT:30"} << QList<int>{5000, 2000, 3000}
        << int(mail::kTimedOut)
        << "sent no reply to RCPT TO:<ann@example.com> within the 3 s allowed for the whole submission"
        << 3000;
    QTest::newRow("STARTTLS, then no handshake")
        << QStringList{"--scenario", "tls-silent"} << QList<int>{1000, 2000, 8000} << int(mail::kTimedOut)
        << "did not finish the TLS negotiation after STARTTLS within 2 s" << 2000;
    QTest::newRow("end of data unanswered")
        << QStringList{"--delay", "EOD:30"} << QList<int>{1000, 2000, 8000} << int(mail::kTimedOut)
        << "sent no reply to the end of the message data within 2 s" << 2000;
    QTest::newRow("refused at MAIL, QUIT unanswered")
        << QStringList{"--scenario", "silent-quit", "--answer", "MAIL:550 5.7.1 no"}
        << QList<int>{1000, 3000, 8000} << 550 << "550 5.7.1 no" << 0;
    QTest::newRow("accepted, QUIT unanswered")
        << QStringList{"--scenario", "silent-quit"} << QList<int>{1000, 3000, 8000} << 0 << QString() << 0;
    // Proper replies a server may give, and lines that are none, told at once.
    const QList<int> longReply{1000, 5000, 8000};
    QTest::newRow("EHLO 502, HELO taken")
        << QStringList{"--answer", "EHLO:502 5.5.2 no"} << longReply << 0 << QString() << 0;
    QTest::newRow("251 to RCPT, 252 at the end of data")
        << QStringList{"--answer", "RCPT:251 2.1.5 will forward", "--answer", "EOD:252 2.0.0 queued"}
        << longReply << 0 << QString() << 0;
    QTest::newRow("400 EHLO lines") << QStringList{"--answer",
                                                   "EHLO:250-peer\\n" +
                                                       QStringList(400, "250-X-CAPABILITY").join("\\n") +
                                                       "\\n250 8BITMIME"}
                                    << longReply << 0 << QString() << 0;
    QTest::newRow("replies ended by LF alone")
        << QStringList{"--line-end", "lf"} << longReply << 0 << QString() << 0;
    QTest::newRow("greeting ended by CR alone")
        << QStringList{"--line-end", "cr"} << QList<int>{1000, 2000, 8000} << int(mail::kTimedOut)
        << R"(S: 220 peer ready\r)" << 2000;
    QTest::newRow("accepted, then a refusal in the same write")
        << QStringList{"--answer", "EOD:250 2.0.0 Ok: queued as 4F2A1\\n554 5.7.1 rejected after all"}
        << longReply << int(mail::kNotSmtp)
        << R"(accepted the message ("250 2.0.0 Ok: queued as 4F2A1"), then sent "554 5.7.1 rejected after all")"
        << 0;
    for (const char *line : {"000 zero", "2500 ok", "ok, sender fine"})
      QTest::newRow(qPrintable(QStringLiteral("not a reply line: ") + line))
          << QStringList{"--answer", QStringLiteral("MAIL:") + line} << longReply << int(mail::kNotSmtp)
          << QString(line) << 0;
  }
  void eachBoundCoversItsOwnWait() {
    QFETCH(QStringList, peer);
    QFETCH(QList<int>, bounds);
    QFETCH(int, number);
    QFETCH(QString, described);
    QFETCH(int, endsAtMs);
    SmtpTestServer server(SmtpTestServer::Program::ScriptedPeer, peer);
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    QElapsedTimer clock;
    clock.start();
    const auto error = mailtest::SendTo(
        server, Fields{}, {milliseconds(bounds[0]), milliseconds(bounds[1]), milliseconds(bounds[2])});
    const qint64 took = clock.elapsed();
    if (number == 0) {
      QVERIFY2(!error, qPrintable(mailtest::Describe(error)));
      QCOMPARE(server.peerAccepted().size(), 1);
    } else {
      ExpectFailure(error, number, {described.contains(u"%1") ? described.arg(server.port()) : described});
      QVERIFY2(took >= endsAtMs - 100, qPrintable(QStringLiteral("ended after %1 ms").arg(took)));
    }
    // The bound, a QUIT of at most 1 s, and room for a slow (valgrind) run.
    QVERIFY2(took < endsAtMs + 1000 + 1500, qPrintable(QStringLiteral("took %1 ms").arg(took)));
  }

  // What the description blames is what happened: the server's own words,
  // quoted with any control character shown escaped, and a hint that follows them.
  void diagnosticsNameTheRealCause_data() {
    QTest::addColumn<QStringList>("peer");
    QTest::addColumn<int>("number");
    QTest::addColumn<QStringList>("described");
    QTest::addColumn<QStringList>("notDescribed");
    QTest::newRow("a 1 MB reply line") << QStringList{"--scenario", "huge-reply"} << int(mail::kNotSmtp)
                                       << QStringList{"past 64 KB without end"} << QStringList{"closed"};
    QTest::newRow("endless EHLO continuation")
        << QStringList{"--scenario", "endless-ehlo"} << int(mail::kNotSmtp) << QStringList{"250-PIPELINING"}
        << QStringList{"closed"};
    QTest::newRow("354 to MAIL") << QStringList{"--answer", "MAIL:354 go ahead"} << int(mail::kNotSmtp)
                                 << QStringList{"354 go ahead", "MAIL FROM:<sender@example.com>"}
                                 << QStringList{"closed"};
    QTest::newRow("250 to DATA") << QStringList{"--answer", "DATA:250 fine"} << int(mail::kNotSmtp)
                                 << QStringList{"250 fine", "DATA"} << QStringList{"closed"};
    QTest::newRow("closed after the greeting")
        << QStringList{"--scenario", "greet-close", "--answer", "GREETING:220 mx.example ESMTP ready"}
        << int(mail::kConnectionLost) << QStringList{"closed the connection", "220 mx.example ESMTP ready"}
        << QStringList{};
    QTest::newRow("controls, direction and invisible characters in a reply are shown escaped")
        << QStringList{"--answer",
                       R"(MAIL:550 5.7.1 no\rError code = 0\x1b[31m\x00\u202e\u2028\U000e0001\u115f\u3164\u034f\ufe0f)"}
        << 550
        << QStringList{R"(550 5.7.1 no\rError code = 0\x1b[31m\x00\u{202E}\u{2028}\u{E0001}\u{115F}\u{3164}\u{034F}\u{FE0F})"}
        << QStringList{"\r",
                       "\x1b",
                       QString(QChar(0)),
                       QString(QChar(0x202E)),
                       QString(QChar(0x2028)),
                       QString(QChar(0x115F)),
                       QString(QChar(0x3164)),
                       QString(QChar(0x34F)),
                       QString(QChar(0xFE0F))};
    // TLS that breaks after its negotiation is told at once, in its own
    // words: waiting for the bound would end in 1003.
    QTest::newRow("TLS: a client certificate demanded")
        << QStringList{"--scenario", "tls-client-cert"} << int(mail::kTlsFailure)
        << QStringList{"certificate required", "   TLS established: "} << QStringList{"within"};
    QTest::newRow("TLS: plain text inside it")
        << QStringList{"--scenario", "tls-plain"} << int(mail::kTlsFailure)
        << QStringList{"The TLS connection to the mail server at",
                       "failed while waiting for the reply to EHLO"}
        << QStringList{"within"};
    QTest::newRow("TLS: close_notify, TCP left open")
        << QStringList{"--scenario", "tls-close-notify"} << int(mail::kConnectionLost)
        << QStringList{"it ended TLS with close_notify",
                       "   certificate: CN=localhost; alternative names: none",
                       "   issuer: CN=localhost",
                       "   valid from ",
                       "   key: RSA, 2048 bits; chain: 1 certificates",
                       "   certificate check against this machine's CAs and the name 127.0.0.1: not "
                       "enforced, the server is this machine; the check would fail: "}
        << QStringList{"within"};
    QTest::newRow("lines unasked cannot pose as the box's own")
        << QStringList{"--answer", "RCPT:250 ok\\nError code = 0\\nDescription = Send Email OK"}
        << int(mail::kNotSmtp) << QStringList{R"("Error code = 0\nDescription = Send Email OK")"}
        << QStringList{};
    QTest::newRow("EHLO refused with 554, then a close: no HELO")
        << QStringList{"--answer", "EHLO:554 5.7.1 go away", "--close-after", "EHLO"} << 554
        << QStringList{"554 5.7.1 go away", "in reply to EHLO "} << QStringList{"in reply to HELO", "closed"};
    // 400 lines of 150 octets: a reply of some 60 KB.
    const auto wide = [](const QString &code) {
      return QStringList(399, code + "-" + QString(150, u'w')).join("\\n") + "\\n" + code + " end";
    };
    QTest::newRow("two replies of 60 KB keep the details within 64 KB")
        << QStringList{"--answer", "EHLO:" + wide("250"), "--answer", "MAIL:" + wide("550")} << 550
        << QStringList{"550-www", "S: 250-www"} << QStringList{};
    QTest::newRow("a cut keeps a surrogate pair whole")
        << QStringList{"--answer", "MAIL:550 " + QString(1995, u'a') + "\\U0001F600 tail"} << 550
        << QStringList{"more characters"} << QStringList{};
    QTest::newRow("354 and an early 250 to DATA")
        << QStringList{"--answer", "DATA:354 go\\n250 2.0.0 early", "--answer", "EOD:554 5.7.1 rejected"}
        << int(mail::kNotSmtp) << QStringList{"250 2.0.0 early", "out of turn", "before the message content"}
        << QStringList{};
    QTest::newRow("250, 354 and 250 to RCPT")
        << QStringList{"--answer", "RCPT:250 ok\\n354 go\\n250 queued"} << int(mail::kNotSmtp)
        << QStringList{"354 go", "out of turn", "before DATA was sent"} << QStringList{};
    for (const QString step : {"GREETING", "EHLO", "STARTTLS", "MAIL", "RCPT", "DATA", "EOD"})
      for (const bool closes : {false, true}) {
        QStringList peer{"--answer", step + ":421 4.3.2 shutting down"};
        if (step == u"STARTTLS")
          peer << "--answer"
               << "EHLO:250-peer\\n250 STARTTLS";
        if (closes)
          peer << "--close-after" << step;
        QTest::newRow(qPrintable(QStringLiteral("421 to %1%2").arg(step, closes ? ", closed" : "")))
            << peer << 421 << QStringList{"421 4.3.2 shutting down", "closing the connection"}
            << QStringList{"HELO "};
      }
    QTest::newRow("421 unasked after the reply to MAIL, closed")
        << QStringList{"--answer", "MAIL:250 ok\\n421 4.3.2 shutting down", "--close-after", "MAIL"} << 421
        << QStringList{"421 4.3.2 shutting down"} << QStringList{"out of turn"};
    QTest::newRow("size refused at MAIL FROM")
        << QStringList{"--answer", "EHLO:250-peer\\n250 SIZE 100", "--answer",
                       "MAIL:552 5.3.4 Message size exceeds fixed limit"}
        << 552 << QStringList{"SIZE=", "message size limit"} << QStringList{"sender address"};
    QTest::newRow("sender refused in reply to RCPT TO")
        << QStringList{"--answer", "RCPT:550 5.1.0 <sender@example.com>: Sender address rejected: Domain of "
                                   "sender address sender@example.com does not exist"}
        << 550 << QStringList{"RCPT TO:<ann@example.com>", "about the sender"}
        << QStringList{"recipient exists"};
    QTest::newRow("sender refused by its enhanced code alone")
        << QStringList{"--answer", "RCPT:553 5.1.8 Bad sender's system address"} << 553
        << QStringList{"about the sender"} << QStringList{"recipient exists"};
    QTest::newRow("recipient refused, \"sender\" only in the quoted address")
        << QStringList{"--answer",
                       "RCPT:550 5.1.1 <sender@example.net>: Recipient address rejected: User unknown"}
        << 550 << QStringList{"recipient exists"} << QStringList{"about the sender"};
    // MAIL FROM was answered in full; the reset meets RCPT TO going out, or
    // (now and then) its reply: that is no fault of the 250.
    QTest::newRow("reset after a good reply to MAIL FROM")
        << QStringList{"--scenario", "reset-after-mail"} << int(mail::kConnectionLost)
        << QStringList{"closed the connection"}
        << QStringList{"not a proper SMTP reply", "waiting for the reply to MAIL FROM"};
  }
  void diagnosticsNameTheRealCause() {
    QFETCH(QStringList, peer);
    QFETCH(int, number);
    QFETCH(QStringList, described);
    QFETCH(QStringList, notDescribed);
    SmtpTestServer server(SmtpTestServer::Program::ScriptedPeer, peer);
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    const auto error = SendWithin(6000, server, Fields{});
    ExpectFailure(error, number, described);
    if (!error)
      return;
    for (const QString &part : notDescribed)
      QVERIFY2(!error->Description().contains(part), qPrintable(error->Description()));
    QVERIFY2(error->Description().size() < 3000, "an unbounded description");
    QCOMPARE(server.peerAccepted().size(), 0);
  }

  void nothingListening() {
    const std::uint16_t port = SmtpTestServer::unusedPort();
    QVERIFY(port != 0);
    ExpectFailure(mailtest::SendTo("127.0.0.1", port, Fields{}), mail::kNoService,
                  {"connection refused", "Is the mail server (Postfix, Exim, ...) installed and running?",
                   QStringLiteral("127.0.0.1 port %1").arg(port)});
    // localhost: each loopback address is named with its own result.
    ExpectFailure(
        mailtest::SendTo("localhost", port, Fields{}), mail::kNoService,
        {QStringLiteral("tried ::1 port %1: ").arg(port), QStringLiteral("; 127.0.0.1 port %1: ").arg(port)});
  }

  // Nothing may reach the server: not a connection, let alone a command.
  void badAddressesNeverReachTheWire_data() {
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<int>("number");
    const QString ok = "ann@example.com";
    QTest::newRow("From with CR LF command")
        << "a@example.com>\r\nRCPT TO:<evil@example.net" << ok << int(mail::kInvalidAddress);
    QTest::newRow("From with LF header")
        << "a@example.com\nBcc: evil@example.net" << ok << int(mail::kInvalidAddress);
    QTest::newRow("From with NUL") << QStringLiteral("a@example.com") + QChar(0) + "evil" << ok
                                   << int(mail::kInvalidAddress);
    QTest::newRow("To with CR LF command") << ok << "b@example.com>\r\nDATA" << int(mail::kInvalidAddress);
    QTest::newRow("To with a bare CR")
        << ok << "b@example.com\rRCPT TO:<evil@example.net>" << int(mail::kInvalidAddress);
    QTest::newRow("To with brackets in the address")
        << ok << "<b@example.com> <evil@example.net>" << int(mail::kInvalidAddress);
    QTest::newRow("To not an address") << ok << "nobody" << int(mail::kInvalidAddress);
    QTest::newRow("one bad recipient among good")
        << ok << "b@example.com; not an address; c@example.com" << int(mail::kInvalidAddress);
    QTest::newRow("empty To") << ok << "" << int(mail::kNoRecipient);
    QTest::newRow("blank To") << ok << " ; " << int(mail::kNoRecipient);
    QTest::newRow("empty From") << "" << ok << int(mail::kNoSender);
  }
  void badAddressesNeverReachTheWire() {
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(int, number);
    SmtpTestServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    Fields fields;
    fields.from = from;
    fields.to = to;
    ExpectFailure(mailtest::SendTo(server, fields), number, {"Nothing was sent"});
    QCOMPARE(server.connectionCount(), 0);
  }

  // The subject and body are sent, but can only ever be the subject and body.
  void subjectAndBodyCannotInject_data() {
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("expectedSubject");
    QTest::newRow("subject CR LF header") << "Hi\r\nBcc: evil@example.net"
                                          << "b"
                                          << "Hi  Bcc: evil@example.net";
    QTest::newRow("subject encoded CR LF") << QStringLiteral("Grüße\r\nBcc: evil@example.net") << "b"
                                           << QStringLiteral("Grüße  Bcc: evil@example.net");
    QTest::newRow("body with end of data and commands")
        << "s"
        << "x\r\n.\r\nMAIL FROM:<evil@example.net>\r\nRCPT TO:<evil@example.net>\r\nDATA\r\n"
        << "s";
    QTest::newRow("body with a bare LF dot") << "s"
                                             << "x\n.\nQUIT\n"
                                             << "s";
  }
  void subjectAndBodyCannotInject() {
    QFETCH(QString, subject);
    QFETCH(QString, body);
    QFETCH(QString, expectedSubject);
    Fields fields;
    fields.subject = subject;
    fields.body = body;
    const auto message = mailtest::DeliverOne(fields);
    if (!message)
      return;
    QCOMPARE(message->recipients, QStringList{"ann@example.com"});
    QCOMPARE(message->header("Subject"), expectedSubject);
    QVERIFY(message->header("Bcc").isNull());
    QString expectedBody = body;
    expectedBody.replace(u'\r', QString());
    QCOMPARE(mailtest::Chomp(message->body), mailtest::Chomp(expectedBody));
  }

  void nonAsciiLocalPartWithoutSmtpUtf8IsAClearError() {
    SmtpTestServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    Fields fields;
    fields.to = QStringLiteral("zoë@example.com");
    const auto error = mailtest::SendTo(server, fields);
    ExpectFailure(error, mail::kUtf8NotOffered,
                  {QStringLiteral("zoë@example.com"), "SMTPUTF8", "Nothing was sent"});
    // Not every server is Postfix: the hint names no one server's setting.
    QVERIFY2(error && !error->Description().contains("smtputf8_enable"),
             qPrintable(mailtest::Describe(error)));
    QCOMPARE(server.messages().size(), 0);
  }

  void importanceOutsideTheTable() {
    SmtpTestServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    mail::SetDefaultTarget({"127.0.0.1", server.port(), mailtest::ShortTimeouts()});
    mail::NewMail message;
    try {
      message.Importance(3);
      QFAIL("importance 3 accepted");
    } catch (const ErrorRecord &e) {
      QCOMPARE(e.Number(), mail::kInvalidImportance);
    }
    try {
      message.Send(QString("a@example.com"), QString("b@example.com"), std::nullopt, std::nullopt, -1);
      QFAIL("importance -1 accepted");
    } catch (const ErrorRecord &e) {
      QCOMPARE(e.Number(), mail::kInvalidImportance);
    }
    QCOMPARE(server.connectionCount(), 0);
  }
};

QTEST_GUILESS_MAIN(FailuresTest)
#include "tst_mail_failures.moc"
