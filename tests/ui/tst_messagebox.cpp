// Message boxes: what a box shows, and real Qt boxes answered by the test.
#include "tests/ui/BoxAnswerer.h"
#include "ui/Application.h"
#include "ui/MessageBox.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

namespace {

struct SeenBox {
  QString Title;
  QString Text;
  QMessageBox::Icon Icon = QMessageBox::NoIcon;
  QStringList Buttons;
  Qt::WindowModality Modality = Qt::NonModal;
  Qt::TextFormat Format = Qt::AutoText;
  QString Copied; // the clipboard after Ctrl+C in the box
};

// Once the event loop runs, waits (bounded) for the box to appear, records it
// into `seen` and presses `button`.
void AnswerRealBox(SeenBox &seen, QMessageBox::StandardButton button) {
  QTimer::singleShot(0, [&seen, button] {
    QMessageBox *box = nullptr;
    for (int i = 0; i < 200 && !box; ++i) {
      box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
      if (!box)
        QTest::qWait(10);
    }
    if (!box)
      return; // nothing to answer: the comparisons below then fail
    seen = {box->windowTitle(), box->text(), box->icon(), {}, box->windowModality(), box->textFormat(), {}};
    for (QAbstractButton *b : box->buttons())
      seen.Buttons << b->text().remove(QLatin1Char('&'));
    seen.Buttons.sort();
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
    seen.Copied = QGuiApplication::clipboard()->text();
    QTest::mouseClick(box->button(button), Qt::LeftButton);
  });
}

} // namespace

class TestMessageBox : public QObject {
  Q_OBJECT

private slots:
  void responderSeesPromptButtonsAndTitle() {
    BoxAnswerer boxes;
    boxes.Answer(ui::IDNO);
    QCOMPARE(
        ui::MsgBox(QStringLiteral("Question?\r\n"), ui::MB_YESNO + ui::MB_ICONQUESTION, QStringLiteral("T")),
        ui::IDNO);
    QCOMPARE(ui::MsgBox(QStringLiteral("Done")), ui::IDOK);
    QCOMPARE(boxes.Shown.size(), std::size_t(2));
    QCOMPARE(boxes.Shown[0].Prompt, QStringLiteral("Question?\r\n"));
    QCOMPARE(boxes.Shown[0].Buttons, 36);
    QCOMPARE(boxes.Shown[0].Title, QStringLiteral("T"));
    QCOMPARE(boxes.Shown[1].Buttons, 0);
    QCOMPARE(boxes.Shown[1].Title, QStringLiteral("Kestrine")); // the application title
  }

  void realBoxes_data() {
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("press");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("OK") << 0 << int(QMessageBox::Ok) << ui::IDOK << int(QMessageBox::NoIcon)
                        << QStringList{"OK"};
    QTest::newRow("critical OK") << 16 << int(QMessageBox::Ok) << ui::IDOK << int(QMessageBox::Critical)
                                 << QStringList{"OK"};
    QTest::newRow("question, Yes") << 36 << int(QMessageBox::Yes) << ui::IDYES << int(QMessageBox::Question)
                                   << QStringList{"No", "Yes"};
    QTest::newRow("question, No") << 36 << int(QMessageBox::No) << ui::IDNO << int(QMessageBox::Question)
                                  << QStringList{"No", "Yes"};
  }

  void realBoxes() {
    QFETCH(int, buttons);
    QFETCH(int, press);
    QFETCH(int, result);
    QFETCH(int, icon);
    QFETCH(QStringList, shown);
    QWidget window;
    window.show();
    // A prompt that would be markup if it were read as rich text.
    const QString prompt = QStringLiteral("first <b>line</b>\r\nsecond line\r\n");
    SeenBox seen;
    AnswerRealBox(seen, QMessageBox::StandardButton(press));
    QCOMPARE(ui::MsgBox(prompt, buttons), result);
    QCOMPARE(seen.Title, QStringLiteral("Kestrine"));
    QCOMPARE(seen.Text, QStringLiteral("first <b>line</b>\nsecond line\n"));
    QCOMPARE(seen.Format, Qt::PlainText);
    QCOMPARE(int(seen.Icon), icon);
    QCOMPARE(seen.Buttons, shown);
    QCOMPARE(seen.Modality, Qt::ApplicationModal);
    const QString rule = QStringLiteral("---------------------------\n");
    QCOMPARE(seen.Copied, rule + "Kestrine\n" + rule + seen.Text + "\n" + rule +
                              (buttons & ui::MB_YESNO ? QStringLiteral("Yes   No") : QStringLiteral("OK")) +
                              "\n" + rule);
  }
};

int main(int argc, char *argv[]) {
  ui::Application application(argv[0]);
  TestMessageBox test;
  return QTest::qExec(&test, argc, argv);
}

#include "tst_messagebox.moc"
