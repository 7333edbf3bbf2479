// Pressing "Send Email" against a real SMTP server: the placeholder question,
// the submission with the fields and importance, and the one error box.
#include "modules/Global.h"
#include "support/MainWindowTest.h"
#include "support/SmtpTestServer.h"
#include "ui/Application.h"

#include <QAccessible>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

using testsupport::PointMailAt;
using testsupport::SmtpTestServer;

namespace {

const QString kQuestion = QStringLiteral("Are you sure this is a correct email address?\r\n");
const QString kTitle = QStringLiteral("tst_sendemail"); // the executable's name

} // namespace

// Each test function gets a new main window (see MainWindowTest); PointMailAt
// keeps its default bounds: reply 5 s, whole submission 10 s.
class TestSendEmail : public testsupport::MainWindowTest {
  Q_OBJECT

private slots:
  void answeringNoStopsBeforeAnythingIsSent() {
    QVERIFY(Serve());
    boxes_->Answer(ui::IDNO);
    Press();
    QCOMPARE(boxes_->Shown.size(), std::size_t(1));
    QCOMPARE(boxes_->Shown[0].Prompt, kQuestion + QStringLiteral("someone@example.com\r\n"));
    QCOMPARE(boxes_->Shown[0].Buttons, ui::MB_YESNO + ui::MB_ICONQUESTION);
    QCOMPARE(boxes_->Shown[0].Title, kTitle);
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("txtTo"));
    QCOMPARE(Global::gstrMessage, boxes_->Shown[0].Prompt);
    QTest::qWait(200); // give a stray connection time to show up
    QCOMPARE(server_->connectionCount(), 0);
  }

  void answeringYesSubmitsToThePlaceholderAddress() {
    QVERIFY(Serve());
    boxes_->Answer(ui::IDYES);
    Press();
    QCOMPARE(boxes_->Shown.size(), std::size_t(2));
    QCOMPARE(boxes_->Shown[1].Prompt, QStringLiteral("Send Email OK"));
    QCOMPARE(boxes_->Shown[1].Buttons, ui::MB_OK);
    QCOMPARE(boxes_->Shown[1].Title, QStringLiteral("Kestrine"));
    QCOMPARE(server_->messages().size(), 1);
    QCOMPARE(server_->messages()[0].recipients, QStringList{"someone@example.com"});
    // Behind the OK: the dialogue, up to the server's reply to the end of data.
    QVERIFY2(boxes_->Shown[1].Details.trimmed().endsWith(QLatin1String("250 OK queued")),
             qPrintable(boxes_->Shown[1].Details));
  }

  void placeholderAnywhereInAnyCaseAsks_data() {
    QTest::addColumn<QString>("recipient");
    QTest::addColumn<bool>("asks");
    QTest::newRow("capitals") << "SOMEONE@EXAMPLE.COM" << true;
    QTest::newRow("mixed case in a subdomain") << "x@mail.Example.Com" << true;
    QTest::newRow("inside a longer text") << "x@example.community" << true;
    QTest::newRow("display name holds it") << "Example.com Team <team@brimvale.example>" << true;
    QTest::newRow("other domain") << "postmaster@localhost" << false;
    QTest::newRow("similar but different") << "a@example.org" << false;
  }

  void placeholderAnywhereInAnyCaseAsks() {
    QFETCH(QString, recipient);
    QFETCH(bool, asks);
    QVERIFY(Serve());
    boxes_->Answer(asks ? ui::IDNO : ui::IDOK);
    form_->txtTo.SetText(recipient);
    Press();
    QCOMPARE(boxes_->Shown.size(), std::size_t(1));
    if (asks) {
      QCOMPARE(boxes_->Shown[0].Prompt, kQuestion + recipient + QStringLiteral("\r\n"));
      QCOMPARE(server_->messages().size(), 0);
    } else {
      QCOMPARE(boxes_->Shown[0].Prompt, QStringLiteral("Send Email OK"));
      QCOMPARE(server_->messages().size(), 1);
    }
  }

  void everyFieldReachesTheServer() {
    QVERIFY(Serve());
    form_->txtTo.SetText(QStringLiteral("postmaster@localhost"));
    form_->txtSubject.SetText(QStringLiteral("Prüfung des Servers"));
    QVERIFY(form_->SendEmail());
    QCOMPARE(boxes_->Shown.size(), std::size_t(0)); // the OK box belongs to the click, not to SendEmail
    const testsupport::ReceivedMessage message = server_->messages().value(0);
    QCOMPARE(message.mailFrom, QStringLiteral("kestrine@brimvale.example"));
    QCOMPARE(message.recipients, QStringList{"postmaster@localhost"});
    QCOMPARE(message.header("From"), QStringLiteral("kestrine@brimvale.example"));
    QCOMPARE(message.header("To"), QStringLiteral("postmaster@localhost"));
    QCOMPARE(message.header("Subject"), QStringLiteral("Prüfung des Servers"));
    // Decoded, the body keeps the CR LF line ends it travelled with.
    QCOMPARE(message.body.split(QLatin1String("\r\n")),
             QString::fromUtf8(kDefaultBody).split(QLatin1String("\r\n")));
  }

  void eachImportanceReachesTheServer_data() {
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("importance");
    QTest::addColumn<QString>("priority");
    QTest::newRow("Low") << "Low"
                         << "low"
                         << "5";
    QTest::newRow("Medium") << "Medium"
                            << "normal"
                            << "3";
    QTest::newRow("High") << "High"
                          << "high"
                          << "1";
    QTest::newRow("nothing selected") << ""
                                      << "low"
                                      << "5";
  }

  void eachImportanceReachesTheServer() {
    QFETCH(QString, item);
    QFETCH(QString, importance);
    QFETCH(QString, priority);
    QVERIFY(Serve());
    form_->txtTo.SetText(QStringLiteral("postmaster@localhost"));
    form_->lstImportance.SetText(item);
    QCOMPARE(form_->lstImportance.Text(), item);
    QVERIFY(form_->SendEmail());
    const testsupport::ReceivedMessage message = server_->messages().value(0);
    QCOMPARE(message.header("Importance"), importance);
    QCOMPARE(message.header("X-Priority").left(1), priority);
  }

  // With nothing listening, one critical box and no OK; the fields stay as
  // typed, and once the server runs the next press goes through.
  void noServerGivesOneErrorBoxAndTheNextPressWorks() {
    PointMailAt(SmtpTestServer::unusedPort());
    form_->txtTo.SetText(QStringLiteral("postmaster@localhost"));
    form_->txtSubject.SetText(QStringLiteral("typed subject"));
    form_->txtMessage.SetText(QStringLiteral("typed\r\nbody\r\n"));
    form_->lstImportance.SetText(QStringLiteral("High"));
    Press();
    QCOMPARE(boxes_->Shown.size(), std::size_t(1));
    const ui::MessageBoxRequest &box = boxes_->Shown[0];
    QCOMPARE(box.Buttons, ui::MB_OK + ui::MB_ICONERROR);
    QCOMPARE(box.Title, kTitle);
    const testsupport::Report report = testsupport::ReadReport(box.Prompt);
    QVERIFY2(report.code != -1, qPrintable(box.Prompt));
    QCOMPARE(report.code, 1001);
    QVERIFY2(report.description.contains(QLatin1String("running")), qPrintable(report.description));
    QCOMPARE(Global::gstrMessage, box.Prompt);

    QCOMPARE(form_->txtTo.Text(), QStringLiteral("postmaster@localhost"));
    QCOMPARE(form_->txtSubject.Text(), QStringLiteral("typed subject"));
    QCOMPARE(form_->txtMessage.Text(), QStringLiteral("typed\r\nbody\r\n"));
    QCOMPARE(form_->lstImportance.Text(), QStringLiteral("High"));
    QCOMPARE(form_->txtFrom.Text(), QStringLiteral("kestrine@brimvale.example"));

    QVERIFY(Serve());
    Press();
    QCOMPARE(boxes_->Shown.size(), std::size_t(2));
    QCOMPARE(boxes_->Shown[1].Prompt, QStringLiteral("Send Email OK"));
    QCOMPARE(server_->messages().size(), 1);
    QCOMPARE(server_->messages()[0].body, QStringLiteral("typed\r\nbody\r\n"));
  }

  void serverRefusalIsReportedWithItsCodeAndText() {
    QVERIFY(Serve(SmtpTestServer::Program::ScriptedPeer,
                  {"--answer", "RCPT:550 5.1.1 <nobody@localhost>: Recipient address rejected"}));
    form_->txtTo.SetText(QStringLiteral("nobody@localhost"));
    QVERIFY(!form_->SendEmail());
    QCOMPARE(boxes_->Shown.size(), std::size_t(1));
    const testsupport::Report report = testsupport::ReadReport(boxes_->Shown[0].Prompt);
    QCOMPARE(report.code, 550);
    QVERIFY(report.description.contains(QLatin1String("Recipient address rejected")));
    QVERIFY(boxes_->Shown[0].Details.contains(QLatin1String("Recipient address rejected")));
  }

  // One press, one attempt: presses that arrive while a box is open (a screen
  // reader's "press" is not held back by the modal block) are ignored, and one
  // message is sent.
  void pressesWhileABoxIsOpenAreIgnored() {
    QVERIFY(Serve());
    boxes_.reset(); // the real boxes, answered below
    QWidget *button = form_->cmdSendEmail.Widget();
    QStringList boxes; // the prompts of the boxes, in the order they opened
    const auto pressFromOutside = [button] {
      QAccessible::queryAccessibleInterface(button)->actionInterface()->doAction(
          QAccessibleActionInterface::pressAction());
    };
    QObject guard; // no timer of this test outlives it
    int polls = 0;
    std::function<void()> answer = [&] {
      auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
      if (!box) {
        if (++polls < 150)
          QTimer::singleShot(20, &guard, answer);
        return;
      }
      boxes << box->text();
      pressFromOutside();
      pressFromOutside();
      // The presses' timers run while this box is still open; then it is answered.
      QTimer::singleShot(400, box, [box] { box->defaultButton()->click(); });
      QTimer::singleShot(500, &guard, answer);
    };
    QTimer::singleShot(0, &guard, answer);
    Press();
    QTRY_COMPARE_WITH_TIMEOUT(boxes.size(), 2, 5000);
    QTest::qWait(800); // a stacked third box would show by now
    QCOMPARE(boxes.size(), 2);
    QVERIFY(boxes[0].startsWith(kQuestion.trimmed()));
    QCOMPARE(boxes[1], QStringLiteral("Send Email OK"));
    QCOMPARE(server_->messages().size(), 1);
  }

  void emptyRecipientAsksNothingAndGetsTheComponentsError() {
    QVERIFY(Serve());
    form_->txtTo.SetText(QString());
    Press();
    QCOMPARE(boxes_->Shown.size(), std::size_t(1));
    QCOMPARE(boxes_->Shown[0].Buttons, ui::MB_OK + ui::MB_ICONERROR);
    QCOMPARE(testsupport::ReadReport(boxes_->Shown[0].Prompt).code, 1007);
    QTest::qWait(200);
    QCOMPARE(server_->connectionCount(), 0);
  }
};

int main(int argc, char *argv[]) {
  ui::Application application(argv[0]);
  TestSendEmail test;
  return QTest::qExec(&test, argc, argv);
}

#include "tst_sendemail.moc"
