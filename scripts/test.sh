#!/usr/bin/env bash
# Installs what the tests need, builds Kestrine and runs every test: the whole
# suite on the release build, then again on an AddressSanitizer and
# UndefinedBehaviorSanitizer build in the C locale. It installs no mail server:
# as root, the end-to-end test downloads Postfix and Dovecot into the build tree
# and runs them in private namespaces (scripts/lib/mail_stack.py); without
# root it reports itself skipped.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
jobs=$(nproc)

scripts/install-deps.sh test

cmake --preset default >/dev/null
cmake --build --preset default -j"$jobs"
ctest --preset default -j"$jobs" --label-exclude e2e
# The end-to-end run prints what the POP3 client fetched: keep it in the log.
ctest --preset default --label-regex e2e --verbose

cmake --preset asan >/dev/null
cmake --build --preset asan -j"$jobs"
# The suite must not depend on the caller's locale.
LC_ALL=C ctest --preset asan -j"$jobs"
