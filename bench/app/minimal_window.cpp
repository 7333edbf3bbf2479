// The floor Kestrine's start-up is measured against: the least a Qt Widgets
// program does to put one window of the main window's size on the screen.
#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[]) {
  QApplication application(argc, argv);
  QWidget window;
  window.setWindowTitle(QStringLiteral("Minimal Qt Window"));
  window.resize(446, 351); // Kestrine's main window: 6690 x 5265 twips
  window.show();
  return application.exec();
}
