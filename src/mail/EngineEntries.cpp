// The engine's side of the table in Engine.h: each entry point runs engine
// code and turns whatever it throws into a reported outcome, so that nothing
// C++ leaves the module.
#include "base/ErrorRecord.h"
#include "mail/Addresses.h"
#include "mail/Compose.h"
#include "mail/Conversation.h"
#include "mail/Engine.h"
#include "mail/GMimeHandles.h"
#include "mail/MailErrors.h"
#include "mail/Submission.h"

#include <QDateTime>

#include <chrono>
#include <new>

namespace mail {
namespace {

// The caller's text without a copy: a 10 MB body stays where it is.
QString Borrow(const KestrineText &text) {
  return QString::fromRawData(reinterpret_cast<const QChar *>(text.data), static_cast<qsizetype>(text.size));
}

// Runs `work`; a failure goes to `report` as its outcome, number and words.
template <class Work> std::int32_t Guarded(KestrineReport report, void *context, Work work) noexcept {
  const auto tell = [&](KestrineOutcome outcome, std::int32_t number, const QString &text) {
    report(context, outcome, number, reinterpret_cast<const char16_t *>(text.utf16()),
           static_cast<std::size_t>(text.size()));
    return outcome;
  };
  try {
    work();
    return kKestrineOk;
  } catch (const ErrorRecord &failure) {
    return tell(kKestrineErrorRecord, failure.Number(), failure.Description());
  } catch (const std::bad_alloc &) {
    report(context, kKestrineOutOfMemory, 0, nullptr, 0); // no words: making them may need memory
    return kKestrineOutOfMemory;
  } catch (const std::exception &failure) {
    return tell(kKestrineInternalError, 0, QString::fromLocal8Bit(failure.what()));
  } catch (...) {
    return tell(kKestrineInternalError, 0, QStringLiteral("an unknown exception in the mail engine"));
  }
}

std::int32_t Start(KestrineReport report, void *context) {
  return Guarded(report, context, [] { gmime::EnsureStarted(); });
}

// Hands the dialogue over, when one began; a failure to do so loses only the details.
void ReportConversation(const Conversation &conversation, KestrineReport report, void *context) noexcept {
  try {
    if (conversation.Empty())
      return;
    const QString text = conversation.Text();
    report(context, kKestrineConversation, 0, reinterpret_cast<const char16_t *>(text.utf16()),
           static_cast<std::size_t>(text.size()));
  } catch (...) {
  }
}

std::int32_t Send(const KestrineMessage *message, KestrineReport report, void *context) {
  Conversation conversation;
  const std::int32_t outcome = Guarded(report, context, [message, &conversation] {
    MessageFields fields;
    fields.from = ParseSender(Borrow(message->from));
    fields.to = ParseRecipients(Borrow(message->to));
    fields.subject = Borrow(message->subject);
    fields.body = Borrow(message->body);
    fields.importance = message->importance;
    fields.date = QDateTime::currentDateTime();
    const QString host = ThisHostName();
    fields.messageId = NewMessageId(host);

    Envelope envelope{fields.from.address, {}};
    for (const Mailbox &mailbox : fields.to)
      envelope.to.push_back(mailbox.address);

    using std::chrono::milliseconds;
    const Timeouts bounds{milliseconds(message->connectMs), milliseconds(message->replyMs),
                          milliseconds(message->totalMs)};
    Submit({Borrow(message->host), message->port, host}, envelope, Compose(fields), bounds, conversation);
  });
  ReportConversation(conversation, report, context);
  return outcome;
}

constexpr KestrineMailEngine kTable{KESTRINE_MAIL_ENGINE_VERSION, sizeof(KestrineMailEngine), Start, Send};

} // namespace
} // namespace mail

extern "C" __attribute__((visibility("default"))) const KestrineMailEngine *kestrine_mail_engine_v2() {
  return &mail::kTable;
}
