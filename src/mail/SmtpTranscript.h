#pragma once

#include "mail/MailErrors.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

namespace mail {

// Follows one SMTP dialogue from libcurl's debug stream (our command lines and
// the server's reply lines) so that a failure can say which step it was, what
// we had sent and what the server answered, in full.
class SmtpTranscript {
public:
  void Sent(QByteArrayView commandLines); // libcurl's CURLINFO_HEADER_OUT
  void Received(QByteArrayView bytes);    // libcurl's CURLINFO_HEADER_IN, any split into pieces
  void ContentFinished();                 // the whole message has been handed over

  Step CurrentStep() const { return step_; }
  const QString &Command() const { return command_; }        // as sent, for the current step
  QString Reply() const { return replyLines_.join(u'\n'); }  // the reply (so far) to the current step
  int ReplyCode() const { return replyCode_; }               // of a complete reply to this step, else 0
  const QString &NotSmtp() const { return notSmtp_; }        // a line of this step that is not SMTP
  bool OffersSmtpUtf8() const { return offersSmtpUtf8_; }    // per the last EHLO reply
  bool Quitting() const { return quitting_; }                // QUIT has gone: the dialogue is over
  QString Greeting() const { return greeting_.join(u'\n'); } // the server's greeting, as received

private:
  void Connected(); // the server has spoken: the greeting is under way
  void Begin(Step step, const QString &command);
  void ReplyLine(const QByteArray &line);

  Step step_ = Step::Connecting;
  QString command_;
  QStringList replyLines_;
  qsizetype replySize_ = 0;
  QStringList greeting_;
  int replyCode_ = 0;
  QString notSmtp_;
  bool offersSmtpUtf8_ = false;
  bool quitting_ = false;
  QByteArray partialLine_;
};

} // namespace mail
