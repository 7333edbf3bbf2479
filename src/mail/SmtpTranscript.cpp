#include "mail/SmtpTranscript.h"

#include <cctype>

namespace mail {
namespace {

// What is kept of one reply; a peer that sends without end must not make us
// hold without end. Far more than an administrator reads.
constexpr qsizetype kReplyKept = qsizetype{64} * 1024;

bool IsReplyLine(const QByteArray &line) {
  if (line.size() < 3 || !std::isdigit(static_cast<unsigned char>(line[0])) ||
      !std::isdigit(static_cast<unsigned char>(line[1])) ||
      !std::isdigit(static_cast<unsigned char>(line[2])))
    return false;
  return line.size() == 3 || line[3] == ' ' || line[3] == '-';
}

Step StepOf(const QByteArray &verb) {
  if (verb == "EHLO" || verb == "HELO")
    return Step::Ehlo;
  if (verb == "STARTTLS")
    return Step::StartTls;
  if (verb == "MAIL")
    return Step::MailFrom;
  if (verb == "RCPT")
    return Step::RcptTo;
  return Step::Data;
}

} // namespace

void SmtpTranscript::Connected() {
  if (step_ == Step::Connecting)
    step_ = Step::Greeting;
}

void SmtpTranscript::Begin(Step step, const QString &command) {
  step_ = step;
  command_ = command;
  replyLines_.clear();
  replySize_ = 0;
  replyCode_ = 0;
  notSmtp_.clear();
}

void SmtpTranscript::Sent(QByteArrayView commandLines) {
  for (const QByteArray &line : commandLines.toByteArray().split('\n')) {
    const QByteArray command = line.trimmed();
    if (command.isEmpty())
      continue;
    const QByteArray verb = command.split(' ').value(0).toUpper();
    // After QUIT only the farewell follows; the step that failed stays the one to report.
    if (verb == "QUIT")
      quitting_ = true;
    if (quitting_)
      continue;
    if (verb == "EHLO" || verb == "HELO")
      offersSmtpUtf8_ = false;
    Begin(StepOf(verb), QString::fromUtf8(command));
  }
}

void SmtpTranscript::Received(QByteArrayView bytes) {
  if (quitting_)
    return;
  Connected();
  partialLine_ += bytes;
  qsizetype end;
  while ((end = partialLine_.indexOf('\n')) >= 0) {
    QByteArray line = partialLine_.left(end);
    partialLine_.remove(0, end + 1);
    if (line.endsWith('\r'))
      line.chop(1);
    ReplyLine(line);
  }
  if (partialLine_.size() > kReplyKept)
    partialLine_.truncate(kReplyKept);
}

void SmtpTranscript::ReplyLine(const QByteArray &line) {
  if (!IsReplyLine(line)) {
    if (notSmtp_.isEmpty())
      notSmtp_ = QString::fromUtf8(line.left(kReplyKept));
    return;
  }
  if (replyCode_ != 0 || step_ == Step::MessageContent) {
    // A reply after a complete one: the server speaks again unasked (after the
    // content, that is the reply to the end of data).
    Begin(step_ == Step::MessageContent ? Step::EndOfData : step_, command_);
  }
  if (replySize_ < kReplyKept) {
    replyLines_ << QString::fromUtf8(line.left(kReplyKept - replySize_));
    replySize_ += line.size();
    if (step_ == Step::Greeting)
      greeting_ << replyLines_.last();
  }
  if (step_ == Step::Ehlo && line.mid(4).trimmed().toUpper().split(' ').value(0) == "SMTPUTF8")
    offersSmtpUtf8_ = true;
  if (line.size() == 3 || line[3] == ' ') {
    replyCode_ = line.left(3).toInt();
    if (step_ == Step::Data && replyCode_ == 354)
      Begin(Step::MessageContent, QString());
  }
}

void SmtpTranscript::ContentFinished() {
  if (step_ == Step::MessageContent)
    Begin(Step::EndOfData, QString());
}

} // namespace mail
