#include "mail/Conversation.h"

#include "mail/MailErrors.h"

#include <algorithm>

namespace mail {
namespace {

// More than any proper dialogue; a server that talks without end must not
// make the details without end. Everything shown, the closing lines included,
// stays within it.
constexpr qsizetype kLongestText = qsizetype{64} * 1024;
// The first lines kept, then the last ones, and room for the note of what was
// left out between them and for the conclusion.
constexpr qsizetype kLongestTail = qsizetype{16} * 1024;
constexpr qsizetype kLongestHead = kLongestText - kLongestTail - qsizetype{4} * 1024;
// One line longer than this (a 1 MB greeting) is shown cut, not left out.
constexpr qsizetype kLongestLine = qsizetype{4} * 1024;

// `text` escaped, in at most `most` characters: what does not fit is cut,
// and the cut says how long the text was.
QString Shown(const QString &text, qsizetype most) {
  QString shown = Visible(text.left(most));
  if (shown.size() <= most && text.size() <= most)
    return shown;
  const QString note = QStringLiteral("... (cut: %1 characters in all)").arg(text.size());
  qsizetype keep = std::max<qsizetype>(0, most - note.size());
  keep -= keep > 0 && shown[keep - 1].isHighSurrogate();
  return shown.left(keep) + note;
}

} // namespace

Conversation::Conversation() { clock_.start(); }

void Conversation::Add(const QString &text) {
  const QString line = QStringLiteral("%1 ms  ").arg(clock_.elapsed(), 6) + Shown(text, kLongestLine);
  if (tail_.isEmpty() && leftOutLines_ == 0 && kept_ + line.size() + 1 <= kLongestHead) {
    lines_ << line;
    kept_ += line.size() + 1;
    return;
  }
  // Past the head, the latest lines are kept, where a failure shows; those
  // between are only counted: a server that talks without end costs no more.
  tail_ << line;
  tailKept_ += line.size() + 1;
  while (tailKept_ > kLongestTail) {
    tailKept_ -= tail_.first().size() + 1;
    leftOutCharacters_ += tail_.first().size() + 1;
    ++leftOutLines_;
    tail_.removeFirst();
  }
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
  if (!tail_.isEmpty())
    text += u'\n' + tail_.join(u'\n');
  // The conclusion quotes the final reply on one line, cut to what is left.
  if (!conclusion_.isEmpty())
    text += u'\n' + Shown(conclusion_, kLongestText - text.size() - 1);
  return text;
}

} // namespace mail
