// A mail module of a version this program does not know, for the loader test.
#include "mail/Engine.h"

namespace {
constexpr KestrineMailEngine kTable{99, sizeof(KestrineMailEngine), nullptr, nullptr};
}

extern "C" __attribute__((visibility("default"))) const KestrineMailEngine *kestrine_mail_engine_v2() {
  return &kTable;
}
