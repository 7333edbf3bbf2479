// The About window: one instance, its notice rebuilt at each load, the logo,
// its place beside the main window, and the program's lifetime with both open.
#include "base/Version.h"
#include "resources/Resources.h"
#include "ui/Application.h"
#include "windows/about/frmAbout.h"
#include "windows/main/frmKestrine.h"

#include <QAccessible>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

#include <cmath>

namespace {

QList<QWidget *> OpenAboutWindows() {
  QList<QWidget *> found;
  for (QWidget *window : QApplication::topLevelWidgets())
    if (window->isVisible() && window->windowTitle() == QLatin1String(KESTRINE_TITLE_ABOUT))
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
    QCOMPARE(about->windowTitle(), QStringLiteral(KESTRINE_TITLE_ABOUT));
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
    QCOMPARE(lines[1], QLatin1String("Web Site: ") + QLatin1String(Version::kWebSite));
    QCOMPARE(lines[2], QLatin1String("Email: ") + QLatin1String(Version::kSupportAddress));
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
    // At two device pixels to the pixel (the scaled run of this test) the
    // rendering twice as large, taking the same room.
    const qreal ratio = picture->devicePixelRatioF() > 1 ? 2 : 1;
    QCOMPARE(logo.devicePixelRatio(), ratio);
    QCOMPARE(logo.size(), QSize(202, 128) * ratio);
    QVERIFY(logo.hasAlphaChannel());
    for (const QPoint corner : {QPoint(0, 0), QPoint(logo.width() - 1, 0), QPoint(0, logo.height() - 1),
                                QPoint(logo.width() - 1, logo.height() - 1)})
      QCOMPARE(qAlpha(logo.pixel(corner)), 0);
    int opaque = 0;
    for (int y = 0; y < logo.height(); ++y)
      for (int x = 0; x < logo.width(); ++x)
        opaque += qAlpha(logo.pixel(x, y)) == 255;
    QVERIFY2(opaque > logo.width() * logo.height() / 10, "the logo draws something");
    QVERIFY(picture->width() > 202 && picture->height() > 128);
  }

  // The name under the picture reads on a light and on a dark window: a good
  // share of its pixels contrast with the background by at least 4.5 to 1.
  void logoNameReadsOnLightAndDarkWindows_data() {
    QTest::addColumn<QColor>("background");
    QTest::newRow("light") << QColor(0xef, 0xef, 0xef);
    QTest::newRow("dark") << QColor(0x35, 0x35, 0x35);
  }

  void logoNameReadsOnLightAndDarkWindows() {
    QFETCH(QColor, background);
    QImage logo(QString::fromLatin1(resources::kLogo));
    QImage shown(logo.size(), QImage::Format_RGB32);
    shown.fill(background);
    QPainter(&shown).drawImage(0, 0, logo);
    const auto luminance = [](QColor c) {
      const auto channel = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
      };
      return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double back = luminance(background);
    int drawn = 0;
    int readable = 0;
    for (int y = 96; y < logo.height(); ++y) // the name's line, below the envelope
      for (int x = 0; x < logo.width(); ++x) {
        if (qAlpha(logo.pixel(x, y)) < 128)
          continue;
        ++drawn;
        const double l = luminance(shown.pixelColor(x, y));
        readable += (std::max(l, back) + 0.05) / (std::min(l, back) + 0.05) >= 4.5;
      }
    QVERIFY(drawn > 300);
    QVERIFY2(readable * 4 >= drawn, qPrintable(QStringLiteral("%1 of %2").arg(readable).arg(drawn)));
  }

  // What a screen reader finds in the window: the logo by name, the notice as text.
  void logoAndNoticeAreAccessible() {
    PressAbout();
    QCOMPARE(QAccessible::queryAccessibleInterface(Picture())->text(QAccessible::Name),
             QStringLiteral("Kestrine logo"));
    QAccessibleTextInterface *notice = QAccessible::queryAccessibleInterface(Info())->textInterface();
    QVERIFY(notice);
    QCOMPARE(notice->text(0, notice->characterCount()), Info()->text());
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
      // The sizes a window shows; the installed icon theme has the larger ones.
      QCOMPARE(sizes, (QList<QSize>{{16, 16}, {24, 24}, {32, 32}, {48, 48}, {64, 64}}));
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
