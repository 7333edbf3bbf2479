// The window layer: creation from a control table, load and reload, controls'
// texts and lists, tab order and focus, labels as accessible names.
#include "base/ErrorRecord.h"
#include "ui/Application.h"
#include "ui/Controls.h"
#include "ui/Window.h"

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

using ui::Kind;

namespace {

// clang-format off
const ui::ControlSpec kTable[] = {
  {"lblName",  Kind::Label,              { 150,  150, 1500,  255}, 5, "Your name",  "",             "txtName"},
  {"txtName",  Kind::TextField,          {1800,  150, 3000,  285}, 3, "default",    "Name tooltip"},
  {"txtNotes", Kind::MultiLineTextField, {1800,  600, 3000, 1500}, 1, "one\r\ntwo\r\n"},
  {"lstPick",  Kind::ListBox,            {1800, 2250, 3000,  645}, 0},
  {"lblInfo",  Kind::Label,              { 150, 3000, 3000,  900}, 2, "stored"},
  {"cmdGo",    Kind::PushButton,         { 150, 4050, 1215,  615}, 4, "Go"},
  {"picLogo",  Kind::PictureBox,         {3000, 3000, 1500, 1500}, 6},
};
// clang-format on

class TestWindow : public ui::Window {
public:
  TestWindow() : ui::Window({"Test window", {3000, 1500, 6000, 5250}}, kTable) {
    cmdGo.Click = [this] { ++clicks; };
  }
  ui::TextBox txtName{*this, "txtName"};
  ui::TextBox txtNotes{*this, "txtNotes"};
  ui::ListBox lstPick{*this, "lstPick"};
  ui::Label lblInfo{*this, "lblInfo"};
  ui::CommandButton cmdGo{*this, "cmdGo"};
  int loads = 0;
  int clicks = 0;

protected:
  void Load() override {
    ++loads;
    lstPick.AddItem(QStringLiteral("first"));
    lstPick.AddItem(QStringLiteral("second"));
  }
};

template <class T> T *Child(ui::Window &window, const char *name) {
  return window.Widget()->findChild<T *>(QLatin1String(name));
}

} // namespace

class TestUiWindow : public QObject {
  Q_OBJECT

private slots:
  void geometryIsTwipsAtFifteenPerPixel() {
    TestWindow window;
    window.Show();
    QCOMPARE(window.Widget()->windowTitle(), QStringLiteral("Test window"));
    QCOMPARE(window.Widget()->geometry(), QRect(200, 100, 400, 350));
    QCOMPARE(Child<QLineEdit>(window, "txtName")->geometry(), QRect(120, 10, 200, 19));
    QCOMPARE(Child<QListWidget>(window, "lstPick")->geometry(), QRect(120, 150, 200, 43));
  }

  void showingAnOpenWindowDoesNotLoadItAgain() {
    TestWindow window;
    window.Show();
    QWidget *first = window.Widget();
    window.txtName.SetText(QStringLiteral("typed"));
    window.Show();
    QCOMPARE(window.loads, 1);
    QCOMPARE(window.Widget(), first);
    QCOMPARE(window.lstPick.ListCount(), 2);
    QCOMPARE(window.txtName.Text(), QStringLiteral("typed"));
  }

  void closingDestroysAndTheNextShowReloadsFromTheTable() {
    TestWindow window;
    window.Show();
    QPointer<QWidget> first = window.Widget();
    window.txtName.SetText(QStringLiteral("typed"));
    first->close();
    QVERIFY(!window.IsLoaded());
    QTRY_VERIFY_WITH_TIMEOUT(first.isNull(), 5000);
    QVERIFY_THROWS_EXCEPTION(ErrorRecord, window.txtName.Text());

    window.Show();
    QCOMPARE(window.loads, 2);
    QCOMPARE(window.txtName.Text(), QStringLiteral("default"));
    QCOMPARE(window.lstPick.ListCount(), 2); // the list starts empty again
  }

  void multiLineTextUsesCrLfWhateverQtHoldsInside() {
    TestWindow window;
    window.Show();
    QCOMPARE(window.txtNotes.Text(), QStringLiteral("one\r\ntwo\r\n"));
    QCOMPARE(Child<QPlainTextEdit>(window, "txtNotes")->toPlainText(), QStringLiteral("one\ntwo\n"));
    window.txtNotes.SetText(QStringLiteral("a\rb\nc\r\n\r\nd"));
    QCOMPARE(window.txtNotes.Text(), QStringLiteral("a\r\nb\r\nc\r\n\r\nd"));
    auto *notes = Child<QPlainTextEdit>(window, "txtNotes");
    QCOMPARE(notes->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QVERIFY(notes->tabChangesFocus());
  }

  // What the multi-line field hands on is what was typed or pasted into it.
  void multiLineFieldReturnsTheTextAsTyped_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("text");
    QTest::newRow("no-break space") << QStringLiteral("a\u00A0b") << QStringLiteral("a\u00A0b");
    QTest::newRow("paragraphs") << QStringLiteral("one\ntwo\n") << QStringLiteral("one\r\ntwo\r\n");
    QTest::newRow("line separator of Shift+Enter")
        << QStringLiteral("one\u2028two") << QStringLiteral("one\r\ntwo");
  }

  void multiLineFieldReturnsTheTextAsTyped() {
    QFETCH(QString, typed);
    QFETCH(QString, text);
    TestWindow window;
    window.Show();
    auto *notes = Child<QPlainTextEdit>(window, "txtNotes");
    notes->clear();
    notes->insertPlainText(typed);
    QCOMPARE(window.txtNotes.Text(), text);
  }

  void textFieldsHoldLongTexts() {
    TestWindow window;
    window.Show();
    const QString longText(100000, QLatin1Char('x'));
    window.txtName.SetText(longText);
    QCOMPARE(window.txtName.Text().size(), longText.size());
  }

  void listTextIsTheSelectedItemOrEmpty() {
    TestWindow window;
    window.Show();
    QCOMPARE(window.lstPick.Text(), QString());
    window.lstPick.SetText(window.lstPick.List(1));
    QCOMPARE(window.lstPick.Text(), QStringLiteral("second"));
    QCOMPARE(Child<QListWidget>(window, "lstPick")->selectedItems().size(), 1);
    window.lstPick.SetText(QStringLiteral("no such item"));
    QCOMPARE(window.lstPick.Text(), QString());
    window.lstPick.AddItem(QStringLiteral("a"));
    QCOMPARE(window.lstPick.List(2), QStringLiteral("a")); // appended, not sorted
    QVERIFY_THROWS_EXCEPTION(ErrorRecord, window.lstPick.List(3));
  }

  void labelCaptionBreaksIntoLines() {
    TestWindow window;
    window.Show();
    QCOMPARE(window.lblInfo.Caption(), QStringLiteral("stored"));
    window.lblInfo.SetCaption(QStringLiteral("line 1\r\nline 2\r\n"));
    auto *label = Child<QLabel>(window, "lblInfo");
    QCOMPARE(label->text(), QStringLiteral("line 1\nline 2\n"));
    QCOMPARE(label->textFormat(), Qt::PlainText);
    QCOMPARE(window.lblInfo.Caption(), QStringLiteral("line 1\r\nline 2\r\n"));
  }

  void buttonsClickButAreNeverDefault_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Space") << int(Qt::Key_Space) << int(Qt::NoModifier);
    QTest::newRow("Return") << int(Qt::Key_Return) << int(Qt::NoModifier);
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier);
  }

  // The focused button answers the keys that press it; Enter anywhere else
  // presses no button, since none is the window's default.
  void buttonsClickButAreNeverDefault() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    TestWindow window;
    window.Show();
    QVERIFY(QTest::qWaitForWindowActive(window.Widget()));
    auto *button = Child<QPushButton>(window, "cmdGo");
    QVERIFY(!button->isDefault());
    QVERIFY(!button->autoDefault());
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(window.clicks, 1);
    button->setFocus();
    QTest::keyClick(button, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(window.clicks, 2);
    window.txtName.SetFocus();
    QTest::keyClick(Child<QLineEdit>(window, "txtName"), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(window.clicks, 2);
  }

  // A window stored where the screen is too small for it opens inside the
  // screen's available area.
  void storedPositionIsKeptOnTheScreen() {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    ui::Window window({"Far away", {(screen.right() - 100) * 15, (screen.bottom() - 50) * 15, 6000, 5250}},
                      std::span<const ui::ControlSpec>(kTable).subspan(1, 1));
    window.Show();
    QVERIFY2(screen.contains(window.Widget()->frameGeometry()),
             qPrintable(QStringLiteral("frame %1,%2 %3x%4 on %5x%6")
                            .arg(window.Widget()->frameGeometry().x())
                            .arg(window.Widget()->frameGeometry().y())
                            .arg(window.Widget()->frameGeometry().width())
                            .arg(window.Widget()->frameGeometry().height())
                            .arg(screen.width())
                            .arg(screen.height())));
  }

  void focusStartsAtTheLowestTabIndexAndTabFollowsTheIndexes() {
    TestWindow window;
    window.Show();
    QVERIFY(QTest::qWaitForWindowActive(window.Widget()));
    // lstPick 0, txtNotes 1, txtName 3, cmdGo 4; labels and the picture never.
    const QStringList expected{"lstPick", "txtNotes", "txtName", "cmdGo", "lstPick"};
    for (const QString &name : expected) {
      QCOMPARE(QApplication::focusWidget()->objectName(), name);
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
  }

  void labelsNameTheirFieldsForScreenReaders() {
    TestWindow window;
    window.Show();
    auto *name = Child<QLineEdit>(window, "txtName");
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(name);
    QVERIFY(accessible);
    QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("Your name"));
    QCOMPARE(accessible->text(QAccessible::Description), QStringLiteral("Name tooltip"));
    QCOMPARE(name->toolTip(), QStringLiteral("Name tooltip"));
    QCOMPARE(Child<QLabel>(window, "lblName")->buddy(), name);
  }
};

int main(int argc, char *argv[]) {
  ui::Application application(argv[0]);
  TestUiWindow test;
  return QTest::qExec(&test, argc, argv);
}

#include "tst_window.moc"
