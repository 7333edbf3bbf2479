// The floor Kestrine's start-up is measured against: the least a Qt Widgets
// program does to put one window of the main window's size on the screen.
// With --label it also shows one line of text, which brings in the fonts.
#include <QApplication>
#include <QLabel>
#include <QWidget>

#include <cstring>

int main(int argc, char *argv[]) {
  const bool label = argc > 1 && std::strcmp(argv[1], "--label") == 0;
  QApplication application(argc, argv);
  QWidget window;
  window.setWindowTitle(QStringLiteral("Minimal Qt Window"));
  window.resize(446, 351); // Kestrine's main window: 6690 x 5265 twips
  if (label)
    new QLabel(QStringLiteral("From email address"), &window);
  window.show();
  return application.exec();
}
