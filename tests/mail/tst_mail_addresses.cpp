// Reading the From and To texts into mailboxes, and refusing what is not one.
#include "base/ErrorRecord.h"
#include "mail/Addresses.h"
#include "mail/MailErrors.h"

#include <QTest>

using mail::Mailbox;

Q_DECLARE_METATYPE(std::vector<Mailbox>)

namespace {

QString Listed(const std::vector<Mailbox> &mailboxes) {
  QStringList parts;
  for (const Mailbox &m : mailboxes)
    parts << QStringLiteral("[%1|%2]").arg(m.name, m.address);
  return parts.join(u' ');
}

} // namespace

class AddressesTest : public QObject {
  Q_OBJECT

private slots:
  void recipientsAreRead_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<std::vector<Mailbox>>("expected");
    const Mailbox ann{{}, "ann@example.com"}, bob{{}, "bob@example.org"};
    QTest::newRow("bare") << "ann@example.com" << std::vector{ann};
    QTest::newRow("angle brackets only") << "<ann@example.com>" << std::vector{ann};
    QTest::newRow("name and address")
        << "Ann Smith <ann@example.com>" << std::vector{Mailbox{"Ann Smith", "ann@example.com"}};
    QTest::newRow("commas") << "ann@example.com, bob@example.org" << std::vector{ann, bob};
    QTest::newRow("semicolons") << "ann@example.com; bob@example.org" << std::vector{ann, bob};
    QTest::newRow("mixed, names, blanks") << " Ann <ann@example.com> ;bob@example.org,, ;"
                                          << std::vector{Mailbox{"Ann", "ann@example.com"}, bob};
    QTest::newRow("separators inside a quoted name")
        << "\"Smith; Ann, Dr\" <ann@example.com>; bob@example.org"
        << std::vector{Mailbox{"Smith; Ann, Dr", "ann@example.com"}, bob};
    QTest::newRow("comment as name") << "ann@example.com (Ann)"
                                     << std::vector{Mailbox{"Ann", "ann@example.com"}};
    QTest::newRow("UTF-8 name") << "Zoë Ærø <zoe@example.com>"
                                << std::vector{Mailbox{"Zoë Ærø", "zoe@example.com"}};
    QTest::newRow("encoded-word name")
        << "=?utf-8?q?Zo=C3=AB?= <zoe@example.com>" << std::vector{Mailbox{"Zoë", "zoe@example.com"}};
    // One ASCII form of a domain, whatever the locale (tests run under C and tr_TR.UTF-8).
    QTest::newRow("non-ASCII address")
        << "jörg@exämple.de" << std::vector{Mailbox{{}, "jörg@xn--exmple-cua.de"}};
    QTest::newRow("non-ASCII domain, capitals")
        << "ann@BÜCHER.example" << std::vector{Mailbox{{}, "ann@xn--bcher-kva.example"}};
    QTest::newRow("quoted name like an encoded-word")
        << "\"=?utf-8?b?SGVsbG8=?=\" <ann@example.com>"
        << std::vector{Mailbox{"=?utf-8?b?SGVsbG8=?=", "ann@example.com"}};
    QTest::newRow("address literal") << "root@[127.0.0.1]" << std::vector{Mailbox{{}, "root@[127.0.0.1]"}};
    QTest::newRow("longest SMTP allows") << QString(242, u'a') + "@example.com"
                                         << std::vector{Mailbox{{}, QString(242, u'a') + "@example.com"}};
    QTest::newRow("tab as blank") << "Ann\t<ann@example.com>"
                                  << std::vector{Mailbox{"Ann", "ann@example.com"}};
    QTest::newRow("tabs between the words of names")
        << "Ann\t\tSmith <ann@example.com>, \"Bob\tJones\" <bob@example.org>"
        << std::vector{Mailbox{"Ann  Smith", "ann@example.com"}, Mailbox{"Bob Jones", "bob@example.org"}};
  }
  void recipientsAreRead() {
    QFETCH(QString, text);
    QFETCH(std::vector<Mailbox>, expected);
    QCOMPARE(Listed(mail::ParseRecipients(text)), Listed(expected));
  }

  // Each of these must be refused whole: GMime alone would keep the good part
  // and silently drop the rest, or read a command line into a group.
  void invalidTextIsRefusedWhole_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("quoted");
    QTest::newRow("no @") << "ann"
                          << "ann";
    QTest::newRow("words") << "Ann Smith"
                           << "Ann Smith";
    QTest::newRow("empty local part") << "@example.com"
                                      << "@example.com";
    QTest::newRow("empty domain") << "ann@"
                                  << "ann@";
    QTest::newRow("second part is junk") << "ann@example.com, foo bar"
                                         << "foo bar";
    QTest::newRow("two at signs") << "ann@b@example.com"
                                  << "ann@b@example.com";
    QTest::newRow("text after the brackets") << "<ann@example.com> junk"
                                             << "<ann@example.com> junk";
    QTest::newRow("blank separated") << "ann@example.com bob@example.org"
                                     << "ann@example.com bob@example.org";
    QTest::newRow("unterminated quote") << "ann@example.com, \"Bob <bob@example.org>"
                                        << "\"Bob <bob@example.org>";
    QTest::newRow("unclosed bracket") << "Ann <ann@example.com"
                                      << "Ann <ann@example.com";
    QTest::newRow("empty brackets") << "<>"
                                    << "<>";
    QTest::newRow("group") << "friends: ann@example.com"
                           << "friends: ann@example.com";
    // Nested deep enough to overflow the stack of a parser that recurses.
    QTest::newRow("groups within groups") << QStringLiteral("a: ").repeated(100000) << "a: a: a: ";
    QTest::newRow("CR LF command") << "ann@example.com\r\nRCPT TO:<evil@example.net>"
                                   << "ann@example.com\\r\\nRCPT TO:<evil@example.net>";
    QTest::newRow("LF header") << "ann@example.com\nBcc: evil@example.net"
                               << "ann@example.com\\nBcc: evil@example.net";
    QTest::newRow("NUL") << QStringLiteral("ann@example.com") + QChar(0) + "x"
                         << "ann@example.com\\x00x";
    QTest::newRow("escape character") << "ann\x1b@example.com"
                                      << "ann\\x1b@example.com";
    QTest::newRow("Unicode line separator")
        << QStringLiteral("ann@example.com\u2028x") << "ann@example.com\\u{2028}x";
    QTest::newRow("domain IDNA2008 refuses: a symbol")
        << QStringLiteral("ann@i❤.ws") << QStringLiteral("domain \"i❤.ws\" has no valid ASCII (IDNA) form: ");
    QTest::newRow("domain IDNA2008 refuses: hyphens at the ends")
        << QStringLiteral("ann@-bücher-.example")
        << QStringLiteral("domain \"-bücher-.example\" has no valid ASCII (IDNA) form: ");
    // 255 octets: one more than an SMTP path can carry.
    QTest::newRow("too long") << QString(243, u'a') + "@example.com" << QString(243, u'a') + "@example.com";
  }
  void invalidTextIsRefusedWhole() {
    QFETCH(QString, text);
    QFETCH(QString, quoted);
    for (const bool sender : {false, true}) {
      try {
        if (sender)
          mail::ParseSender(text);
        else
          mail::ParseRecipients(text);
        QFAIL(qPrintable(QStringLiteral("accepted: ") + text));
      } catch (const ErrorRecord &e) {
        QCOMPARE(e.Number(), mail::kInvalidAddress);
        QVERIFY2(e.Description().contains(quoted), qPrintable(e.Description()));
        QVERIFY2(!e.Description().contains(u'\r') && !e.Description().contains(u'\n'),
                 qPrintable(e.Description()));
        QVERIFY(e.Description().contains(sender ? u"From" : u"To"));
      }
    }
  }

  void emptyTextsHaveTheirOwnNumbers_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << "";
    QTest::newRow("blanks") << "   ";
    QTest::newRow("separators only") << " , ; ";
  }
  void emptyTextsHaveTheirOwnNumbers() {
    QFETCH(QString, text);
    try {
      mail::ParseRecipients(text);
      QFAIL("no recipient accepted");
    } catch (const ErrorRecord &e) {
      QCOMPARE(e.Number(), mail::kNoRecipient);
    }
    try {
      mail::ParseSender(text);
      QFAIL("no sender accepted");
    } catch (const ErrorRecord &e) {
      QCOMPARE(e.Number(), mail::kNoSender);
    }
  }

  void senderIsOneMailbox() {
    QCOMPARE(mail::ParseSender("Kestrine <kestrine@example.com>"),
             (Mailbox{"Kestrine", "kestrine@example.com"}));
    try {
      mail::ParseSender("ann@example.com; bob@example.org");
      QFAIL("two senders accepted");
    } catch (const ErrorRecord &e) {
      QCOMPARE(e.Number(), mail::kInvalidAddress);
    }
  }
};

QTEST_GUILESS_MAIN(AddressesTest)
#include "tst_mail_addresses.moc"
