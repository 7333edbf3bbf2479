// Submission cost of NewMail against a bare SMTP dialogue for the same bytes
// to the same local server, in the same run. Prints a table; see run.sh.
#include "base/ErrorRecord.h"
#include "mail/Compose.h"
#include "mail/NewMail.h"
#include "mail/Submission.h"

#include <QFile>
#include <QHostAddress>
#include <QString>
#include <QTcpSocket>

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const QString kFrom = QStringLiteral("Bench <bench@example.com>");
const QString kTo = QStringLiteral("Ann <ann@example.com>");

// Reads until the last line of a reply has come.
bool ReadReply(QTcpSocket &socket) {
  for (QByteArray got;;) {
    if (!socket.waitForReadyRead(30000))
      return false;
    got += socket.readAll();
    for (const QByteArray &line : got.split('\n'))
      if (line.size() >= 4 && line[3] == ' ')
        return true;
  }
}

// The plainest SMTP dialogue for `message` (which holds no line starting with
// a dot) over a Qt socket: no checks of the replies' codes, nothing recorded.
// What any program would write.
double BareDialogueMs(std::uint16_t port, const QByteArray &message) {
  const auto start = Clock::now();
  QTcpSocket socket;
  socket.connectToHost(QHostAddress::LocalHost, port);
  bool ok = socket.waitForConnected(10000) && ReadReply(socket);
  for (const QByteArray &command : {QByteArray("EHLO bench"), QByteArray("MAIL FROM:<bench@example.com>"),
                                    QByteArray("RCPT TO:<ann@example.com>"), QByteArray("DATA")}) {
    socket.write(command + "\r\n");
    ok = ok && ReadReply(socket);
  }
  socket.write(message);
  socket.write(".\r\n");
  ok = ok && ReadReply(socket);
  socket.write("QUIT\r\n");
  ok = ok && ReadReply(socket);
  if (!ok) {
    std::fprintf(stderr, "bare dialogue failed: %s\n", qPrintable(socket.errorString()));
    std::exit(1);
  }
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double NewMailMs(std::uint16_t port, const QString &body) {
  const auto start = Clock::now();
  try {
    mail::SetDefaultTarget({QStringLiteral("127.0.0.1"), port, {}});
    mail::NewMail message;
    message.Send(kFrom, kTo, QStringLiteral("Benchmark"), body, 1);
  } catch (const ErrorRecord &e) {
    std::fprintf(stderr, "NewMail failed: %d %s\n", e.Number(), qPrintable(e.Description()));
    std::exit(1);
  }
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The submission alone, from already composed bytes: NewMail less composition.
double SubmitMs(std::uint16_t port, const QByteArray &message) {
  const auto start = Clock::now();
  mail::Conversation conversation;
  mail::Submit({QStringLiteral("127.0.0.1"), port, QStringLiteral("bench")},
               {QStringLiteral("bench@example.com"), {QStringLiteral("ann@example.com")}}, message, {},
               conversation);
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

QByteArray ComposedLikeNewMail(const QString &body) {
  mail::MessageFields fields;
  fields.from = {QStringLiteral("Bench"), QStringLiteral("bench@example.com")};
  fields.to = {{QStringLiteral("Ann"), QStringLiteral("ann@example.com")}};
  fields.subject = QStringLiteral("Benchmark");
  fields.body = body;
  fields.date = QDateTime::currentDateTime();
  fields.messageId = mail::NewMessageId(QStringLiteral("bench.example.com"));
  return mail::Compose(fields);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

long StatusKb(const char *field) {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly))
    return -1;
  for (const QByteArray &line : status.readAll().split('\n'))
    if (line.startsWith(field))
      return line.mid(static_cast<qsizetype>(std::strlen(field))).trimmed().split(' ').value(0).toLong();
  return -1;
}

// Resets the peak-RSS mark so that VmHWM shows the peak from now on.
bool ResetPeak() {
  QFile clear(QStringLiteral("/proc/self/clear_refs"));
  return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

QString TenMegabyteBody() {
  const QString line =
      QStringLiteral("The quick brown fox jumps over the lazy dog, 0123456789 times over.\r\n");
  QString body;
  const qsizetype size = 10 * 1024 * 1024;
  body.reserve(size + line.size());
  while (body.size() < size)
    body += line;
  body.truncate(size);
  return body;
}

void Row(const char *what, int runs, double ours, double bare, double goal) {
  std::printf("| %-26s | %4d | %10.2f | %10.2f | %5.2fx | <= %.1fx %-4s |\n", what, runs, ours, bare,
              ours / bare, goal, ours / bare <= goal ? "met" : "MISS");
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PORT [SMALL_RUNS] [LARGE_RUNS]\n", argv[0]);
    return 2;
  }
  const auto port = static_cast<std::uint16_t>(std::atoi(argv[1]));
  const int smallRuns = argc > 2 ? std::atoi(argv[2]) : 200;
  const int largeRuns = argc > 3 ? std::atoi(argv[3]) : 9;

  // Big buffers straight from and back to the system, so that resident size
  // follows what is in use and the peak can be read.
  mallopt(M_MMAP_THRESHOLD, 1024 * 1024);

  // Memory first, before any other large buffer has come and gone.
  const QString largeBody = TenMegabyteBody();
  NewMailMs(port, QStringLiteral("warm-up: GMime and the socket start on first use"));
  const long before = StatusKb("VmRSS:");
  const bool peakReset = ResetPeak();
  NewMailMs(port, largeBody);
  const long peakExtraKb = peakReset ? StatusKb("VmHWM:") - before : -1;
  // For the timings, big buffers come from the heap again, as they do in a
  // running program once glibc has seen one freed: fresh pages for every
  // buffer would time the system's page faults, not the submission.
  mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);

  const QString smallBody = QStringLiteral("A short test message.\r\nSecond line.\r\n");
  const QByteArray smallBytes = ComposedLikeNewMail(smallBody);
  BareDialogueMs(port, smallBytes);
  std::vector<double> ours, bare, submitOnly;
  for (int i = 0; i < smallRuns; ++i) { // interleaved, so drift hits all alike
    ours.push_back(NewMailMs(port, smallBody));
    bare.push_back(BareDialogueMs(port, smallBytes));
    submitOnly.push_back(SubmitMs(port, smallBytes));
  }

  std::vector<double> oursLarge, bareLarge;
  const QByteArray largeBytes = ComposedLikeNewMail(largeBody);
  for (int i = 0; i < largeRuns; ++i) {
    bareLarge.push_back(BareDialogueMs(port, largeBytes));
    oursLarge.push_back(NewMailMs(port, largeBody));
  }

  std::printf("| %-26s | %4s | %10s | %10s | %6s | %-12s |\n", "case", "runs", "NewMail ms", "bare ms",
              "ratio", "goal");
  std::printf("|----------------------------|------|------------|------------|--------|--------------|\n");
  Row("small message (median)", smallRuns, Median(ours), Median(bare), 1.1);
  Row("  of which submission only", smallRuns, Median(submitOnly), Median(bare), 1.1);
  Row("10 MB body (median)", largeRuns, Median(oursLarge), Median(bareLarge), 1.3);
  const double bodyMb = largeBody.size() / (1024.0 * 1024.0);
  const double peakMb = peakExtraKb / 1024.0;
  std::printf("| %-26s | %4d | %7.1f MB | body %4.1f MB | %5.2fx | <= 3.0x %-4s |\n",
              "10 MB body peak memory", 1, peakMb, bodyMb, peakMb / bodyMb,
              peakMb / bodyMb <= 3.0 ? "met" : "MISS");
  return 0;
}
