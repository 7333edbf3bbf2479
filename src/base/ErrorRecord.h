#pragma once

#include <QString>

#include <cstdint>
#include <exception>
#include <string>

// A failure: a number, a description and, where the operation has more to
// say (the SMTP dialogue that led to it), details. The operation that fails
// throws it; the handler of the procedure that expects failures catches it
// and, while it handles it, makes it the current error (see HandlingError).
class ErrorRecord : public std::exception {
public:
  ErrorRecord(std::int32_t number, QString description, QString details = {});

  std::int32_t Number() const noexcept { return number_; }
  const QString &Description() const noexcept { return description_; }
  // Empty when the failure carries none. Not part of what().
  const QString &Details() const noexcept { return details_; }
  const char *what() const noexcept override { return what_.c_str(); }

private:
  std::int32_t number_;
  QString description_;
  QString details_;
  std::string what_;
};

// Throws the failure numbered `number` with `description` and `details`.
[[noreturn]] void RaiseError(std::int32_t number, const QString &description, const QString &details = {});

// The one current error. A handler declares a HandlingError for the failure it
// caught; the failure stays current until that object goes away, which is when
// the handler resumes. Routines such as MsgBoxError read it through
// CurrentError() without being handed it.
class HandlingError {
public:
  explicit HandlingError(const ErrorRecord &error);
  ~HandlingError();
  HandlingError(const HandlingError &) = delete;
  HandlingError &operator=(const HandlingError &) = delete;

private:
  const ErrorRecord *previous_;
};

// The failure being handled, or number 0 with an empty description and no
// details when no handler is running.
const ErrorRecord &CurrentError();
