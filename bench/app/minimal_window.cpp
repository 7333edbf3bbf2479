// The floors Kestrine's start-up is measured against: the least a Qt Widgets
// program does to put one window of the main window's size on the screen.
// With --label it also shows one line of text, which brings in the fonts.
// With --twelve it is the reference: the main window's twelve plain widgets
// with their texts, tooltips and list items, built directly with Qt.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>

#include <cstring>

namespace {

// Twips to pixels, as Kestrine lays out its window (15 twips a pixel).
QRect Twips(int left, int top, int width, int height) {
  return {left / 15, top / 15, width / 15, height / 15};
}

void AddTwelveWidgets(QWidget &window) {
  struct Text {
    const char *text;
    QRect place;
    const char *tooltip;
  };
  const Text fields[] = {
      {"kestrine@brimvale.example", Twips(1920, 240, 3975, 285), "Email message from address"},
      {"someone@example.com", Twips(1920, 600, 3975, 285), "Email message  address"},
      {"Kestrine Server", Twips(1920, 960, 3975, 285), "Email message subject"},
  };
  for (const Text &field : fields) {
    auto *edit = new QLineEdit(QString::fromUtf8(field.text), &window);
    edit->setGeometry(field.place);
    edit->setToolTip(QString::fromUtf8(field.tooltip));
  }
  const Text labels[] = {
      {"From email address", Twips(240, 240, 1575, 255), nullptr},
      {"To email address", Twips(240, 600, 1575, 255), nullptr},
      {"Subject", Twips(240, 960, 1575, 255), nullptr},
      {"Importance", Twips(240, 1320, 1575, 255), nullptr},
      {"Message", Twips(240, 2280, 1575, 255), nullptr},
  };
  for (const Text &label : labels)
    (new QLabel(QString::fromUtf8(label.text), &window))->setGeometry(label.place);
  auto *message =
      new QPlainTextEdit(QStringLiteral("This is a test of the SMTP server of IIS.\n"
                                        "This server is installed together with IIS.\n\n"
                                        "Enter your own \"to email address\" \n"
                                        "Then click on button \"Send Email\"\n"
                                        "Retrieve the email with your POP3 email client, like \n"
                                        "Outlook Express, Eudoro or Netscape.\n\n"
                                        "You can uninstall Kestrine via Control Panel , Add/Remove "
                                        "Programs.\n"),
                         &window);
  message->setGeometry(Twips(1920, 2160, 3975, 2085));
  message->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  (new QPushButton(QStringLiteral("Send Email"), &window))->setGeometry(Twips(240, 4560, 1215, 615));
  (new QPushButton(QStringLiteral("About"), &window))->setGeometry(Twips(1560, 4560, 1215, 615));
  auto *importance = new QListWidget(&window);
  importance->setGeometry(Twips(1920, 1320, 3135, 645));
  importance->addItems({QStringLiteral("Low"), QStringLiteral("Medium"), QStringLiteral("High")});
  importance->setCurrentRow(0);
}

} // namespace

int main(int argc, char *argv[]) {
  const char *mode = argc > 1 ? argv[1] : "";
  QApplication application(argc, argv);
  QWidget window;
  window.resize(446, 351); // Kestrine's main window: 6690 x 5265 twips
  if (std::strcmp(mode, "--twelve") == 0) {
    window.setWindowTitle(QStringLiteral("Reference Qt Window"));
    AddTwelveWidgets(window);
  } else {
    window.setWindowTitle(QStringLiteral("Minimal Qt Window"));
    if (std::strcmp(mode, "--label") == 0)
      new QLabel(QStringLiteral("From email address"), &window);
  }
  window.show();
  return application.exec();
}
