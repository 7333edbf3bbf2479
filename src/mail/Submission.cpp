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
#include <cstring>

namespace mail {
namespace {

using std::chrono::milliseconds;

// What the libcurl callbacks share with the submission that set them up.
struct Dialogue {
  SmtpTranscript transcript;
  const QByteArray *message = nullptr;
  qsizetype sent = 0;
  QString nonAsciiAddress;     // the first address that needs SMTPUTF8, if any
  bool refusedForUtf8 = false; // we stopped before MAIL FROM for lack of SMTPUTF8
};

int OnDebug(CURL *handle, curl_infotype type, char *data, size_t size, void *user) {
  auto *dialogue = static_cast<Dialogue *>(user);
  const QByteArrayView bytes(data, static_cast<qsizetype>(size));
  if (type == CURLINFO_HEADER_OUT)
    dialogue->transcript.Sent(bytes);
  else if (type == CURLINFO_HEADER_IN)
    dialogue->transcript.Received(bytes);
  const SmtpTranscript &transcript = dialogue->transcript;
  if (transcript.CurrentStep() == Step::EndOfData && transcript.ReplyCode() / 100 == 2) {
    // Accepted: all that is left is QUIT, and its answer changes nothing. A
    // server that never answers it must not hold the caller for a full reply bound.
    curl_easy_setopt(handle, CURLOPT_SERVER_RESPONSE_TIMEOUT, 1L);
  }
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

long WholeSeconds(milliseconds bound) {
  return static_cast<long>(std::max<long long>(1, (bound.count() + 999) / 1000));
}

long Millis(milliseconds bound) { return static_cast<long>(std::max<long long>(1, bound.count())); }

QString ConnectDetail(CURL *easy, const char *curlWords) {
  long osError = 0;
  curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osError);
  if (osError == ECONNREFUSED)
    return QStringLiteral("connection refused (nothing is listening on that port)");
  if (osError != 0)
    return QString::fromLocal8Bit(std::strerror(static_cast<int>(osError)));
  return QString::fromUtf8(curlWords);
}

bool WasConnected(CURL *easy) {
  curl_off_t connectTime = 0;
  curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &connectTime);
  return connectTime > 0;
}

Failure Classify(CURLcode result, CURL *easy, const Dialogue &dialogue, const Endpoint &endpoint,
                 const Timeouts &timeouts, milliseconds elapsed, const char *curlWords) {
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
  const bool notSmtp = !transcript.NotSmtp().isEmpty();
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
    if (notSmtp) {
      f.number = kNotSmtp;
      f.text = transcript.NotSmtp();
      break;
    }
    f.number = kTimedOut;
    if (f.step == Step::Connecting) {
      f.detail = Duration(timeouts.Connect);
      break;
    }
    // libcurl may end the transfer a moment before its whole-transfer bound by
    // our clock; the reply bound, counted in whole seconds, cannot have run
    // out before that many seconds have passed.
    f.detail = elapsed >= timeouts.Total || elapsed < std::chrono::seconds(WholeSeconds(timeouts.Reply))
                   ? QStringLiteral("the %1 allowed for the whole submission").arg(Duration(timeouts.Total))
                   : Duration(timeouts.Reply);
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
    break;
  default:
    f.number = kSubmissionFailed;
    break;
  }
  return f;
}

[[noreturn]] void CannotStart(const QString &why) { Raise(kCannotStart, {}, why); }

} // namespace

QString ThisHostName() {
  const QString name = QSysInfo::machineHostName();
  static const QRegularExpression hostName(QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?$"));
  return hostName.match(name).hasMatch() ? name : QStringLiteral("localhost");
}

void Submit(const Endpoint &endpoint, const Envelope &envelope, const QByteArray &message,
            const Timeouts &timeouts) {
  if (!curl::EnsureStarted())
    CannotStart(QStringLiteral("libcurl could not be initialised"));

  // Declared before the handle: libcurl may still call back (QUIT) while it is released.
  Dialogue dialogue;
  dialogue.message = &message;
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

  const auto started = std::chrono::steady_clock::now();
  const CURLcode result = curl_easy_perform(h);
  if (result == CURLE_OK)
    return;
  const auto elapsed = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - started);
  const char *words = curlWords[0] ? curlWords : curl_easy_strerror(result);
  Raise(Classify(result, h, dialogue, endpoint, timeouts, elapsed, words));
}

} // namespace mail
