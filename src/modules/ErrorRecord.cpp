#include "modules/ErrorRecord.h"

#include <utility>

namespace {
const ErrorRecord kNoError{0, QString()};
const ErrorRecord *current = nullptr;
} // namespace

ErrorRecord::ErrorRecord(std::int32_t number, QString description)
    : number_(number), description_(std::move(description)),
      what_(QString::number(number_).toStdString() + ": " + description_.toStdString()) {}

void RaiseError(std::int32_t number, const QString &description) { throw ErrorRecord(number, description); }

HandlingError::HandlingError(const ErrorRecord &error) : previous_(current) { current = &error; }

HandlingError::~HandlingError() { current = previous_; }

const ErrorRecord &CurrentError() { return current ? *current : kNoError; }
