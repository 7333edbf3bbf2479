#include "base/ErrorRecord.h"

#include <utility>

namespace {
const ErrorRecord kNoError{0, QString()};
const ErrorRecord *current = nullptr;
} // namespace

ErrorRecord::ErrorRecord(std::int32_t number, QString description, QString details)
    : number_(number), description_(std::move(description)), details_(std::move(details)),
      what_(QString::number(number_).toStdString() + ": " + description_.toStdString()) {}

void RaiseError(std::int32_t number, const QString &description, const QString &details) {
  throw ErrorRecord(number, description, details);
}

HandlingError::HandlingError(const ErrorRecord &error) : previous_(current) { current = &error; }

HandlingError::~HandlingError() { current = previous_; }

const ErrorRecord &CurrentError() { return current ? *current : kNoError; }
