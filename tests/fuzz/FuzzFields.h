#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

// Turns fuzz bytes into field texts. Most bytes are one Latin-1 character, so
// that the structure of addresses is easy to reach and seeds stay readable;
// escapes reach every UTF-16 code unit, lone surrogates included, and huge texts:
//
//   0xFF        ends the field
//   0xFE lo hi  one UTF-16 code unit
//   0xFD n      repeats the field so far 2^(n % 24) times, at most 256 Ki units
//   other       that Latin-1 character (controls, CR, LF and NUL included)
inline std::vector<QString> FuzzFields(const std::uint8_t *data, std::size_t size, std::size_t count) {
  constexpr qsizetype kLongest = qsizetype{256} * 1024;
  std::vector<QString> fields(1);
  for (std::size_t i = 0; i < size && fields.size() <= count; ++i) {
    QString &field = fields.back();
    const std::uint8_t byte = data[i];
    if (byte == 0xFF) {
      fields.emplace_back();
    } else if (byte == 0xFE && i + 2 < size) {
      field += QChar(static_cast<char16_t>(data[i + 1] | data[i + 2] << 8));
      i += 2;
    } else if (byte == 0xFD && i + 1 < size) {
      const unsigned times = 1u << (data[++i] % 24);
      if (!field.isEmpty())
        field = field.repeated(static_cast<qsizetype>(std::min<qsizetype>(times, kLongest / field.size())));
    } else {
      field += QChar(static_cast<char16_t>(byte));
    }
  }
  fields.resize(count);
  return fields;
}
