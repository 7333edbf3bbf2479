// The message bytes as they go after DATA.
#include "base/ErrorRecord.h"
#include "base/Version.h"
#include "mail/Compose.h"
#include "mail/MailErrors.h"

#include <QTest>

namespace {

mail::MessageFields Fields(const QString &subject, const QString &body, int importance = mail::kNormal) {
  mail::MessageFields fields;
  fields.from = {"Kestrine", "kestrine@example.com"};
  fields.to = {{"Ann", "ann@example.com"}, {{}, "bob@example.org"}};
  fields.subject = subject;
  fields.body = body;
  fields.importance = importance;
  fields.date = QDateTime::fromSecsSinceEpoch(1767225600);
  fields.messageId = "test.1@example.com";
  return fields;
}

QByteArray HeaderBlock(const QByteArray &message) { return message.left(message.indexOf("\r\n\r\n") + 2); }
QByteArray BodyOf(const QByteArray &message) { return message.mid(message.indexOf("\r\n\r\n") + 4); }

// Header fields with their folded continuation lines joined.
QList<QByteArray> UnfoldedHeaders(const QByteArray &message) {
  QList<QByteArray> headers;
  for (const QByteArray &line : HeaderBlock(message).split('\n')) {
    const QByteArray text = line.endsWith('\r') ? line.chopped(1) : line;
    if (text.isEmpty())
      continue;
    if ((text.startsWith(' ') || text.startsWith('\t')) && !headers.isEmpty())
      headers.last() += text;
    else
      headers.append(text);
  }
  return headers;
}

QByteArray Header(const QByteArray &message, const QByteArray &name) {
  for (const QByteArray &header : UnfoldedHeaders(message))
    if (header.toLower().startsWith(name.toLower() + ':'))
      return header.mid(name.size() + 1).trimmed();
  return {};
}

} // namespace

class ComposeTest : public QObject {
  Q_OBJECT

private slots:
  void everyLineIsCrLfShortAndSevenBit_data() {
    QTest::addColumn<QString>("body");
    QTest::newRow("short ASCII") << "Hello\r\nworld";
    QTest::newRow("UTF-8") << QStringLiteral("Grüße aus Köln — 日本語 ✓\r\nзеркало");
    QTest::newRow("5000 characters on one line") << QString(5000, u'x');
    QTest::newRow("5000 non-ASCII characters") << QString(5000, u'é');
    QTest::newRow("lone LF and CR") << "one\ntwo\rthree\r\n\n";
    QTest::newRow("trailing blanks") << "line with blanks   \r\nand\ttabs\t";
  }
  void everyLineIsCrLfShortAndSevenBit() {
    QFETCH(QString, body);
    const QByteArray message = mail::Compose(Fields(QStringLiteral("Grüße ") + QString(300, u'z'), body));
    const QList<QByteArray> lines = message.split('\n');
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
      QVERIFY2(lines[i].endsWith('\r'), qPrintable(QStringLiteral("line %1 ends in a bare LF").arg(i)));
      QVERIFY2(!lines[i].chopped(1).contains('\r'), "a lone CR");
      QVERIFY2(lines[i].size() - 1 <= 998,
               qPrintable(QStringLiteral("line %1: %2 octets").arg(i).arg(lines[i].size())));
    }
    for (const char c : message)
      QVERIFY2(static_cast<unsigned char>(c) < 0x80, "an 8-bit octet");
  }

  void headersAreAllThere() {
    const QByteArray message = mail::Compose(Fields("Test", "Body", mail::kHigh));
    QCOMPARE(Header(message, "From"), QByteArray("Kestrine <kestrine@example.com>"));
    QCOMPARE(Header(message, "To"), QByteArray("Ann <ann@example.com>, bob@example.org"));
    QCOMPARE(Header(message, "Subject"), QByteArray("Test"));
    QCOMPARE(Header(message, "Message-ID"), QByteArray("<test.1@example.com>"));
    QCOMPARE(QDateTime::fromString(QString::fromLatin1(Header(message, "Date")), Qt::RFC2822Date)
                 .toSecsSinceEpoch(),
             1767225600);
    QCOMPARE(Header(message, "MIME-Version"), QByteArray("1.0"));
    QVERIFY2(Header(message, "Content-Type").toLower().startsWith("text/plain; charset=utf-8"),
             Header(message, "Content-Type").constData());
    QCOMPARE(Header(message, "Content-Transfer-Encoding"), QByteArray("7bit"));
    QCOMPARE(Header(message, "Importance"), QByteArray("high"));
    QCOMPARE(Header(message, "X-Priority"), QByteArray("1"));
    QCOMPARE(Header(message, "X-Mailer"), QByteArray(Version::kProductName) + ' ' + Version::kVersionText);
  }

  void bodyLineBreaksBecomeCrLf_data() {
    QTest::addColumn<QString>("body");
    QTest::addColumn<QByteArray>("wire");
    // The last line always ends in CR LF: the end of data needs it.
    QTest::newRow("CR LF") << "a\r\nb" << QByteArray("a\r\nb\r\n");
    QTest::newRow("LF") << "a\nb\n" << QByteArray("a\r\nb\r\n");
    QTest::newRow("CR") << "a\rb\r" << QByteArray("a\r\nb\r\n");
    QTest::newRow("CR CR LF") << "a\r\r\nb" << QByteArray("a\r\n\r\nb\r\n");
    QTest::newRow("empty") << "" << QByteArray();
  }
  void bodyLineBreaksBecomeCrLf() {
    QFETCH(QString, body);
    QFETCH(QByteArray, wire);
    QCOMPARE(BodyOf(mail::Compose(Fields("s", body))), wire);
  }

  // Text goes in its canonical form, CR LF breaks, also where base64 hides
  // the breaks from the wire's own line ends; base64 needs no final break.
  void base64BodyDecodesToCrLfLines_data() {
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("decoded");
    QTest::newRow("Japanese, every break") << QStringLiteral("日本語\r\nの\nテキスト\rです")
                                           << QStringLiteral("日本語\r\nの\r\nテキスト\r\nです");
    QTest::newRow("NUL and controls") << QStringLiteral("\x01\x02\x03\x04\x05\x06") + QChar(0) + "\n\x07"
                                      << QStringLiteral("\x01\x02\x03\x04\x05\x06") + QChar(0) + "\r\n\x07";
    // A surrogate without its other half cannot be UTF-8: it becomes U+FFFD,
    // also as the last character, and the rest is kept.
    QTest::newRow("lone surrogates") << QStringLiteral("日本語") + QChar(0xDC00) + "\n" + QChar(0xD800)
                                     << QStringLiteral("日本語\uFFFD\r\n\uFFFD");
  }
  void base64BodyDecodesToCrLfLines() {
    QFETCH(QString, body);
    QFETCH(QString, decoded);
    const QByteArray message = mail::Compose(Fields("s", body));
    QCOMPARE(Header(message, "Content-Transfer-Encoding"), QByteArray("base64"));
    QCOMPARE(QString::fromUtf8(QByteArray::fromBase64(BodyOf(message))), decoded);
  }

  // A subject is one header whatever it holds, encoded or not.
  void subjectCannotAddAHeader_data() {
    QTest::addColumn<QString>("subject");
    QTest::newRow("CR LF") << "Hi\r\nBcc: evil@example.net";
    QTest::newRow("LF") << "Hi\nBcc: evil@example.net";
    QTest::newRow("CR") << "Hi\rBcc: evil@example.net";
    QTest::newRow("non-ASCII with CR LF") << QStringLiteral("Grüße\r\nBcc: evil@example.net");
    QTest::newRow("NUL") << QStringLiteral("Hi") + QChar(0) + "\r\nBcc: evil@example.net";
  }

  // GMime folds only between words, so a long run of blanks would stay on one
  // line past what SMTP carries; it is cut to a header line's length.
  void subjectBlankRunsStayWithinALine_data() {
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("kept");
    QTest::newRow("a few blanks kept") << "a   b"
                                       << "a   b";
    QTest::newRow("2000 blanks") << "a" + QString(2000, u' ') + "b"
                                 << "a" + QString(76, u' ') + "b";
    QTest::newRow("2000 tabs and line breaks") << "a" + QString(1000, u'\t') + QString(1000, u'\n') + "b"
                                               << "a" + QString(76, u' ') + "b";
  }
  void subjectBlankRunsStayWithinALine() {
    QFETCH(QString, subject);
    QFETCH(QString, kept);
    const QByteArray message = mail::Compose(Fields(subject, "body"));
    for (const QByteArray &line : HeaderBlock(message).split('\n'))
      QVERIFY2(line.size() <= 999, qPrintable(QStringLiteral("%1 octets").arg(line.size())));
    // Unfolding takes out the CR LF of each fold and keeps every blank.
    QByteArray subjectLine;
    bool inSubject = false;
    for (const QByteArray &line : HeaderBlock(message).split('\n')) {
      const QByteArray text = line.endsWith('\r') ? line.chopped(1) : line;
      if (text.startsWith("Subject:")) {
        inSubject = true;
        subjectLine = text.mid(9);
      } else if (inSubject && (text.startsWith(' ') || text.startsWith('\t')))
        subjectLine += text;
      else
        inSubject = false;
    }
    QCOMPARE(QString::fromLatin1(subjectLine), kept);
  }
  void subjectCannotAddAHeader() {
    QFETCH(QString, subject);
    const QByteArray message = mail::Compose(Fields(subject, "body"));
    for (const QByteArray &header : UnfoldedHeaders(message))
      QVERIFY2(!header.toLower().startsWith("bcc"), header.constData());
    QVERIFY(Header(message, "Subject").contains("Bcc"));
  }

  void sameFieldsSameBytes() { QCOMPARE(mail::Compose(Fields("s", "b")), mail::Compose(Fields("s", "b"))); }

  void importanceOutsideTheTableIsRefused_data() {
    QTest::addColumn<int>("importance");
    QTest::newRow("-1") << -1;
    QTest::newRow("3") << 3;
    QTest::newRow("INT_MAX") << std::numeric_limits<int>::max();
  }
  void importanceOutsideTheTableIsRefused() {
    QFETCH(int, importance);
    try {
      mail::Compose(Fields("s", "b", importance));
      QFAIL("accepted");
    } catch (const ErrorRecord &e) {
      QCOMPARE(e.Number(), mail::kInvalidImportance);
      QVERIFY(e.Description().contains(QString::number(importance)));
    }
  }
};

QTEST_GUILESS_MAIN(ComposeTest)
#include "tst_mail_compose.moc"
