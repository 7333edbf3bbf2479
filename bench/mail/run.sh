#!/bin/sh
# Starts a local aiosmtpd that discards what it receives, runs bench_mail
# against it and stops it. Usage: bench/mail/run.sh [BUILD_DIR] [SMALL_RUNS] [LARGE_RUNS]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build/default}
bench=$build/bench/mail/bench_mail
[ -x "$bench" ] || { echo "build bench_mail first: cmake --build $build --target bench_mail" >&2; exit 1; }

work=$(mktemp -d)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

/usr/bin/python3 "$here/../../tests/support/smtp_server.py" --dir "$work" --discard > "$work/port" &
server_pid=$!
port=
for _ in $(seq 1 100); do
  port=$(sed -n 's/^PORT //p' "$work/port")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "the test server did not start" >&2; exit 1; }

"$bench" "$port" "${2:-200}" "${3:-9}"
