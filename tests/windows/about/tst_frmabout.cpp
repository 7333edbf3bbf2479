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

QRect ChangedPixels(const QImage &a, const QImage &b) {
  QRect changed;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x)
      if (a.pixel(x, y) != b.pixel(x, y))
        changed |= QRect(x, y, 1, 1);
  return changed;
}

// The smallest rectangle holding every pixel at least this opaque.
QRect AlphaBounds(const QImage &image, int minimumAlpha) {
  QRect bounds;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (qAlpha(image.pixel(x, y)) >= minimumAlpha)
        bounds |= QRect(x, y, 1, 1);
  return bounds;
}

QString Describe(const QRect &r) {
  return QStringLiteral("changed pixels at %1,%2 size %3 x %4")
      .arg(r.x())
      .arg(r.y())
      .arg(r.width())
      .arg(r.height());
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
    const QFontInfo font(info->font());
    QCOMPARE(font.family(), QStringLiteral("DejaVu Sans"));
    QCOMPARE(font.pixelSize(), 10);
    // What the label itself asks for when it wraps the text at its width.
    QVERIFY2(info->heightForWidth(info->width()) <= info->height(),
             qPrintable(QString::number(info->heightForWidth(info->width()))));
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
    QVERIFY(picture->width() > logo.width() && picture->height() > logo.height());
  }

  // Where the logo lands on screen: the pixels it changes in the picture box
  // must lie at the box's top-left corner, just inside its frame.
  void logoIsDrawnAtTheTopLeftOfThePictureBox() {
    PressAbout();
    QLabel *picture = Picture();
    const QImage logo = picture->pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
    const QImage withLogo = picture->grab().toImage().convertToFormat(QImage::Format_RGB32);
    picture->clear();
    const QImage withoutLogo = picture->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(withLogo.size(), picture->size());

    const QPoint inside = picture->contentsRect().topLeft();
    QVERIFY2(inside.x() <= 3 && inside.y() <= 3, "the picture box's frame is only a border");
    const QRect changed = ChangedPixels(withLogo, withoutLogo);
    // Fully opaque pixels always change what is drawn; faint edge pixels may
    // round to the background, so the changed area lies between the two.
    QVERIFY2(changed.contains(AlphaBounds(logo, 255).translated(inside)), qPrintable(Describe(changed)));
    QVERIFY2(AlphaBounds(logo, 1).translated(inside).contains(changed), qPrintable(Describe(changed)));
  }

  void windowsCarryTheApplicationIcon() {
    PressAbout();
    for (QWidget *window : {main_->Widget(), frmAbout::Instance().Widget()}) {
      const QList<QSize> sizes = window->windowIcon().availableSizes();
      for (const int size : {16, 24, 32, 48, 64, 128, 256})
        QVERIFY2(sizes.contains(QSize(size, size)), qPrintable(QString::number(size)));
      QCOMPARE(window->windowIcon().pixmap(48).toImage().pixelColor(0, 0).alpha(), 0);
    }
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
