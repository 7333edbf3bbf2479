#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>

namespace mail {

// The SMTP dialogue as it happens, for the administrator to read behind the
// box: one line per command and per reply line, each with the milliseconds
// since the submission began, and notes on the connection (the address, TLS).
// Kept within 64 KB: the first lines and the last ones; what goes between is
// counted, not kept.
class Conversation {
public:
  Conversation();

  void Sent(const QByteArray &command);  // "C: ..."
  void Received(const QByteArray &line); // "S: ..."
  void Note(const QString &text);        // what happened on the connection
  // The line that ends the text, after everything else: the final reply.
  void Conclude(const QString &text) { conclusion_ = text; }

  bool Empty() const { return lines_.isEmpty() && tail_.isEmpty(); }

  // The whole text, control, direction and invisible characters escaped.
  QString Text() const;

private:
  void Add(const QString &text);

  QElapsedTimer clock_;
  QStringList lines_;
  qsizetype kept_ = 0;
  QStringList tail_;
  qsizetype tailKept_ = 0;
  qsizetype leftOutLines_ = 0;
  qsizetype leftOutCharacters_ = 0;
  QString conclusion_;
};

} // namespace mail
