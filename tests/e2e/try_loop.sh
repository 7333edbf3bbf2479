#!/usr/bin/env bash
# scripts/try.sh as a newcomer uses it: on an X display outside its
# namespaces, as a desktop's is (with an authority cookie), it prints the
# address to send to; the window, driven through the shared driver, sends one
# message there and is closed; try.sh must then print that message as fetched
# over POP3, exit 0, and leave the host as it was. Then a message Postfix accepts and
# defers: try.sh must name its queue entry and Postfix's reason, and fail.
# Exit 77 (skipped) where root, the namespaces or a tool is missing.
#   try_loop.sh BUILD_DIR
set -uo pipefail
build=$(readlink -f "${1:?usage: try_loop.sh BUILD_DIR}")
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
stack=(/usr/bin/python3 "$root/scripts/lib/mail_stack.py")
# shellcheck source=tests/e2e/host_state.sh
source "$here/host_state.sh"

skip() { echo "SKIPPED: $*"; exit 77; }
reason=$("${stack[@]}" check) || skip "$reason"
for tool in Xvfb xdotool xclip xauth mcookie od ss ps findmnt sha256sum /usr/bin/python3; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done

export E2E_DIR
E2E_DIR=$(mktemp -d /tmp/kestrine-try-test.XXXXXX)
# shellcheck source=tests/e2e/gui.sh
source "$here/gui.sh"
mailer=$(build_mailer "$build")
try_pid=""
cleanup() {
  local status=$?
  # try.sh leads a process group of its own: the signal reaches it and
  # everything it started outside the namespaces.
  if [ -n "$try_pid" ] && kill -0 "$try_pid" 2>/dev/null; then
    kill -TERM -- "-$try_pid"
    for _ in $(seq 300); do kill -0 "$try_pid" 2>/dev/null || break; sleep 0.1; done
  fi
  stop_display
  rm -rf "$E2E_DIR"
  exit $status
}
trap cleanup EXIT
trap 'exit 143' TERM INT
fail() {
  echo "FAIL: $*"
  echo "--- what try.sh printed"
  cat "$E2E_DIR/try.out"
  if [ -s "$E2E_DIR/xvfb.log" ]; then
    echo "--- what Xvfb on $DISPLAY printed"
    cat "$E2E_DIR/xvfb.log"
  fi
  exit 1
}
try_running() { kill -0 "$try_pid" 2>/dev/null; }

# try.sh fetches the packages itself, into the cache it picks the same way;
# fetched here first, the libraries it may install do not count as a change
# to the host.
cache=$build/mail-stack-cache
"${stack[@]}" root-only "$build" || cache=/var/cache/kestrine-mail-stack
"${stack[@]}" fetch "$cache" || fail "the mail servers' packages could not be had"
before=$(host_state)

# One cookie for any display number (family, address and number wild): the
# number is Xvfb's choice.
export XAUTHORITY=$E2E_DIR/authority
touch "$XAUTHORITY"
echo "ffff 0000  0000  0012 $(printf MIT-MAGIC-COOKIE-1 | od -An -tx1 | tr -d ' \n') 0010 $(mcookie)" |
  xauth -q -f "$XAUTHORITY" nmerge -
start_display "$XAUTHORITY" || fail "Xvfb did not start"

# Two runs: the message reaches the mailbox (try.sh prints it and exits 0),
# then Postfix accepts it and defers its delivery (try.sh names its queue
# entry and Postfix's reason, and exits 1).
for defer in 0 1; do
  # As on an X desktop: the clicks below are in the window's own pixels, so no
  # scaling or other platform may come from the caller's environment.
  MAIL_STACK_DEFER=$defer env -u QT_QPA_PLATFORM -u QT_SCALE_FACTOR -u QT_SCREEN_SCALE_FACTORS -u QT_ENABLE_HIGHDPI_SCALING \
    -u WAYLAND_DISPLAY setsid bash "$root/scripts/try.sh" "$build" >"$E2E_DIR/try.out" 2>&1 &
  try_pid=$!
  address=""
  for _ in $(seq 1500); do # 300 s: a first run downloads the servers
    address=$(sed -n 's/^Send to: //p' "$E2E_DIR/try.out")
    [ -n "$address" ] || ! try_running && break
    sleep 0.2
  done
  [ -n "$address" ] || fail "try.sh printed no 'Send to:' line"
  echo "try.sh says: Send to: $address"
  driver wait "$(driver title main)" >/dev/null || fail "the Kestrine window did not appear within 20 s"

  driver fill txtTo "$address"
  driver click cmdSendEmail
  box=$(driver box) || fail "no box after Send Email"
  [ "$(box_part prompt "$box")" = "Send Email OK" ] || fail "the box says: $box"
  driver close-box || fail "the box did not close"
  driver close "$(driver title main)" || fail "could not ask the window to close"

  for _ in $(seq 300); do try_running || break; sleep 0.1; done
  try_running && fail "try.sh did not end within 30 s of the window closing"
  status=0
  wait "$try_pid" || status=$?
  try_pid=""
  [ $status -eq $defer ] || fail "try.sh exited with $status, want $defer"
  [ $defer = 1 ] && break
  printed=$(sed -n '/^The mailbox /,$p' "$E2E_DIR/try.out")
  echo "$printed"
  for line in "=== Message 1 of 1, as POP3 RETR 1 fetched it" "To: $address" "Subject: Kestrine Server" \
    "X-Mailer: $mailer" "This is a test of the SMTP server of IIS."; do
    grep -qxF "$line" <<<"$printed" || fail "try.sh did not print the line '$line'"
  done
done
grep -qE "^[0-9A-F]+ from <[^>]+> to <$address>: in Postfix's deferred queue: deferred transport$" \
  "$E2E_DIR/try.out" || fail "try.sh did not name the deferred message's queue entry and Postfix's reason"
same_host_state "$before" || exit 1
echo "try.sh: the message sent from the window was fetched over POP3 and printed; a deferred one was reported"
