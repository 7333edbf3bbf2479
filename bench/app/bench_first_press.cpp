// The first press of "Send Email" against later ones, in a program built as
// Kestrine is: the mail engine is not linked in but opened as a module on the
// first NewMail. The main window is pressed with its own click and timed to
// the "Send Email OK" box, against the SMTP server given on the command line.
//
//   bench_first_press HOST PORT TO LATER
//
// prints "loaded_before 0|1", "first_ms X", "later_ms Y1 Y2 ..." and
// "loaded_after 0|1" (whether Qt Network was mapped before the first press and
// the module after it).
#include "mail/NewMail.h"
#include "ui/Application.h"
#include "ui/MessageBox.h"
#include "windows/main/frmKestrine.h"

#include <QPushButton>
#include <QTest>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

bool Mapped(const char *name) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line))
    if (line.find(name) != std::string::npos)
      return true;
  return false;
}

} // namespace

int main(int argc, char *argv[]) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: bench_first_press HOST PORT TO LATER\n");
    return 2;
  }
  const QString host = QString::fromLocal8Bit(argv[1]);
  const auto port = static_cast<std::uint16_t>(std::stoi(argv[2]));
  const QString to = QString::fromLocal8Bit(argv[3]);
  const int later = std::stoi(argv[4]);
  ui::Application application(argv[0]);
  mail::SetDefaultTarget({host, port, {}});

  std::optional<Clock::time_point> okShown;
  QString other;
  ui::SetMessageBoxResponder([&](const ui::MessageBoxRequest &request) {
    if (request.Prompt == QLatin1String("Send Email OK"))
      okShown = Clock::now();
    else
      other = request.Prompt;
    return ui::IDOK;
  });
  frmKestrine form;
  form.Show();
  form.txtTo.SetText(to);
  auto *button = form.Widget()->findChild<QPushButton *>(QStringLiteral("cmdSendEmail"));
  if (!QTest::qWaitForWindowExposed(form.Widget())) {
    std::fprintf(stderr, "the main window was not shown\n");
    return 1;
  }
  const auto press = [&]() {
    okShown.reset();
    const auto pressed = Clock::now();
    QTest::mouseClick(button, Qt::LeftButton);
    if (!okShown) {
      std::fprintf(stderr, "no Send Email OK box: %s\n", qPrintable(other.left(400)));
      return -1.0;
    }
    return std::chrono::duration<double, std::milli>(*okShown - pressed).count();
  };

  std::printf("loaded_before %d\n", Mapped("libQt6Network.so") ? 1 : 0);
  const double first = press();
  if (first < 0)
    return 1;
  std::printf("first_ms %.3f\nlater_ms", first);
  for (int i = 0; i < later; ++i) {
    const double ms = press();
    if (ms < 0)
      return 1;
    std::printf(" %.3f", ms);
  }
  std::printf("\nloaded_after %d\n", Mapped("kestrine-mail.so") ? 1 : 0);
  ui::SetMessageBoxResponder({});
  return 0;
}
