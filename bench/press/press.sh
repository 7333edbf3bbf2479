#!/usr/bin/env bash
# Press to answer against aiosmtpd and Postfix, endurance and the body sweep.
#   bench/press/press.sh BUILD_DIR [RUNS] [SUBMISSIONS] [ASAN_BUILD_DIR]
# As root it runs inside private namespaces, where Postfix can own port 25
# (downloaded and started with scripts/lib/mail_stack.py, as the end-to-end
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

stack=("$python" "$root/scripts/lib/mail_stack.py")
outside_reason=
# mail_stack.py runs this script again inside the namespaces, the stack up.
if [ -z "${MAIL_STACK_DIR:-}" ]; then
  # Root starts the servers from a cache out of a build tree others can
  # change, as scripts/try.sh does.
  cache=$build/mail-stack-cache
  "${stack[@]}" root-only "$build" || cache=/var/cache/kestrine-mail-stack
  if ! outside_reason=$("${stack[@]}" check); then
    :
  elif ! "${stack[@]}" fetch "$cache" >&2; then
    outside_reason="its packages could not be downloaded"
  else
    # The whole run, endurance and sweep included, is bounded at an hour.
    "${stack[@]}" run --seconds 3600 --cache "$cache" -- "$0" "$build" "$runs" "$submissions" "$asan"
    exit
  fi
fi

work=$(mktemp -d /tmp/kestrine-bench.XXXXXX)
chmod 755 "$work"
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
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

if [ -n "${MAIL_STACK_DIR:-}" ]; then
  echo "ROW|method|servers|on loopback in private namespaces; Postfix on port 25||"
  # localhost:25 is where Kestrine submits when nobody points it elsewhere.
  servers+=("Postfix=localhost:25:$MAIL_ADDRESS")
else
  echo "ROW|method|servers|on loopback; Postfix not run: $outside_reason||"
  echo "ROW|press to answer|Postfix|not measured: $outside_reason||"
fi
echo "ROW|method|Kestrine|in process: the Send Email button clicked, timed to the Send Email OK box; SetDefaultTarget points it at each server (Postfix: localhost:25, the default)||"

$python "$here/press.py" "$build" "$runs" "${servers[@]}" --endurance "$submissions" --asan-build "$asan" --sweep
