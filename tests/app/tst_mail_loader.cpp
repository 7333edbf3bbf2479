// Opening the mail module: the first candidate that is a module of this
// program's version wins; when none is, the description names every path
// tried with the loader's own words.
#include "mail/EngineLoader.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <dlfcn.h>

class MailLoaderTest : public QObject {
  Q_OBJECT

  QTemporaryDir scratch_;

  QString Scratch(const QString &name) const { return scratch_.filePath(name); }

  // What the dynamic loader itself says of `path`, in the locale the test runs in.
  static QString LoaderSays(const QString &path) {
    if (void *module = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL)) {
      dlclose(module);
      return QStringLiteral("(it opened)");
    }
    return QString::fromLocal8Bit(dlerror()).remove(path + QStringLiteral(": "));
  }

private Q_SLOTS:
  void initTestCase() {
    QVERIFY(scratch_.isValid());
    QFile text(Scratch(QStringLiteral("text.so")));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("not a shared object\n");
    text.close();
    // A folder name that is not ASCII: the path goes to the loader in the
    // file system's encoding.
    QVERIFY(QDir(scratch_.path()).mkdir(QStringLiteral("Prüfung")));
    QVERIFY(QFile::copy(QStringLiteral(KESTRINE_TEST_MODULE),
                        Scratch(QStringLiteral("Prüfung/kestrine-mail.so"))));
    // A folder every user may write to, without the sticky bit: anyone could
    // have put the module there.
    QVERIFY(QDir(scratch_.path()).mkdir(QStringLiteral("open")));
    QVERIFY(
        QFile::copy(QStringLiteral(KESTRINE_TEST_MODULE), Scratch(QStringLiteral("open/kestrine-mail.so"))));
    QVERIFY(QFile::setPermissions(Scratch(QStringLiteral("open")), QFile::ReadOwner | QFile::WriteOwner |
                                                                       QFile::ExeOwner | QFile::ReadOther |
                                                                       QFile::WriteOther | QFile::ExeOther));
  }

  void opens_data() {
    QTest::addColumn<QStringList>("candidates");
    QTest::addColumn<bool>("opened");
    QTest::addColumn<QStringList>("said"); // what the description must hold
    const QString missing = Scratch(QStringLiteral("missing/kestrine-mail.so"));
    const QString text = Scratch(QStringLiteral("text.so"));
    const QString noTable = QStringLiteral(KESTRINE_TEST_NO_TABLE);
    const QString otherVersion = QStringLiteral(KESTRINE_TEST_OTHER_VERSION);
    const QString module = QStringLiteral(KESTRINE_TEST_MODULE);

    QTest::newRow("missing") << QStringList{missing} << false
                             << QStringList{missing + QStringLiteral(" (") + LoaderSays(missing) + u')'};
    QTest::newRow("not a shared object")
        << QStringList{text} << false << QStringList{text + QStringLiteral(" (") + LoaderSays(text) + u')'};
    QTest::newRow("no entry table") << QStringList{noTable} << false
                                    << QStringList{
                                           noTable + QStringLiteral(" ("),
                                           QStringLiteral("undefined symbol: " KESTRINE_MAIL_ENGINE_SYMBOL)};
    QTest::newRow("another version")
        << QStringList{otherVersion} << false
        << QStringList{otherVersion +
                       QStringLiteral(" (its entry table is version 99, this program needs version ") +
                       QString::number(KESTRINE_MAIL_ENGINE_VERSION) + u')'};
    QTest::newRow("every path tried, in order")
        << QStringList{missing, text} << false
        << QStringList{QStringLiteral("tried ") + missing + QStringLiteral(" ("),
                       QStringLiteral("); ") + text};
    QTest::newRow("a module others could have planted")
        << QStringList{Scratch(QStringLiteral("open/kestrine-mail.so")), missing} << false
        << QStringList{QStringLiteral("open/kestrine-mail.so (not used: every user may write to ") +
                           Scratch(QStringLiteral("open")) + u')',
                       missing};
    QTest::newRow("the first usable one wins")
        << QStringList{missing, module, otherVersion} << true << QStringList{};
    QTest::newRow("a folder name that is not ASCII")
        << QStringList{Scratch(QStringLiteral("Prüfung/kestrine-mail.so"))} << true << QStringList{};
  }

  void opens() {
    QFETCH(QStringList, candidates);
    QFETCH(bool, opened);
    QFETCH(QStringList, said);
    QString why;
    const KestrineMailEngine *table = mail::OpenEngineModule(candidates, why);
    QCOMPARE(table != nullptr, opened);
    if (opened) {
      QCOMPARE(table->version, std::uint32_t{KESTRINE_MAIL_ENGINE_VERSION});
      QVERIFY(table->start && table->send);
      QVERIFY(why.isEmpty());
      return;
    }
    for (const QString &words : said)
      QVERIFY2(why.contains(words), qPrintable(why));
  }
};

QTEST_GUILESS_MAIN(MailLoaderTest)
#include "tst_mail_loader.moc"
