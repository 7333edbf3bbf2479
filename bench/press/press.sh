#!/usr/bin/env bash
# Press to answer against aiosmtpd and Postfix, endurance and the body sweep.
#   bench/press/press.sh BUILD_DIR [RUNS] [SUBMISSIONS] [ASAN_BUILD_DIR]
# As root it runs inside private namespaces, where Postfix can own port 25
# (downloaded and started with scripts/lib/mail_stack.sh, as the end-to-end
# test does); elsewhere only aiosmtpd.
# Prints table rows: ROW|section|measure|value|goal|verdict.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(readlink -f "${1:?usage: press.sh BUILD_DIR [RUNS] [SUBMISSIONS] [ASAN_BUILD_DIR]}")
runs=${2:-50}
submissions=${3:-1000}
asan=${4:-$root/build/asan}
python=/usr/bin/python3

# shellcheck source=scripts/lib/mail_stack.sh
source "$root/scripts/lib/mail_stack.sh"
outside_reason=
if [ "${KESTRINE_BENCH_INSIDE:-}" != 1 ]; then
  # Root starts the servers from this cache: out of a build tree others can
  # change, as scripts/try.sh does.
  cache=$build/mail-stack-cache
  mail_stack_root_only "$build" || cache=/var/cache/kestrine-mail-stack
  if ! outside_reason=$(mail_stack_check); then
    :
  elif ! mail_stack_fetch "$cache" >&2; then
    outside_reason="its packages could not be downloaded"
  else
    # The whole run, endurance and sweep included, is bounded at an hour.
    KESTRINE_BENCH_INSIDE=1 mail_stack_run 3600 "$cache" "$0" "$build" "$runs" "$submissions" "$asan"
    exit
  fi
fi

work=$(mktemp -d /tmp/kestrine-bench.XXXXXX)
chmod 755 "$work"
server_pid=
postfix_started=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  [ -n "$postfix_started" ] && mail_stack_stop >&2
  rm -rf "$work"
}
trap cleanup EXIT

# Inside the namespace the loopback starts down.
[ "${KESTRINE_BENCH_INSIDE:-}" = 1 ] && ip link set lo up
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
  echo "ROW|method|servers|on loopback in private namespaces; Postfix on port 25||"
  if mail_stack_start >"$work/postfix.out" 2>&1; then
    postfix_started=1
    # localhost:25 is where Kestrine submits when nobody points it elsewhere.
    servers+=("Postfix=localhost:25:$mail_address")
  else
    echo "ROW|press to answer|Postfix|not measured: it did not start ($(tail -1 "$work/postfix.out"))||"
  fi
else
  echo "ROW|method|servers|on loopback; Postfix not run: $outside_reason||"
  echo "ROW|press to answer|Postfix|not measured: $outside_reason||"
fi
echo "ROW|method|Kestrine|in process: the Send Email button clicked, timed to the Send Email OK box; SetDefaultTarget points it at each server (Postfix: localhost:25, the default)||"

$python "$here/press.py" "$build" "$runs" "${servers[@]}" --endurance "$submissions" --asan-build "$asan" --sweep
