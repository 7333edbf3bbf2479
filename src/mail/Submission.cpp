#include "mail/Submission.h"

#include "mail/Addresses.h"
#include "mail/CurlHandles.h"
#include "mail/MailErrors.h"
#include "mail/SmtpTranscript.h"

#include <QRegularExpression>
#include <QSysInfo>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

namespace mail {
namespace {

using std::chrono::milliseconds;

using Clock = std::chrono::steady_clock;

// What is left of the dialogue after a failure or after the message was
// accepted: QUIT, whose answer changes nothing. A server that ignores it must
// not hold the caller past this.
constexpr long kQuitBoundSeconds = 1;

// What the libcurl callbacks share with the submission that set them up.
struct Dialogue {
  SmtpTranscript transcript;
  const QByteArray *message = nullptr;
  const Timeouts *bounds = nullptr;
  CURL *handle = nullptr;
  Clock::time_point started;
  qsizetype sent = 0;
  QString nonAsciiAddress;                     // the first address that needs SMTPUTF8, if any
  bool refusedForUtf8 = false;                 // we stopped before MAIL FROM for lack of SMTPUTF8
  bool connected = false;                      // the TCP connection stands
  std::optional<Clock::time_point> tlsStarted; // the server said 220 to STARTTLS
};

long WholeSeconds(milliseconds bound) {
  return static_cast<long>(std::max<long long>(1, (bound.count() + 999) / 1000));
}

long Millis(milliseconds bound) { return static_cast<long>(std::max<long long>(1, bound.count())); }

// libcurl counts its connect bound up to the end of EHLO (and STARTTLS); ours
// is the TCP connection alone. Once it stands, libcurl's is lifted to the
// whole bound, and the greeting and every reply after it get the reply bound.
// This and OnDebug change CURLOPT_CONNECTTIMEOUT_MS and
// CURLOPT_SERVER_RESPONSE_TIMEOUT while the transfer runs. libcurl 7.88 reads
// both afresh at every wait, but does not document that it does: the bounds
// rely on it, and FailuresTest::eachBoundCoversItsOwnWait (mail_failures)
// checks it, so run it on a libcurl upgrade.
void NoteConnected(Dialogue &dialogue, bool heardFromServer = false) {
  if (dialogue.connected)
    return;
  curl_off_t connectTime = 0;
  curl_easy_getinfo(dialogue.handle, CURLINFO_CONNECT_TIME_T, &connectTime);
  if (connectTime <= 0 && !heardFromServer)
    return;
  dialogue.connected = true;
  curl_easy_setopt(dialogue.handle, CURLOPT_CONNECTTIMEOUT_MS, Millis(dialogue.bounds->Total));
}

int OnDebug(CURL *, curl_infotype type, char *data, size_t size, void *user) {
  auto *dialogue = static_cast<Dialogue *>(user);
  const QByteArrayView bytes(data, static_cast<qsizetype>(size));
  SmtpTranscript &transcript = dialogue->transcript;
  if (type == CURLINFO_HEADER_OUT) {
    transcript.Sent(bytes);
    dialogue->tlsStarted.reset();
    if (transcript.Quitting())
      curl_easy_setopt(dialogue->handle, CURLOPT_SERVER_RESPONSE_TIMEOUT, kQuitBoundSeconds);
  } else if (type == CURLINFO_HEADER_IN) {
    NoteConnected(*dialogue, true);
    transcript.Received(bytes);
    if (transcript.CurrentStep() == Step::StartTls && transcript.ReplyCode() == 220)
      dialogue->tlsStarted = Clock::now();
  }
  return 0;
}

// Called by libcurl at least once a second while it works: lifts the connect
// bound once connected, and bounds the TLS handshake after STARTTLS, which
// libcurl itself bounds only by its connect bound.
int OnProgress(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto *dialogue = static_cast<Dialogue *>(user);
  NoteConnected(*dialogue);
  if (dialogue->tlsStarted &&
      Clock::now() - *dialogue->tlsStarted >= std::chrono::seconds(WholeSeconds(dialogue->bounds->Reply)))
    return 1;
  return 0;
}

size_t OnRead(char *buffer, size_t size, size_t count, void *user) {
  auto *dialogue = static_cast<Dialogue *>(user);
  const qsizetype left = dialogue->message->size() - dialogue->sent;
  const qsizetype chunk = std::min<qsizetype>(left, static_cast<qsizetype>(size * count));
  std::memcpy(buffer, dialogue->message->constData() + dialogue->sent, static_cast<size_t>(chunk));
  dialogue->sent += chunk;
  // libcurl knows the size and stops asking once it has it all.
  if (dialogue->sent == dialogue->message->size())
    dialogue->transcript.ContentFinished();
  return static_cast<size_t>(chunk);
}

// Runs once EHLO (and STARTTLS) are done, before MAIL FROM: the last moment to
// keep a non-ASCII address off a server that could not take it.
int OnBeforeRequest(void *user, char *, char *, int, int) {
  auto *dialogue = static_cast<Dialogue *>(user);
  if (dialogue->nonAsciiAddress.isEmpty() || dialogue->transcript.OffersSmtpUtf8())
    return CURL_PREREQFUNC_OK;
  dialogue->refusedForUtf8 = true;
  return CURL_PREREQFUNC_ABORT;
}

bool IsLoopback(const QString &host) {
  return host == u"localhost" || host.endsWith(u".localhost") || host.startsWith(u"127.") || host == u"::1";
}

QString ServerName(const Endpoint &endpoint) {
  return QStringLiteral("%1 port %2").arg(endpoint.host).arg(endpoint.port);
}

QByteArray Url(const Endpoint &endpoint) {
  const QString host = endpoint.host.contains(u':') ? u'[' + endpoint.host + u']' : endpoint.host;
  // libcurl takes the EHLO name from the path of the URL.
  return "smtp://" + QUrl::toPercentEncoding(host, "[]:") + ':' + QByteArray::number(endpoint.port) + '/' +
         QUrl::toPercentEncoding(endpoint.ehloName);
}

QString Duration(milliseconds bound) {
  if (bound.count() % 1000 == 0)
    return QStringLiteral("%1 s").arg(bound.count() / 1000);
  return QStringLiteral("%1 ms").arg(bound.count());
}

QString ConnectDetail(CURL *easy, const char *curlWords) {
  long osError = 0;
  curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osError);
  if (osError == ECONNREFUSED)
    return QStringLiteral("connection refused (nothing is listening on that port)");
  if (osError != 0)
    return QString::fromLocal8Bit(std::strerror(static_cast<int>(osError)));
  return QString::fromUtf8(curlWords);
}

// libcurl takes at most 300 KiB of replies in one transfer (7.88) and then
// gives up with a receive error, as if the connection had failed. Far more
// than any SMTP dialogue sends: a peer that sends without end.
bool RepliesWithoutEnd(CURL *easy) {
  constexpr long kMoreThanAnyDialogue = 256L * 1024;
  long received = 0;
  curl_easy_getinfo(easy, CURLINFO_HEADER_SIZE, &received);
  return received > kMoreThanAnyDialogue;
}

// The connection was reset or already closed when libcurl last wrote to it or
// read from it (its QUIT after a failure included): the server went away,
// whatever it had said before. Which of the two it was, the last error no
// longer tells.
bool ConnectionGone(CURL *easy) {
  long osError = 0;
  curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osError);
  return osError == ECONNRESET || osError == EPIPE;
}

// Whether `code` is a reply libcurl goes on from at `step`. A command that
// fails to go out leaves the transcript at the step before it, with that
// step's good reply: that reply is not what broke the dialogue.
bool FitsStep(Step step, int code) {
  switch (step) {
  case Step::Greeting:
  case Step::StartTls:
    return code == 220;
  case Step::Data:
    return code == 354;
  case Step::Ehlo:
  case Step::MailFrom:
  case Step::RcptTo:
  case Step::EndOfData:
    return code / 100 == 2;
  default:
    return false;
  }
}

bool WasConnected(CURL *easy) {
  curl_off_t connectTime = 0;
  curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &connectTime);
  return connectTime > 0;
}

// Which of the bounds ran out: the whole submission's when its time is up
// (libcurl ends the transfer at it, never before), else the step's own, the
// connect bound before the TCP connection stood, the reply bound after.
QString BoundThatFired(const Dialogue &dialogue, Step &step) {
  const Timeouts &bounds = *dialogue.bounds;
  if (Clock::now() - dialogue.started >= bounds.Total - milliseconds(20))
    return QStringLiteral("the %1 allowed for the whole submission").arg(Duration(bounds.Total));
  if (!dialogue.connected) {
    step = Step::Connecting;
    return Duration(bounds.Connect);
  }
  return Duration(std::chrono::seconds(WholeSeconds(bounds.Reply)));
}

Failure Classify(CURLcode result, CURL *easy, const Dialogue &dialogue, const Endpoint &endpoint,
                 const char *curlWords) {
  const SmtpTranscript &transcript = dialogue.transcript;
  Failure f;
  f.server = ServerName(endpoint);
  f.step = transcript.CurrentStep();
  if (f.step == Step::Connecting && WasConnected(easy))
    f.step = Step::Greeting;
  f.command = transcript.Command();
  f.reply = transcript.Reply();
  f.detail = QString::fromUtf8(curlWords);

  if (dialogue.refusedForUtf8) {
    f.number = kUtf8NotOffered;
    f.text = dialogue.nonAsciiAddress;
    return f;
  }
  if (IsServerRefusal(transcript.ReplyCode())) {
    f.number = transcript.ReplyCode();
    return f;
  }
  f.greeting = transcript.Greeting();
  const bool notSmtp = !transcript.NotSmtp().isEmpty();
  // libcurl gave up on what the server said, though the connection stood: a
  // complete reply it could not take at this step (354 to MAIL, 250 to DATA),
  // or a reply that never ends. A reply that fits its step, or a connection
  // that went away, is no fault of the reply: that is a lost connection.
  const bool brokenReply = result == CURLE_SEND_ERROR || result == CURLE_RECV_ERROR ||
                           result == CURLE_WEIRD_SERVER_REPLY || result == CURLE_GOT_NOTHING;
  const int code = transcript.ReplyCode();
  const bool outOfSequence = code != 0 && !FitsStep(f.step, code) && !ConnectionGone(easy);
  if (brokenReply && !notSmtp && (outOfSequence || RepliesWithoutEnd(easy))) {
    f.number = kNotSmtp;
    f.text = f.reply;
    return f;
  }
  switch (result) {
  case CURLE_COULDNT_RESOLVE_HOST:
    f.number = kHostNotFound;
    f.text = endpoint.host;
    break;
  case CURLE_COULDNT_CONNECT:
    f.number = kNoService;
    f.detail = ConnectDetail(easy, curlWords);
    break;
  case CURLE_OPERATION_TIMEDOUT:
  case CURLE_ABORTED_BY_CALLBACK:
    if (notSmtp) {
      f.number = kNotSmtp;
      f.text = transcript.NotSmtp();
      break;
    }
    f.number = kTimedOut;
    f.detail = BoundThatFired(dialogue, f.step);
    break;
  case CURLE_SSL_CONNECT_ERROR:
  case CURLE_USE_SSL_FAILED:
  case CURLE_PEER_FAILED_VERIFICATION:
  case CURLE_SSL_CERTPROBLEM:
  case CURLE_SSL_CIPHER:
  case CURLE_SSL_CACERT_BADFILE:
  case CURLE_SSL_ISSUER_ERROR:
    f.number = kTlsFailure;
    break;
  case CURLE_WEIRD_SERVER_REPLY:
    f.number = notSmtp ? kNotSmtp : kSubmissionFailed;
    f.text = notSmtp ? transcript.NotSmtp() : f.reply;
    break;
  case CURLE_SEND_ERROR:
  case CURLE_RECV_ERROR:
  case CURLE_GOT_NOTHING:
  case CURLE_PARTIAL_FILE:
    f.number = notSmtp ? kNotSmtp : kConnectionLost;
    f.text = transcript.NotSmtp();
    // The step had its good reply: the server went away before the next
    // command, which libcurl could not send, reached it.
    f.answered = FitsStep(f.step, code);
    break;
  default:
    f.number = kSubmissionFailed;
    break;
  }
  return f;
}

[[noreturn]] void CannotStart(const QString &why) { Raise(kCannotStart, {}, why); }

} // namespace

QString ValidHostNameOrLocalhost(const QString &name) {
  // A DNS name: labels of 1 to 63 letters, digits and hyphens, none at either
  // end of a label, 253 octets in all.
  static const QRegularExpression label(QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?$"));
  const QStringList labels = name.split(u'.');
  const bool valid = !name.isEmpty() && name.size() <= 253 &&
                     std::all_of(labels.begin(), labels.end(),
                                 [](const QString &part) { return label.match(part).hasMatch(); });
  return valid ? name : QStringLiteral("localhost");
}

QString ThisHostName() { return ValidHostNameOrLocalhost(QSysInfo::machineHostName()); }

void Submit(const Endpoint &endpoint, const Envelope &envelope, const QByteArray &message,
            const Timeouts &timeouts) {
  if (!curl::EnsureStarted())
    CannotStart(QStringLiteral("libcurl could not be initialised"));

  // Declared before the handle: libcurl may still call back (QUIT) while it is released.
  Dialogue dialogue;
  dialogue.message = &message;
  dialogue.bounds = &timeouts;
  std::vector<QString> addresses{envelope.from};
  addresses.insert(addresses.end(), envelope.to.begin(), envelope.to.end());
  // libcurl and GMime send a non-ASCII domain in its ASCII (IDNA) form; only a
  // non-ASCII local part needs the server's SMTPUTF8.
  const auto needsUtf8 = [](const QString &address) {
    return !IsAscii(address.left(address.lastIndexOf(u'@')));
  };
  if (const auto it = std::find_if(addresses.begin(), addresses.end(), needsUtf8); it != addresses.end())
    dialogue.nonAsciiAddress = *it;

  curl::Slist recipients;
  for (const QString &address : envelope.to)
    if (!curl::Append(recipients, ('<' + address.toUtf8() + '>').constData()))
      CannotStart(QStringLiteral("out of memory"));
  const QByteArray from = '<' + envelope.from.toUtf8() + '>';
  const QByteArray url = Url(endpoint);
  char curlWords[CURL_ERROR_SIZE] = {};

  curl::Easy easy(curl_easy_init());
  if (!easy)
    CannotStart(QStringLiteral("libcurl could not create a transfer"));
  CURL *h = easy.get();
  dialogue.handle = h;
  curl_easy_setopt(h, CURLOPT_URL, url.constData());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "smtp");
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  // Close (QUIT) within this call, under this handle's bounds, not later
  // when the handle is released under libcurl's internal ones.
  curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, curlWords);
  curl_easy_setopt(h, CURLOPT_MAIL_FROM, from.constData());
  curl_easy_setopt(h, CURLOPT_MAIL_RCPT, recipients.get());
  curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(message.size()));
  curl_easy_setopt(h, CURLOPT_READFUNCTION, OnRead);
  curl_easy_setopt(h, CURLOPT_READDATA, &dialogue);
  curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, OnDebug);
  curl_easy_setopt(h, CURLOPT_DEBUGDATA, &dialogue);
  curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, OnBeforeRequest);
  curl_easy_setopt(h, CURLOPT_PREREQDATA, &dialogue);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &dialogue);
  // A local service usually has a self-signed certificate: on loopback,
  // encryption without verification is better than none; elsewhere, verify.
  curl_easy_setopt(h, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY));
  if (IsLoopback(endpoint.host)) {
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
  }
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, Millis(timeouts.Connect));
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, Millis(timeouts.Total));
  curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, WholeSeconds(timeouts.Reply));
  // While the content goes out no reply is awaited; a server that stops
  // reading is caught by this instead.
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, WholeSeconds(timeouts.Reply));

  dialogue.started = Clock::now();
  const CURLcode result = curl_easy_perform(h);
  if (result == CURLE_OK)
    return;
  const char *words = curlWords[0] ? curlWords : curl_easy_strerror(result);
  Raise(Classify(result, h, dialogue, endpoint, words));
}

} // namespace mail
