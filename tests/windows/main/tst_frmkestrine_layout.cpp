// The main window as it opens: its twelve controls, defaults, list, focus and
// tab order, and that every text fits the rectangle it was given.
#include "ui/Application.h"
#include "windows/main/frmKestrine.h"

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QtTest>

class TestFrmKestrineLayout : public QObject {
  Q_OBJECT

  frmKestrine *form_ = nullptr;

  QWidget *Control(const QString &name) const { return form_->Widget()->findChild<QWidget *>(name); }

private slots:
  void init() {
    form_ = new frmKestrine;
    form_->Show();
    QVERIFY(QTest::qWaitForWindowExposed(form_->Widget()));
  }
  void cleanup() {
    delete form_;
    form_ = nullptr;
  }

  void windowCaptionAndClientArea() {
    QCOMPARE(form_->Widget()->windowTitle(), QStringLiteral(KESTRINE_TITLE_MAIN));
    QCOMPARE(form_->Widget()->geometry(), QRect(180, 134, 446, 351)); // 2700, 2010, 6690 x 5265 twips
  }

  void twelveControls_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QRect>("twips");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("tooltip");
    QTest::newRow("txtFrom") << "QLineEdit" << QRect(1920, 240, 3975, 285) << "kestrine@brimvale.example"
                             << "Email message from address";
    QTest::newRow("Label1") << "QLabel" << QRect(240, 240, 1575, 255) << "From email address"
                            << "";
    QTest::newRow("txtTo") << "QLineEdit" << QRect(1920, 600, 3975, 285) << "someone@example.com"
                           << "Email message  address";
    QTest::newRow("Label2") << "QLabel" << QRect(240, 600, 1575, 255) << "To email address"
                            << "";
    QTest::newRow("txtSubject") << "QLineEdit" << QRect(1920, 960, 3975, 285) << "Kestrine Server"
                                << "Email message subject";
    QTest::newRow("Label3") << "QLabel" << QRect(240, 960, 1575, 255) << "Subject"
                            << "";
    QTest::newRow("Label4") << "QLabel" << QRect(240, 1320, 1575, 255) << "Importance"
                            << "";
    QTest::newRow("txtMessage") << "QPlainTextEdit" << QRect(1920, 2160, 3975, 2085) << QString(kDefaultBody)
                                << "";
    QTest::newRow("Label5") << "QLabel" << QRect(240, 2280, 1575, 255) << "Message"
                            << "";
    QTest::newRow("cmdSendEmail") << "QPushButton" << QRect(240, 4560, 1215, 615) << "Send Email"
                                  << "";
    QTest::newRow("cmdAbout") << "QPushButton" << QRect(1560, 4560, 1215, 615) << "About"
                              << "";
    QTest::newRow("lstImportance") << "QListWidget" << QRect(1920, 1320, 3135, 645) << "Low"
                                   << "";
  }

  void twelveControls() {
    QFETCH(QString, kind);
    QFETCH(QRect, twips);
    QFETCH(QString, text);
    QFETCH(QString, tooltip);
    QWidget *widget = Control(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(widget);
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), kind);
    QCOMPARE(widget->parentWidget(), form_->Widget());
    QCOMPARE(widget->geometry(),
             QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
    QCOMPARE(widget->toolTip(), tooltip);
    QString shown;
    if (auto *line = qobject_cast<QLineEdit *>(widget))
      shown = line->text();
    else if (auto *label = qobject_cast<QLabel *>(widget))
      shown = label->text();
    else if (auto *button = qobject_cast<QPushButton *>(widget))
      shown = button->text();
    else if (auto *list = qobject_cast<QListWidget *>(widget))
      shown = list->selectedItems().value(0)->text();
    else if (auto *edit = qobject_cast<QPlainTextEdit *>(widget))
      shown = edit->toPlainText().replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    QCOMPARE(shown, text);
    QCOMPARE(form_->Widget()->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly).size(), 12);
  }

  void defaultBodyByteForByte() {
    const QByteArray expected = "This is a test of the SMTP server of IIS.\r\n"
                                "This server is installed together with IIS.\r\n"
                                "\r\n"
                                "Enter your own \"to email address\" \r\n"
                                "Then click on button \"Send Email\"\r\n"
                                "Retrieve the email with your POP3 email client, like \r\n"
                                "Outlook Express, Eudoro or Netscape.\r\n"
                                "\r\n"
                                "You can uninstall Kestrine via Control Panel , Add/Remove Programs.\r\n";
    QCOMPARE(form_->txtMessage.Text().toUtf8(), expected);
    QCOMPARE(form_->txtMessage.Text().count(QLatin1String("\r\n")), 9);
  }

  void importanceListHoldsThreeItemsWithLowSelected() {
    auto *list = qobject_cast<QListWidget *>(Control("lstImportance"));
    QCOMPARE(list->count(), 3);
    QCOMPARE(form_->lstImportance.List(0), QStringLiteral("Low"));
    QCOMPARE(form_->lstImportance.List(1), QStringLiteral("Medium"));
    QCOMPARE(form_->lstImportance.List(2), QStringLiteral("High"));
    QCOMPARE(form_->lstImportance.Text(), QStringLiteral("Low"));
    QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
    QVERIFY(!list->isSortingEnabled());
  }

  void focusStartsInTheSenderAndTabVisitsTheListLast() {
    QVERIFY(QTest::qWaitForWindowActive(form_->Widget()));
    const QStringList order{"txtFrom",      "txtTo",    "txtSubject",    "txtMessage",
                            "cmdSendEmail", "cmdAbout", "lstImportance", "txtFrom"};
    for (const QString &name : order) {
      QCOMPARE(QApplication::focusWidget()->objectName(), name);
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
  }

  // A screen reader learns the selection from the list and the items, and
  // hears an item as focused only while the list has the focus.
  void importanceListTellsItsSelectionAndFocus() {
    QVERIFY(QTest::qWaitForWindowActive(form_->Widget()));
    auto *list = qobject_cast<QListWidget *>(Control("lstImportance"));
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(list);
    const auto states = [accessible] {
      QString seen;
      for (int i = 0; i < accessible->childCount(); ++i) {
        const QAccessible::State state = accessible->child(i)->state();
        seen += state.focused ? QLatin1Char('F') : state.selected ? QLatin1Char('S') : QLatin1Char('-');
      }
      return seen;
    };
    QCOMPARE(states(), QStringLiteral("S--"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab); // from txtFrom back to the list
    QCOMPARE(QApplication::focusWidget(), list);
    QCOMPARE(states(), QStringLiteral("F--"));
    QTest::keyClick(list, Qt::Key_Down);
    QCOMPARE(form_->lstImportance.Text(), QStringLiteral("Medium"));
    QCOMPARE(states(), QStringLiteral("-F-"));
    QTest::keyClick(list, Qt::Key_Tab);
    QCOMPARE(states(), QStringLiteral("-S-"));
    QAccessibleTableInterface *table = accessible->tableInterface();
    QVERIFY(table);
    QCOMPARE(table->selectedCellCount(), 1);
    QCOMPARE(table->selectedCells().value(0)->text(QAccessible::Name), QStringLiteral("Medium"));
  }

  void noButtonIsTheDefault() {
    for (auto *button : form_->Widget()->findChildren<QPushButton *>()) {
      QVERIFY(!button->isDefault());
      QVERIFY(!button->autoDefault());
    }
  }

  void fieldsAreAnnouncedByTheirCaptions_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("txtFrom") << "From email address";
    QTest::newRow("txtTo") << "To email address";
    QTest::newRow("txtSubject") << "Subject";
    QTest::newRow("lstImportance") << "Importance";
    QTest::newRow("txtMessage") << "Message";
  }

  void fieldsAreAnnouncedByTheirCaptions() {
    QFETCH(QString, name);
    QWidget *field = Control(QString::fromLatin1(QTest::currentDataTag()));
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(field);
    QCOMPARE(accessible->text(QAccessible::Name), name);
    QCOMPARE(accessible->text(QAccessible::Description), field->toolTip());
  }

  // Every caption, default text and button caption fits its rectangle without
  // clipping, at 96 dots per inch.
  void everyTextFitsItsRectangle() {
    QCOMPARE(QFontInfo(QApplication::font()).pixelSize(), 10);
    const QFontMetrics metrics(QApplication::font());
    const int frame = form_->Widget()->style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
    for (auto *label : form_->Widget()->findChildren<QLabel *>()) {
      QVERIFY2(metrics.horizontalAdvance(label->text()) <= label->width(), qPrintable(label->text()));
      QVERIFY2(metrics.height() <= label->height(), qPrintable(label->text()));
    }
    for (auto *line : form_->Widget()->findChildren<QLineEdit *>()) {
      const QMargins margins = line->textMargins();
      const int room = line->width() - 2 * frame - margins.left() - margins.right() - 4;
      QVERIFY2(metrics.horizontalAdvance(line->text()) <= room, qPrintable(line->text()));
      QVERIFY2(metrics.height() <= line->height() - 2 * frame, qPrintable(line->text()));
    }
    for (auto *button : form_->Widget()->findChildren<QPushButton *>()) {
      const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin);
      QVERIFY2(metrics.horizontalAdvance(button->text()) + 2 * margin <= button->width(),
               qPrintable(button->text()));
    }
    auto *list = qobject_cast<QListWidget *>(Control("lstImportance"));
    for (int i = 0; i < list->count(); ++i) {
      const QRect item = list->visualItemRect(list->item(i));
      QVERIFY2(list->viewport()->rect().contains(item), qPrintable(list->item(i)->text()));
      QVERIFY(metrics.horizontalAdvance(list->item(i)->text()) <= item.width());
    }
    // The body wraps at words; no single word may be wider than the field.
    auto *body = qobject_cast<QPlainTextEdit *>(Control("txtMessage"));
    for (const QString &word : body->toPlainText().split(QRegularExpression(QStringLiteral("\\s+"))))
      QVERIFY2(metrics.horizontalAdvance(word) < body->viewport()->width(), qPrintable(word));
  }
};

int main(int argc, char *argv[]) {
  ui::Application application(argv[0]);
  TestFrmKestrineLayout test;
  return QTest::qExec(&test, argc, argv);
}

#include "tst_frmkestrine_layout.moc"
