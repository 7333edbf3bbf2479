#include "mail/Conversation.h"

#include "mail/MailErrors.h"

namespace mail {
namespace {

// More than any proper dialogue; a server that talks without end must not
// make the details without end.
constexpr qsizetype kLongestText = qsizetype{64} * 1024;

} // namespace

Conversation::Conversation() { clock_.start(); }

void Conversation::Add(const QString &text) {
  // Once past the limit, lines are only counted: a server that talks without
  // end costs no more than that.
  if (leftOutLines_ == 0) {
    const QString line = QStringLiteral("%1 ms  ").arg(clock_.elapsed(), 6) + Visible(text);
    if (kept_ + line.size() + 1 <= kLongestText) {
      lines_ << line;
      kept_ += line.size() + 1;
      return;
    }
  }
  ++leftOutLines_;
  leftOutCharacters_ += text.size() + 1;
}

void Conversation::Sent(const QByteArray &command) {
  Add(QStringLiteral("C: ") + QString::fromUtf8(command));
}

void Conversation::Received(const QByteArray &line) { Add(QStringLiteral("S: ") + QString::fromUtf8(line)); }

void Conversation::Note(const QString &text) { Add(QStringLiteral("   ") + text); }

QString Conversation::Text() const {
  QString text = QStringLiteral("Milliseconds since the submission began, C: what Kestrine sent, "
                                "S: what the server replied.\n") +
                 lines_.join(u'\n');
  if (leftOutLines_ > 0)
    text += QStringLiteral("\n... %1 more lines (about %2 characters) left out: the details keep 64 KB.")
                .arg(leftOutLines_)
                .arg(leftOutCharacters_);
  for (const QString &line : conclusion_.split(u'\n', Qt::SkipEmptyParts))
    text += u'\n' + Visible(line);
  return text;
}

} // namespace mail
