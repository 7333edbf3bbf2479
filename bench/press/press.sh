#!/usr/bin/env bash
# Press to answer against aiosmtpd and Postfix, endurance and the body sweep.
#   bench/press/press.sh BUILD_DIR [RUNS] [SUBMISSIONS] [ASAN_BUILD_DIR]
# As root it runs inside a private network namespace, where Postfix can own
# port 25 (started with tests/e2e/mail_servers.sh); elsewhere only aiosmtpd.
# Prints table rows: ROW|section|measure|value|goal|verdict.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(readlink -f "${1:?usage: press.sh BUILD_DIR [RUNS] [SUBMISSIONS] [ASAN_BUILD_DIR]}")
runs=${2:-50}
submissions=${3:-1000}
asan=${4:-$root/build/asan}
python=/usr/bin/python3

if [ "${KESTRINE_BENCH_INSIDE:-}" != 1 ] && [ "$(id -u)" -eq 0 ] && unshare -n true 2>/dev/null; then
  KESTRINE_BENCH_INSIDE=1 exec unshare -n "$0" "$build" "$runs" "$submissions" "$asan"
fi

work=$(mktemp -d /tmp/kestrine-bench.XXXXXX)
chmod 755 "$work"
server_pid=
postfix_started=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  [ -n "$postfix_started" ] && stop_mail_servers
  rm -rf "$work"
}
trap cleanup EXIT

servers=()
$python "$root/tests/support/smtp_server.py" --dir "$work" --discard >"$work/port" 2>"$work/aiosmtpd.log" &
server_pid=$!
port=
for _ in $(seq 100); do
  port=$(sed -n 's/^PORT //p' "$work/port")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "ROW|press to answer|aiosmtpd|not measured: the server did not start||"; exit 1; }
servers+=("aiosmtpd=127.0.0.1:$port:postmaster@localhost")

if [ "${KESTRINE_BENCH_INSIDE:-}" = 1 ]; then
  ip link set lo up
  echo "ROW|method|servers|on loopback in a private network namespace; Postfix on port 25||"
  export E2E_DIR=$work/e2e
  mkdir -p "$E2E_DIR" && chmod 755 "$E2E_DIR"
  # shellcheck source=../../tests/e2e/mail_servers.sh
  source "$root/tests/e2e/mail_servers.sh"
  if start_mail_servers >"$work/postfix.out" 2>&1; then
    postfix_started=1
    for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/25) 2>/dev/null && break; sleep 0.1; done
    # localhost:25 is where Kestrine submits when nobody points it elsewhere.
    servers+=("Postfix=localhost:25:$e2e_user@$e2e_domain")
  else
    echo "ROW|press to answer|Postfix|not measured: it did not start ($(tail -1 "$work/postfix.out"))||"
  fi
else
  echo "ROW|method|servers|on loopback; Postfix needs root for a private network namespace||"
  echo "ROW|press to answer|Postfix|not measured: needs root||"
fi
echo "ROW|method|Kestrine|in process: the Send Email button clicked, timed to the Send Email OK box; SetDefaultTarget points it at each server (Postfix: localhost:25, the default)||"

$python "$here/press.py" "$build" "$runs" "${servers[@]}" --endurance "$submissions" --asan-build "$asan" --sweep
