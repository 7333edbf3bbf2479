// The About window: one instance, its notice rebuilt at each load, the logo,
// its place beside the main window, and the program's lifetime with both open.
#include "app/Version.h"
#include "ui/Application.h"
#include "windows/about/frmAbout.h"
#include "windows/main/frmKestrine.h"

#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

namespace {

QList<QWidget *> OpenAboutWindows() {
  QList<QWidget *> found;
  for (QWidget *window : QApplication::topLevelWidgets())
    if (window->isVisible() && window->windowTitle() == QLatin1String("About Kestrine"))
      found << window;
  return found;
}

void CloseAndWaitUntilGone(QWidget *window) {
  QPointer<QWidget> closing = window;
  closing->close();
  QTRY_VERIFY_WITH_TIMEOUT(closing.isNull(), 5000);
}

} // namespace

class TestFrmAbout : public QObject {
  Q_OBJECT

  frmKestrine *main_ = nullptr;

  void PressAbout() {
    QTest::mouseClick(main_->Widget()->findChild<QPushButton *>(QStringLiteral("cmdAbout")), Qt::LeftButton);
  }
  QLabel *Info() const {
    return frmAbout::Instance().Widget()->findChild<QLabel *>(QStringLiteral("lblInfo"));
  }
  QLabel *Picture() const {
    return frmAbout::Instance().Widget()->findChild<QLabel *>(QStringLiteral("Picture1"));
  }

private slots:
  void init() {
    main_ = new frmKestrine;
    main_->Show();
    QVERIFY(QTest::qWaitForWindowExposed(main_->Widget()));
  }
  void cleanup() {
    if (frmAbout::Instance().IsLoaded())
      CloseAndWaitUntilGone(frmAbout::Instance().Widget());
    delete main_;
    main_ = nullptr;
  }

  void captionClientAreaAndControls() {
    PressAbout();
    QWidget *about = frmAbout::Instance().Widget();
    QCOMPARE(about->windowTitle(), QStringLiteral("About Kestrine"));
    QCOMPARE(about->size(), QSize(377, 326)); // 5655 x 4890 twips
    QCOMPARE(Picture()->geometry(), QRect(24, 16, 209, 137));
    QCOMPARE(Info()->geometry(), QRect(24, 168, 209, 121));
    QVERIFY(about->findChildren<QPushButton *>().isEmpty());
    QVERIFY(!about->isModal());
  }

  void pressingTwiceKeepsOneWindowWithoutReloading() {
    PressAbout();
    QWidget *first = frmAbout::Instance().Widget();
    Info()->setText(QStringLiteral("changed since the load"));
    PressAbout();
    QCOMPARE(OpenAboutWindows().size(), 1);
    QCOMPARE(frmAbout::Instance().Widget(), first);
    QCOMPARE(Info()->text(), QStringLiteral("changed since the load"));
  }

  void reopeningRebuildsTheSameEightLines() {
    PressAbout();
    const QString firstNotice = frmAbout::Instance().lblInfo.Caption();
    CloseAndWaitUntilGone(frmAbout::Instance().Widget());
    QVERIFY(!frmAbout::Instance().IsLoaded());
    PressAbout();
    QCOMPARE(OpenAboutWindows().size(), 1);
    const QString notice = frmAbout::Instance().lblInfo.Caption();
    QCOMPARE(notice, firstNotice);
    const QStringList lines = notice.split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 9); // eight lines, each ended by CR LF
    QCOMPARE(lines[0], QString::fromUtf8(Version::kLegalCopyright));
    QVERIFY(lines[1].startsWith(QLatin1String("Web Site: www.brimvale.example")));
    QVERIFY(lines[2].startsWith(QLatin1String("Email: ")) &&
            lines[2].contains(QLatin1String("@brimvale.example")));
    QCOMPARE(lines[3], QString());
    for (int i = 4; i <= 6; ++i)
      QVERIFY2(!lines[i].isEmpty(), "three lines of terms");
    QCOMPARE(lines[7], QString());
    QVERIFY(notice.endsWith(QLatin1String("\r\n\r\n")));
  }

  void noticeFitsItsLabel() {
    PressAbout();
    QLabel *info = Info();
    const QRect needed =
        QFontMetrics(info->font())
            .boundingRect(info->rect(), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, info->text());
    QVERIFY2(info->rect().contains(needed),
             qPrintable(QStringLiteral("needs %1 x %2 px").arg(needed.width()).arg(needed.height())));
  }

  void logoIsSeeThroughAndSitsTopLeft() {
    PressAbout();
    QLabel *picture = Picture();
    const QImage logo = picture->pixmap().toImage();
    QCOMPARE(logo.size(), QSize(202, 128));
    QVERIFY(logo.hasAlphaChannel());
    for (const QPoint corner : {QPoint(0, 0), QPoint(201, 0), QPoint(0, 127), QPoint(201, 127)})
      QCOMPARE(qAlpha(logo.pixel(corner)), 0);
    int opaque = 0;
    for (int y = 0; y < logo.height(); ++y)
      for (int x = 0; x < logo.width(); ++x)
        opaque += qAlpha(logo.pixel(x, y)) == 255;
    QVERIFY2(opaque > logo.width() * logo.height() / 10, "the logo draws something");
    QCOMPARE(picture->alignment(), Qt::AlignLeft | Qt::AlignTop);
    QVERIFY(picture->width() > logo.width() && picture->height() > logo.height());
  }

  // Beside the main window where the screen has room for both (the X server
  // run of this test), otherwise as far right as the screen allows (offscreen).
  void opensBesideTheMainWindow() {
    PressAbout();
    const QRect about = frmAbout::Instance().Widget()->frameGeometry();
    const QRect mainArea = main_->Widget()->frameGeometry();
    const QRect screen = main_->Widget()->screen()->availableGeometry();
    QCOMPARE(about.top(), mainArea.top());
    if (mainArea.right() + 8 + about.width() <= screen.right())
      QCOMPARE(about.left(), mainArea.right() + 1 + 8);
    else
      QCOMPARE(about.right(), screen.right());
    QVERIFY(screen.contains(about));
  }

  void programEndsWhenTheLastWindowCloses_data() {
    QTest::addColumn<bool>("mainFirst");
    QTest::newRow("main window closed first") << true;
    QTest::newRow("About window closed first") << false;
  }

  // Runs the program's own event loop: closing one window must leave it
  // running, closing the other must end it.
  void programEndsWhenTheLastWindowCloses() {
    QFETCH(bool, mainFirst);
    PressAbout();
    QPointer<QWidget> first = mainFirst ? main_->Widget() : frmAbout::Instance().Widget();
    QPointer<QWidget> second = mainFirst ? frmAbout::Instance().Widget() : main_->Widget();
    bool runningAfterFirstClosed = false;
    bool timedOut = false;
    QTimer::singleShot(0, [&] {
      first->close();
      QTimer::singleShot(300, [&] {
        runningAfterFirstClosed = true;
        second->close();
      });
    });
    QTimer::singleShot(10000, qApp, [&] {
      timedOut = true;
      QCoreApplication::quit();
    });
    QApplication::exec();
    QVERIFY2(runningAfterFirstClosed, "the program ended while a window was still open");
    QVERIFY2(!timedOut, "the program went on after its last window closed");
  }
};

int main(int argc, char *argv[]) {
  ui::Application application(argv[0]);
  TestFrmAbout test;
  return QTest::qExec(&test, argc, argv);
}

#include "tst_frmabout.moc"
