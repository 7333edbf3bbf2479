#pragma once

#include "mail/Conversation.h"
#include "mail/MailErrors.h"
#include "mail/Settings.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTcpSocket>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

namespace mail {

// One reply: its code and its lines as received, without line ends.
struct SmtpReply {
  int code = 0;
  QList<QByteArray> lines;

  // The lines joined by "\n", as a description quotes them.
  QString Text() const;
  // The capability lines of an EHLO reply name `keyword` (any case).
  bool Offers(const QByteArray &keyword) const;
};

// One SMTP connection, strictly in turn: a command is written only when
// nothing unread is waiting, and each reply is read whole before the next
// command. Synchronous: every wait blocks the calling thread, and every wait is
// bounded: the connect bound for each address tried, the reply bound for each
// reply (a TLS handshake included) and for the content going out, the whole
// submission's for all of it. Every failure raises ErrorRecord as
// base/ErrorNumbers.h lists, naming the step.
class SmtpSession {
public:
  SmtpSession(const QString &host, std::uint16_t port, const Timeouts &bounds, Conversation &conversation);
  SmtpSession(const SmtpSession &) = delete;
  SmtpSession &operator=(const SmtpSession &) = delete;

  // Connects to the first address of the host that accepts, each tried in turn.
  void Connect();
  // Reads the greeting.
  SmtpReply Greeting();
  // Writes `command` as the step `step` and reads its reply.
  SmtpReply Command(Step step, const QByteArray &command);
  // After a 220 to STARTTLS: the TLS handshake, verified unless the server
  // is this machine.
  void StartTls();
  // After a 354 to DATA: the message (CR LF line ends), dot-stuffed, then the
  // end of data; returns its reply.
  SmtpReply Content(const QByteArray &message);
  // After the server accepted the message with `reply`: raises 1011 when it
  // has said anything more.
  void Accepted(const SmtpReply &reply);
  // The farewell, given at most a second; none while the server reads the
  // content, nor when it has said something unasked. Never raises.
  void Quit() noexcept;

  // Raises the failure for `reply`, which does not fit the current step: the
  // server's refusal (4xx, 5xx) or, for any other code, a reply out of sequence.
  [[noreturn]] void Unexpected(const SmtpReply &reply);
  // Raises `number` for the current step with `text` and `detail`.
  [[noreturn]] void Fail(std::int32_t number, const QString &text = {}, const QString &detail = {});

  // Whether the connection still stands (a QUIT may follow a failure).
  bool Connected() const { return socket_->state() == QAbstractSocket::ConnectedState; }

private:
  using Clock = std::chrono::steady_clock;
  struct Deadline {
    Clock::time_point at;
    std::chrono::milliseconds bound; // the bound that ends it
    bool whole;                      // that is the whole submission's
  };

  Deadline Within(std::chrono::milliseconds bound) const;
  int MillisecondsLeft(const Deadline &deadline);
  [[noreturn]] void TimedOut(const Deadline &deadline);
  [[noreturn]] void ConnectionLost();
  void Begin(Step step, const QString &command);
  // Writes `size` octets and waits until the socket holds no more than `keep`
  // unsent.
  void Write(const char *data, qsizetype size, qsizetype keep);
  void Receive(const Deadline &deadline);
  // Raises 1011 when the server has said anything that was not asked for:
  // `next` is what was about to go out.
  void CheckNothingUnread(const QString &next);
  SmtpReply ReadReply();
  // Takes in everything unread as lines received, for the details; returns them.
  QList<QByteArray> TakeRest();
  // After STARTTLS: a TLS failure ends the connection at once, and is told.
  void WatchTls();
  void NoteCertificate();
  // The next whole line received, without its line end (CR LF or LF alone);
  // adds the octets it took, line end included, to `octets`.
  bool TakeLine(QByteArray &line, qsizetype *octets = nullptr);
  void Compact(); // drops the lines taken
  void Drain();   // takes in whatever has arrived, also after a close
  void TakeIn();  // moves what the socket holds into unread_, within the read bound
  void TakeInAsItArrives();
  qsizetype Unsent() const;

  QString host_;
  std::uint16_t port_;
  Timeouts bounds_;
  Conversation &conversation_;
  Clock::time_point started_;
  std::unique_ptr<QTcpSocket> socket_; // a QSslSocket once STARTTLS begins
  QByteArray unread_;                  // received; from taken_ on, not yet taken as a reply line
  qsizetype taken_ = 0;
  bool closed_ = false;
  Failure failure_;                // what a failure now would report
  std::optional<Failure> refusal_; // the last command's reply, when it was a refusal
  QString tlsError_;               // what broke the TLS connection after its negotiation
  bool tlsClosed_ = false;         // the server ended TLS (close_notify)
  bool saidMore_ = false;          // the server said something that answered no command
};

} // namespace mail
