// The engine linked into the program that uses it: tests and benchmarks call
// NewMail and the engine's own functions in one process, without the module.
#include "mail/Engine.h"

namespace mail {

const KestrineMailEngine &Engine() { return *kestrine_mail_engine_v2(); }

} // namespace mail
