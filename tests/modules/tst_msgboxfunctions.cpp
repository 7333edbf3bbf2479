// The error report and the question, composed in the shared message buffer.
#include "base/ErrorRecord.h"
#include "modules/Global.h"
#include "modules/MsgBoxFunctions.h"
#include "support/BoxAnswerer.h"
#include "ui/Application.h"

#include <QtTest>

namespace {

// What a handler does: make the failure current, then report it.
void ReportWhileHandling(const ErrorRecord &failure, QString &message) {
  HandlingError handling(failure);
  MsgBoxError(message);
}

} // namespace

class TestMsgBoxFunctions : public QObject {
  Q_OBJECT

private slots:
  void errorReportAppendsNumberAndDescription_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("report");
    QTest::newRow("number 5") << "Err_SendEmail" << 5 << "It failed"
                              << "Err_SendEmail\r\nError code = 5\r\nDescription = It failed\r\n";
    QTest::newRow("number 0") << "Err_SendEmail" << 0 << "x"
                              << "Err_SendEmail\r\nError code = 0\r\nDescription = x\r\n";
    QTest::newRow("negative") << "Err_SendEmail" << -2147221504 << "y"
                              << "Err_SendEmail\r\nError code = -2147221504\r\nDescription = y\r\n";
    QTest::newRow("empty description") << "Err_SendEmail" << 550 << ""
                                       << "Err_SendEmail\r\nError code = 550\r\nDescription = \r\n";
    QTest::newRow("message ending in CR LF") << "Err_SendEmail\r\n"
                                             << 7 << "z"
                                             << "Err_SendEmail\r\n\r\nError code = 7\r\nDescription = z\r\n";
    QTest::newRow("empty message") << "" << 1 << "d"
                                   << "\r\nError code = 1\r\nDescription = d\r\n";
  }

  void errorReportAppendsNumberAndDescription() {
    QFETCH(QString, message);
    QFETCH(int, number);
    QFETCH(QString, description);
    QFETCH(QString, report);
    BoxAnswerer boxes;
    Global::gstrMessage = message;
    ReportWhileHandling(ErrorRecord(number, description), Global::gstrMessage);
    QCOMPARE(Global::gstrMessage, report); // the caller's buffer holds the report afterwards
    QCOMPARE(boxes.Shown.size(), std::size_t(1));
    QCOMPARE(boxes.Shown[0].Prompt, report);
    QCOMPARE(boxes.Shown[0].Buttons, 16); // MB_OK + MB_ICONERROR
    QCOMPARE(boxes.Shown[0].Title, QStringLiteral("tst_modules_msgboxfunctions"));
  }

  void twoReportsOnOneBufferAppendTwice() {
    BoxAnswerer boxes;
    Global::gstrMessage = QStringLiteral("Err_SendEmail");
    const ErrorRecord failure(5, QStringLiteral("d"), QStringLiteral("C: DATA\r\nS: 554 no\r\n"));
    ReportWhileHandling(failure, Global::gstrMessage);
    ReportWhileHandling(failure, Global::gstrMessage);
    QCOMPARE(Global::gstrMessage, QStringLiteral("Err_SendEmail\r\nError code = 5\r\nDescription = d\r\n"
                                                 "\r\nError code = 5\r\nDescription = d\r\n"));
    QCOMPARE(boxes.Shown.size(), std::size_t(2));
    QCOMPARE(boxes.Shown[1].Details, failure.Details()); // behind the box, not in its prompt
    QCOMPARE(QString::fromUtf8(failure.what()), QStringLiteral("5: d"));
  }

  void theCurrentErrorEndsWhenTheHandlerResumes() {
    QCOMPARE(CurrentError().Number(), 0);
    {
      const ErrorRecord outer(1, QStringLiteral("outer"));
      HandlingError handlingOuter(outer);
      {
        const ErrorRecord inner(2, QStringLiteral("inner"));
        HandlingError handlingInner(inner);
        QCOMPARE(CurrentError().Number(), 2);
      }
      QCOMPARE(CurrentError().Description(), QStringLiteral("outer"));
    }
    QCOMPARE(CurrentError().Number(), 0);
    QCOMPARE(CurrentError().Description(), QString());
    QCOMPARE(CurrentError().Details(), QString());
  }

  void questionLeavesTheMessageAndReturnsTheAnswer() {
    BoxAnswerer boxes;
    boxes.Answer(ui::IDNO);
    boxes.Answer(ui::IDYES);
    const QString question = QStringLiteral("Are you sure?\r\nsomeone@example.com\r\n");
    Global::gstrMessage = question;
    const ErrorRecord failure(5, QStringLiteral("d"), QStringLiteral("S: 554 no"));
    HandlingError handling(failure); // a question asked meanwhile shows none of its details
    QCOMPARE(MsgBoxYesNo(Global::gstrMessage), std::int16_t(7));
    QCOMPARE(MsgBoxYesNo(Global::gstrMessage), std::int16_t(6));
    QCOMPARE(Global::gstrMessage, question);
    QCOMPARE(boxes.Shown[0].Buttons, 36); // MB_YESNO + MB_ICONQUESTION
    QCOMPARE(boxes.Shown[0].Prompt, question);
    QCOMPARE(boxes.Shown[0].Details, QString());
    QCOMPARE(boxes.Shown[0].Title, QStringLiteral("tst_modules_msgboxfunctions"));
  }

  // Run from a copy of this program saved under another name (see CMakeLists):
  // both boxes carry that name, while untitled boxes keep the application title.
  void boxTitlesFollowTheRenamedExecutable() {
    const QString expected = qEnvironmentVariable("KESTRINE_EXPECTED_TITLE");
    if (expected.isEmpty())
      QSKIP("runs only from the renamed copy");
    BoxAnswerer boxes;
    QString message = QStringLiteral("Err_SendEmail");
    ReportWhileHandling(ErrorRecord(5, QStringLiteral("d")), message);
    MsgBoxYesNo(message);
    ui::MsgBox(QStringLiteral("Send Email OK"));
    QCOMPARE(boxes.Shown[0].Title, expected);
    QCOMPARE(boxes.Shown[1].Title, expected);
    QCOMPARE(boxes.Shown[2].Title, QStringLiteral("Kestrine"));
  }
};

int main(int argc, char *argv[]) {
  ui::Application application(argv[0]);
  TestMsgBoxFunctions test;
  return QTest::qExec(&test, argc, argv);
}

#include "tst_msgboxfunctions.moc"
