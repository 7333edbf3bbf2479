#pragma once

#include <QString>

namespace testsupport {

// A body of at least `size` characters in whole lines, 71 characters and a
// CR LF each, as pasted text would be. Truncate it for an exact size.
inline QString BodyOfSize(qsizetype size) {
  const QString line =
      QStringLiteral("The quick brown fox jumps over the lazy dog, again and again and again.\r\n");
  QString body;
  body.reserve(size + line.size());
  while (body.size() < size)
    body += line;
  return body;
}

} // namespace testsupport
