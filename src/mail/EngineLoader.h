#pragma once

#include "mail/Engine.h"

#include <QString>
#include <QStringList>

namespace mail {

// Opens the first of `candidates` that is a module with an entry table of this
// program's version and returns its table. When none is, returns nullptr and
// sets `why` to the paths tried, each with the loader's own words.
const KestrineMailEngine *OpenEngineModule(const QStringList &candidates, QString &why);

} // namespace mail
