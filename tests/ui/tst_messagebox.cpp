// Message boxes: what a box shows, and real Qt boxes answered by the test.
#include "support/BoxAnswerer.h"
#include "ui/Application.h"
#include "ui/MessageBox.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QClipboard>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextEdit>
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
  QString DefaultButton;
  QString IconName; // what a screen reader says of the icon
  QString ReadText; // the prompt through the accessible text interface
  QWidget *Parent = nullptr;
  QRect Frame;
  QRect Screen;
  bool ButtonsOnScreen = false;
  QString Details;            // the text behind the details button, which is pressed to show it first
  bool DetailsScroll = false; // shown, they need scrolling
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
    seen = SeenBox();
    for (QAbstractButton *b : box->buttons())
      if (box->buttonRole(b) == QMessageBox::ActionRole)
        b->click(); // the box must fit with its details shown
    seen.Details = box->detailedText();
    QCoreApplication::processEvents();
    if (const auto *details = box->findChild<QTextEdit *>())
      seen.DetailsScroll = details->verticalScrollBar()->maximum() > 0;
    seen.Title = box->windowTitle();
    seen.Text = box->text();
    seen.Icon = box->icon();
    seen.Modality = box->windowModality();
    seen.Format = box->textFormat();
    seen.Parent = box->parentWidget();
    seen.Frame = box->frameGeometry();
    seen.Screen = box->screen()->availableGeometry();
    seen.ButtonsOnScreen = true;
    for (QAbstractButton *b : box->buttons()) {
      seen.Buttons << b->text().remove(QLatin1Char('&'));
      seen.ButtonsOnScreen &= seen.Screen.contains(QRect(b->mapToGlobal(QPoint(0, 0)), b->size()));
    }
    if (box->defaultButton())
      seen.DefaultButton = box->defaultButton()->text().remove(QLatin1Char('&'));
    if (auto *icon = box->findChild<QLabel *>(QStringLiteral("qt_msgboxex_icon_label")))
      seen.IconName = QAccessible::queryAccessibleInterface(icon)->text(QAccessible::Name);
    if (auto *prompt = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label")))
      if (QAccessibleTextInterface *text = QAccessible::queryAccessibleInterface(prompt)->textInterface())
        seen.ReadText = text->text(0, text->characterCount());
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
    QTest::addColumn<QString>("iconName");
    QTest::newRow("OK") << 0 << int(QMessageBox::Ok) << ui::IDOK << int(QMessageBox::NoIcon)
                        << QStringList{"OK"} << "";
    QTest::newRow("critical OK") << 16 << int(QMessageBox::Ok) << ui::IDOK << int(QMessageBox::Critical)
                                 << QStringList{"Hide Details...", "OK"} << "Error";
    QTest::newRow("question, Yes") << 36 << int(QMessageBox::Yes) << ui::IDYES << int(QMessageBox::Question)
                                   << QStringList{"No", "Yes"} << "Question";
    QTest::newRow("question, No") << 36 << int(QMessageBox::No) << ui::IDNO << int(QMessageBox::Question)
                                  << QStringList{"No", "Yes"} << "Question";
  }

  void realBoxes() {
    QFETCH(int, buttons);
    QFETCH(int, press);
    QFETCH(int, result);
    QFETCH(int, icon);
    QFETCH(QStringList, shown);
    QFETCH(QString, iconName);
    QWidget window;
    window.show();
    // A prompt that would be markup if it were read as rich text.
    const QString prompt = QStringLiteral("first <b>line</b>\r\nsecond line\r\n");
    SeenBox seen;
    AnswerRealBox(seen, QMessageBox::StandardButton(press));
    // Error boxes carry details here, as the program's do; the others none.
    const QString details = buttons & ui::MB_ICONERROR ? QStringLiteral("S: 550 <b>no</b>\r\n") : QString();
    QCOMPARE(ui::MsgBox(prompt, buttons, QString(), details), result);
    QCOMPARE(seen.Details, QString(details).replace("\r\n", "\n")); // plain text, LF breaks
    QCOMPARE(seen.Title, QStringLiteral("Kestrine"));
    QCOMPARE(seen.Text, QStringLiteral("first <b>line</b>\nsecond line\n"));
    QCOMPARE(seen.Format, Qt::PlainText);
    QCOMPARE(int(seen.Icon), icon);
    QCOMPARE(seen.Buttons, shown);
    QCOMPARE(seen.Modality, Qt::ApplicationModal);
    // Enter answers Yes to a question whatever order the theme gives the buttons.
    QCOMPARE(seen.DefaultButton, buttons & ui::MB_YESNO ? QStringLiteral("Yes") : QStringLiteral("OK"));
    QCOMPARE(seen.IconName, iconName);
    QCOMPARE(seen.ReadText, seen.Text);
    const QString rule = QStringLiteral("---------------------------\n");
    QCOMPARE(seen.Copied, rule + "Kestrine\n" + rule + seen.Text + "\n" + rule +
                              (buttons & ui::MB_YESNO ? QStringLiteral("Yes   No") : QStringLiteral("OK")) +
                              "\n" + rule +
                              (seen.Details.isEmpty() ? QString() : seen.Details + "\n" + rule));
  }

  // However long the prompt, the box fits the screen with its buttons in view;
  // it shows the prompt shortened and copies it whole. A box is never narrower
  // than its title set in a window manager's larger bold face, beside the
  // icon and three buttons of a title bar (4 x 32 px).
  void boxFitsTheScreenAndItsTitle_data() {
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<QString>("title");
    const QString question = QStringLiteral("Are you sure this is a correct email address?\r\n");
    QTest::newRow("100 kB recipient") << question + QString(100000, QLatin1Char('x')) + "@example.com\r\n"
                                      << 36 << "Kestrine";
    QTest::newRow("100 kB of words") << question + QStringLiteral("a@example.com, ").repeated(7000) + "\r\n"
                                     << 36 << "Kestrine";
    QStringList lines;
    for (int i = 0; i < 5000; ++i)
      lines << QStringLiteral("250-line %1").arg(i);
    QTest::newRow("5000 lines") << "Err_SendEmail\r\n" + lines.join("\r\n") << 16 << "Kestrine";
    QTest::newRow("Send Email OK") << "Send Email OK" << 0 << "Kestrine";
    QTest::newRow("long title") << "OK" << 0 << "A copy of Kestrine renamed by its administrator";
  }

  void boxFitsTheScreenAndItsTitle() {
    QFETCH(QString, prompt);
    QFETCH(int, buttons);
    QFETCH(QString, title);
    QWidget window;
    window.show();
    SeenBox seen;
    AnswerRealBox(seen, buttons & ui::MB_YESNO ? QMessageBox::Yes : QMessageBox::Ok);
    ui::MsgBox(prompt, buttons, title);
    QVERIFY2(seen.Screen.contains(seen.Frame),
             qPrintable(QStringLiteral("box %1 x %2").arg(seen.Frame.width()).arg(seen.Frame.height())));
    QVERIFY(seen.ButtonsOnScreen);
    QVERIFY(seen.Copied.contains(QString(prompt).replace("\r\n", "\n")));
    AnswerRealBox(seen, buttons & ui::MB_YESNO ? QMessageBox::Yes : QMessageBox::Ok);
    ui::MsgBox(prompt, buttons, title, prompt + "\r\nC: RCPT TO:<" + QString(20000, u'x') + ">");
    QVERIFY(seen.Screen.contains(seen.Frame) && seen.ButtonsOnScreen);     // with its details shown too
    QVERIFY(seen.Frame.width() >= std::min(seen.Screen.width() / 2, 500)); // wide enough for their lines
    // A whole submission's dialogue is read without scrolling, beside a short prompt.
    QStringList dialogue{
        "Milliseconds since the submission began, C: what Kestrine sent, S: what the server replied."};
    for (int i = 0; i < 21; ++i)
      dialogue << QStringLiteral("%1 ms  S: 250-capability %1").arg(i, 6);
    AnswerRealBox(seen, buttons & ui::MB_YESNO ? QMessageBox::Yes : QMessageBox::Ok);
    ui::MsgBox(prompt, buttons, title, dialogue.join("\r\n"));
    QVERIFY(seen.Screen.contains(seen.Frame) && seen.ButtonsOnScreen);
    QVERIFY(prompt.size() > 100 || !seen.DetailsScroll);
    QFont titleFont = QApplication::font();
    titleFont.setBold(true);
    titleFont.setPixelSize(15);
    QVERIFY2(seen.Frame.width() >= QFontMetrics(titleFont).horizontalAdvance(title) + 4 * 32,
             qPrintable(QString::number(seen.Frame.width())));
  }

  // A box belongs to the window whose action raised it, even when another
  // window (or none) is active: it is its child and opens centred over it.
  void boxBelongsToTheWindowThatRaisedIt() {
    QWidget raising;
    raising.setGeometry(40, 60, 300, 300);
    raising.show();
    QWidget other;
    other.setGeometry(420, 300, 300, 300);
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    SeenBox seen;
    AnswerRealBox(seen, QMessageBox::Ok);
    {
      const ui::BoxOwner owner(&raising);
      ui::MsgBox(QStringLiteral("Send Email OK"));
    }
    QCOMPARE(seen.Parent, &raising);
    const QPoint offset = seen.Frame.center() - raising.frameGeometry().center();
    QVERIFY2(offset.manhattanLength() <= 4,
             qPrintable(QStringLiteral("%1,%2").arg(offset.x()).arg(offset.y())));
  }
};

int main(int argc, char *argv[]) {
  ui::Application application(argv[0]);
  TestMessageBox test;
  return QTest::qExec(&test, argc, argv);
}

#include "tst_messagebox.moc"
