#pragma once

#include <QString>

#include <cstdint>

namespace mail {

// Every failure NewMail raises, by number. An administrator reads these, so each
// description names the server, the step that failed, quotes what the server
// said in full, and says what to check.
//
// | Number   | Meaning                                                               |
// |----------|-----------------------------------------------------------------------|
// | 400-599  | The server refused: the number is its SMTP reply code (421, 450, 451, |
// |          | 452, 550, 552, 553, 554, ...). The description names the step         |
// |          | (greeting, EHLO, MAIL FROM, RCPT TO with the address, DATA, end of    |
// |          | data) and quotes the reply. Only QUIT follows a refusal.              |
// | 1001     | No mail service listening: no address of the host took a connection; |
// |          | each address tried is named with its result.                          |
// | 1002     | The server's host name could not be resolved.                         |
// | 1003     | Timed out, naming the bound that ran out and the step: the connect    |
// |          | bound (the TCP connection alone), the reply bound (each reply, the    |
// |          | greeting, the TLS handshake and the content going out included) or    |
// |          | the whole submission's.                                               |
// | 1004     | The server closed the connection, with the step (and its greeting,   |
// |          | when it closed right after it); when it had answered the step in     |
// |          | full, that step and its reply. A close after the end of data says    |
// |          | the message may have been accepted; one before it, that it was not.  |
// | 1005     | STARTTLS was offered but TLS failed: in the negotiation (every reason |
// |          | the certificate check found), or after it (an alert, bytes that are   |
// |          | not TLS), with the TLS library's words. A close_notify is a 1004.     |
// | 1006     | Invalid address (not one, a control character, over 254 octets, a    |
// |          | domain without a valid ASCII form): the offending text is quoted,     |
// |          | with why. Nothing was sent.                                           |
// | 1007     | No recipient: the To text is empty. Nothing was sent.                 |
// | 1008     | No sender: the From text is empty. Nothing was sent.                  |
// | 1009     | Importance is not 0 (low), 1 (normal) or 2 (high).                    |
// | 1010     | A non-ASCII address, and the server does not offer SMTPUTF8.          |
// | 1011     | The server answered with something that is not a proper SMTP reply:   |
// |          | a line that is not a reply line, a reply that does not belong to the  |
// |          | step (354 to MAIL, 250 to DATA), a reply out of turn (it came before  |
// |          | the command it would answer was sent), or a reply past 64 KB. Quoted, |
// |          | cut, with what is wrong with it. Also anything the server says after  |
// |          | it accepted the message, before QUIT: both are quoted, and the        |
// |          | message may be queued.                                                |
// | 1012     | The mail component could not start: its module could not be opened.  |
// | 1013     | This message object has already delivered its message.                |
// | 1014     | Any other submission failure.                                         |
enum MailError : std::int32_t {
  kNoService = 1001,
  kHostNotFound = 1002,
  kTimedOut = 1003,
  kConnectionLost = 1004,
  kTlsFailure = 1005,
  kInvalidAddress = 1006,
  kNoRecipient = 1007,
  kNoSender = 1008,
  kInvalidImportance = 1009,
  kUtf8NotOffered = 1010,
  kNotSmtp = 1011,
  kCannotStart = 1012,
  kAlreadySent = 1013,
  kSubmissionFailed = 1014,
};

// Where in the SMTP dialogue a failure happened.
enum class Step { Connecting, Greeting, Ehlo, StartTls, MailFrom, RcptTo, Data, MessageContent, EndOfData };

// What is known about one failure; Describe turns it into words.
struct Failure {
  std::int32_t number = kSubmissionFailed;
  QString server; // e.g. "localhost port 25"
  Step step = Step::Connecting;
  QString command; // the command the server was answering, as sent (e.g. "RCPT TO:<bob@example.com>")
  QString reply;   // the server's reply in full, lines joined by "\n"
  QString field;   // "From" or "To", for address failures
  QString text;    // the offending text: an address, a host name, an importance value
  QString
      detail; // why: the system's or the TLS library's words, the reason an address is invalid, a time bound
  QString greeting;      // the server's greeting, when one came
  bool answered = false; // the step had its reply in full: the failure came after it
  QString next;          // for a reply out of turn: what was about to be sent
  QString accepted;      // the reply that had accepted the message, when the server said more after it
};

// Shows control characters as \r, \n, \xNN, and format (direction,
// invisible) characters, the other characters that render as nothing, and
// line or paragraph separators as \u{202E}, so that a quoted text (an
// address, a server's reply) can neither break nor forge a line of the
// description, nor turn or hide the text after it.
QString Visible(const QString &text);

// The one place that makes a description from a failure.
QString Describe(const Failure &failure);

// Raises ErrorRecord(failure.number, Describe(failure)).
[[noreturn]] void Raise(const Failure &failure);

// The same for a failure that needs only its number, the offending text and why.
[[noreturn]] void Raise(std::int32_t number, const QString &text = {}, const QString &detail = {});

// True for numbers that are a server's SMTP reply code.
constexpr bool IsServerRefusal(std::int32_t number) { return number >= 400 && number <= 599; }

} // namespace mail
