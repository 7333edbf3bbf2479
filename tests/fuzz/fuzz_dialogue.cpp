// The fuzz input plays the SMTP server against the real dialogue, over a
// loopback connection, with bounds of some milliseconds. Whatever it sends,
// the submission says OK only after a proper 2xx to the end of data with
// nothing after it, its description stays one line that no server text can
// break, its details stay within their bound and show no invisible
// character raw, and it ends within its bounds.
//
// The input is what the server sends, in segments split at 0xFF: the first is
// the greeting, each next one answers the next line the client sends (all the
// content up to the lone dot counts as one). A segment that is 0xFD alone
// closes the connection; the end of the input closes it too.
#include "base/ErrorRecord.h"
#include "mail/Submission.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

using std::chrono::milliseconds;

const mail::Timeouts kBounds{milliseconds(200), milliseconds(40), milliseconds(400)};
constexpr qint64 kQuitBoundMs = 1000;

[[noreturn]] void Broken(const char *what, const QString &text) {
  std::fprintf(stderr, "property broken: %s\n%s\n", what, qPrintable(text.left(3000)));
  std::abort();
}

// What the server saw: each line the client sent, with the segment it got.
struct Exchange {
  QByteArray line;
  QByteArray answer;
};

class ScriptedServer {
public:
  ScriptedServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr *>(&address), size) != 0 || ::listen(listener_, 4) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &size) != 0)
      Broken("the scripted server cannot listen", {});
    port_ = ntohs(address.sin_port);
  }
  std::uint16_t Port() const { return port_; }

  // Serves one connection with `segments`; returns what was exchanged.
  std::vector<Exchange> Serve(const QByteArrayList &segments) {
    std::vector<Exchange> exchanges;
    const int connection = ::accept(listener_, nullptr, nullptr);
    if (connection < 0)
      return exchanges;
    const timeval wait{0, 30 * 1000}; // a client that sends no line end (TLS) is not waited for
    ::setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    QByteArray pending;
    bool content = false;
    bool open = true;
    for (qsizetype next = 0; open && next < segments.size() && segments[next] != "\xFD"; ++next) {
      Exchange exchange;
      if (next > 0)
        exchange.line = ReadLine(connection, pending, content, open);
      exchange.answer = segments[next];
      ::send(connection, exchange.answer.constData(), exchange.answer.size(), MSG_NOSIGNAL);
      content = exchange.line == "DATA" && exchange.answer.startsWith("354");
      exchanges.push_back(exchange);
    }
    ::close(connection);
    return exchanges;
  }

private:
  // The next line, or all the content up to the lone dot (then "."); what
  // came when nothing more comes in time, or the client has gone (`open`).
  static QByteArray ReadLine(int connection, QByteArray &pending, bool content, bool &open) {
    for (;;) {
      const qsizetype end = content ? pending.indexOf("\r\n.\r\n") : pending.indexOf('\n');
      if (end >= 0) {
        const QByteArray line = content ? QByteArray(".") : pending.left(end).trimmed();
        pending.remove(0, end + (content ? 5 : 1));
        return line;
      }
      char buffer[65536];
      const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
      if (got <= 0) {
        open = got < 0;
        const QByteArray line = pending;
        pending.clear();
        return line;
      }
      pending.append(buffer, got);
    }
  }

  int listener_ = -1;
  std::uint16_t port_ = 0;
};

// One whole final 2xx reply and nothing after it.
bool ProperAcceptance(const QByteArray &answer) {
  if (!answer.endsWith('\n'))
    return false;
  const QByteArrayList lines = answer.left(answer.size() - 1).split('\n');
  for (qsizetype i = 0; i < lines.size(); ++i) {
    QByteArray line = lines[i];
    if (line.endsWith('\r'))
      line.chop(1);
    const bool last = i + 1 == lines.size();
    if (line.size() < 3 || line[0] != '2' || line[1] < '0' || line[1] > '5' || line[2] < '0' ||
        line[2] > '9' || line.left(3) != lines[0].left(3) ||
        (line.size() > 3 && line[3] != (last ? ' ' : '-')) || (!last && line.size() == 3))
      return false;
  }
  return true;
}

// Characters that must never reach the box raw: controls (bar the details'
// own line breaks), format characters, separators, lone surrogates and the
// others that render as nothing.
bool Invisible(char32_t c) {
  const auto category = QChar::category(c);
  return category == QChar::Other_Control || category == QChar::Other_Format ||
         category == QChar::Other_Surrogate || category == QChar::Separator_Line ||
         category == QChar::Separator_Paragraph || c == 0x034F || c == 0x115F || c == 0x1160 || c == 0x3164 ||
         c == 0xFFA0 || (c >= 0x180B && c <= 0x180F) || (c >= 0xFE00 && c <= 0xFE0F) ||
         (c >= 0xE0100 && c <= 0xE01EF);
}

void CheckShown(const QString &text, bool lines, const char *what) {
  for (const char32_t c : text.toUcs4())
    if (Invisible(c) && !(lines && c == u'\n'))
      Broken(what, text);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  static QCoreApplication application(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static ScriptedServer server;
  const QByteArrayList segments =
      QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size))
          .split('\xFF');
  std::vector<Exchange> exchanges;
  std::thread serving([&] { exchanges = server.Serve(segments); });

  mail::Conversation conversation;
  QElapsedTimer clock;
  clock.start();
  std::optional<ErrorRecord> failure;
  try {
    mail::Submit({QStringLiteral("127.0.0.1"), server.Port(), QStringLiteral("fuzz.example")},
                 {QStringLiteral("a@example.com"), {QStringLiteral("b@example.com")}},
                 "Subject: fuzz\r\n\r\nbody\r\n", kBounds, conversation);
  } catch (const ErrorRecord &error) {
    failure = error;
  }
  const qint64 took = clock.elapsed();
  serving.join();

  const QString details = conversation.Text();
  if (took > kBounds.Total.count() + kQuitBoundMs + 1500)
    Broken("the submission outlived its bounds", details);
  if (details.size() > 64 * 1024)
    Broken("details past their bound", details.right(2000));
  CheckShown(details, true, "an invisible character raw in the details");
  if (failure) {
    const QString &description = failure->Description();
    if (description.contains(u'\n') || description.contains(u'\r'))
      Broken("a line break in the description", description);
    CheckShown(description, false, "an invisible character raw in the description");
    return 0;
  }
  // Said OK: the server greeted, answered DATA with 354 and the end of data
  // with one proper 2xx, and said nothing more before QUIT.
  const auto answered = [&](const QByteArray &line) {
    for (const Exchange &exchange : exchanges)
      if (exchange.line == line)
        return exchange.answer;
    return QByteArray();
  };
  if (exchanges.empty() || !exchanges.front().answer.startsWith("220"))
    Broken("OK without a greeting", details);
  if (!answered("DATA").startsWith("354"))
    Broken("OK without a 354 to DATA", details);
  if (!ProperAcceptance(answered(".")))
    Broken("OK without one proper 2xx to the end of data, and nothing after it", details);
  return 0;
}
