// The main window in this process, pressed as a user presses it, against an
// SMTP server given on the command line. Prints one "name value..." line per
// figure; bench/press/press.sh and bench/run.sh read them.
//
//   bench_press message FILE TO            writes the message Kestrine composes, for curl and swaks
//   bench_press press HOST PORT TO RUNS    press of "Send Email" to the "Send Email OK" box, ms
//   bench_press endurance HOST PORT TO N   N submissions through SendEmail; resident memory before and after
//   bench_press sweep HOST PORT TO         body sizes 1 kB to 10 MB: time and peak memory; a pasted 10 MB
//   body
#include "mail/Compose.h"
#include "mail/NewMail.h"
#include "mail/Submission.h"
#include "support/BodyOfSize.h"
#include "ui/Application.h"
#include "ui/MessageBox.h"
#include "windows/main/frmKestrine.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A field of /proc/self/status in kB (VmRSS, VmHWM).
long StatusKb(const char *field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string key = std::string(field) + ':';
  while (std::getline(status, line))
    if (line.rfind(key, 0) == 0)
      return std::stol(line.substr(key.size()));
  return -1;
}

// Writing 5 to clear_refs resets the peak resident size to the current one.
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// Pasted-looking text of exactly `size` characters.
QString BodyOfSize(qsizetype size) {
  QString body = testsupport::BodyOfSize(size);
  body.truncate(size);
  return body;
}

// Answers every box, and remembers when the "Send Email OK" box was asked for.
struct Answerer {
  std::optional<Clock::time_point> okShown;
  QString other;
  Answerer() {
    ui::SetMessageBoxResponder([this](const ui::MessageBoxRequest &request) {
      if (request.Prompt == QLatin1String("Send Email OK"))
        okShown = Clock::now();
      else
        other = request.Prompt;
      return (request.Buttons & 0x0F) == ui::MB_YESNO ? ui::IDYES : ui::IDOK;
    });
  }
  ~Answerer() { ui::SetMessageBoxResponder({}); }
};

struct Window {
  frmKestrine form;
  QPushButton *button = nullptr;
  explicit Window(const QString &to) {
    form.Show();
    form.txtTo.SetText(to);
    button = form.Widget()->findChild<QPushButton *>(QStringLiteral("cmdSendEmail"));
  }
  // Press to answer in ms, or a negative value when no OK box came.
  double Press(Answerer &boxes) {
    boxes.okShown.reset();
    const auto pressed = Clock::now();
    QTest::mouseClick(button, Qt::LeftButton);
    if (!boxes.okShown) {
      std::fprintf(stderr, "no Send Email OK box: %s\n", qPrintable(boxes.other.left(400)));
      return -1;
    }
    return std::chrono::duration<double, std::milli>(*boxes.okShown - pressed).count();
  }
};

int WriteMessage(const QString &path, const QString &to) {
  mail::MessageFields fields;
  fields.from = mail::ParseSender(QString::fromLatin1(kDefaultSender));
  fields.to = mail::ParseRecipients(to);
  fields.subject = QString::fromLatin1(kDefaultSubject);
  fields.body = QString::fromUtf8(kDefaultBody);
  fields.importance = mail::kLow; // the list's first item, selected at start
  fields.date = QDateTime::currentDateTime();
  fields.messageId = mail::NewMessageId(mail::ThisHostName());
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly))
    return 1;
  file.write(mail::Compose(fields));
  return 0;
}

int Press(Window &window, int runs) {
  Answerer boxes;
  for (int i = 0; i < 3; ++i) // warm-up: libraries loaded, caches filled
    if (window.Press(boxes) < 0)
      return 1;
  std::printf("press_ms");
  for (int i = 0; i < runs; ++i) {
    const double ms = window.Press(boxes);
    if (ms < 0)
      return 1;
    std::printf(" %.3f", ms);
  }
  std::printf("\n");
  return 0;
}

int Endurance(Window &window, int count) {
  Answerer boxes;
  constexpr int kWarmUp = 50;
  for (int i = 0; i < kWarmUp; ++i)
    if (window.Press(boxes) < 0)
      return 1;
  const long before = StatusKb("VmRSS");
  const auto started = Clock::now();
  for (int i = 0; i < count; ++i)
    if (window.Press(boxes) < 0) {
      std::fprintf(stderr, "submission %d failed\n", i + 1);
      return 1;
    }
  std::printf("endurance_submissions %d\nendurance_seconds %.2f\nrss_before_kb %ld\nrss_after_kb %ld\n",
              count, MsSince(started) / 1000, before, StatusKb("VmRSS"));
  return 0;
}

int Sweep(Window &window) {
  Answerer boxes;
  window.Press(boxes); // warm-up
  auto *field = window.form.Widget()->findChild<QPlainTextEdit *>(QStringLiteral("txtMessage"));
  for (const qsizetype size : {qsizetype{1} << 10, qsizetype{10} << 10, qsizetype{100} << 10,
                               qsizetype{1} << 20, qsizetype{10} << 20}) {
    QString body = BodyOfSize(size);
    window.form.txtMessage.SetText(QString());
    QCoreApplication::processEvents();
    const long base = StatusKb("VmRSS");
    ResetPeak();
    const auto setting = Clock::now();
    window.form.txtMessage.SetText(body);
    QCoreApplication::processEvents();
    const double setMs = MsSince(setting);
    const double pressMs = window.Press(boxes);
    if (pressMs < 0)
      return 1;
    std::printf("sweep %lld %.3f %.3f %ld\n", static_cast<long long>(size), setMs, pressMs,
                StatusKb("VmHWM") - base);
  }

  // Pasted, not set: the clipboard, the field's own paste, then one more key.
  const QString big = BodyOfSize(qsizetype{10} << 20);
  window.form.txtMessage.SetText(QString());
  QGuiApplication::clipboard()->setText(big);
  field->setFocus();
  QCoreApplication::processEvents();
  const auto pasting = Clock::now();
  field->paste();
  QCoreApplication::processEvents();
  const double pasteMs = MsSince(pasting);
  // Each CR LF becomes one paragraph break in the field.
  if (field->document()->characterCount() < big.size() - big.count(u'\n')) {
    std::fprintf(stderr, "the paste did not arrive whole\n");
    return 1;
  }
  double worstKeyMs = 0;
  for (int i = 0; i < 5; ++i) {
    const auto typing = Clock::now();
    QTest::keyClick(field, Qt::Key_X);
    field->viewport()->repaint();
    QCoreApplication::processEvents();
    worstKeyMs = std::max(worstKeyMs, MsSince(typing));
  }
  std::printf("paste_10mb_ms %.3f\nkey_after_10mb_ms %.3f\n", pasteMs, worstKeyMs);
  return 0;
}

void PointAt(const QString &host, const QString &port) {
  mail::SetDefaultTarget({host, static_cast<std::uint16_t>(port.toUInt()), {}});
}

} // namespace

int main(int argc, char *argv[]) {
  ui::Application application(argv[0]); // it hands Qt only the program's path
  QStringList args;
  for (int i = 0; i < argc; ++i)
    args << QString::fromLocal8Bit(argv[i]);
  const QString mode = args.value(1);
  if (mode == u"message" && args.size() == 4)
    return WriteMessage(args[2], args[3]);
  if (args.size() < 5) {
    std::fprintf(stderr, "usage: see the top of bench_press.cpp\n");
    return 2;
  }
  PointAt(args[2], args[3]);
  Window window(args[4]);
  if (mode == u"press")
    return Press(window, args.value(5, QStringLiteral("50")).toInt());
  if (mode == u"endurance")
    return Endurance(window, args.value(5, QStringLiteral("1000")).toInt());
  if (mode == u"sweep")
    return Sweep(window);
  return 2;
}
