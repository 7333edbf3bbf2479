#!/usr/bin/env bash
# The whole loop on a machine without a mail server: starts a private Postfix
# (local delivery to one mailbox only) and Dovecot POP3, runs Kestrine where
# its localhost:25 is that Postfix, and when its window is closed fetches the
# mailbox over POP3 and prints what arrived. The servers come from Debian's
# packages without being installed and run in private namespaces
# (scripts/lib/mail_stack.sh): nothing of this machine's own mail service, if
# it has one, is touched, and nothing leaves the namespace.
#   scripts/try.sh [BUILD_DIR]      (default: the default preset's build)
# Needs root or sudo for the namespaces; builds as the calling user.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
# shellcheck source=scripts/lib/mail_stack.sh
source scripts/lib/mail_stack.sh

say() { echo "try.sh: $*" >&2; }

# Inside the namespaces, as root: the servers, the window, the mailbox.
run_inside() {
  local binary=$1 kestrine_pid="" status=0 log=$MAIL_STACK_DIR/kestrine.log
  # shellcheck disable=SC2317 # run by the traps
  stop_all() {
    [ -n "$kestrine_pid" ] && kill "$kestrine_pid" 2>/dev/null && wait "$kestrine_pid" 2>/dev/null
    mail_stack_stop >&2 || say "a mail server would not stop; it ends with the namespace"
  }
  trap stop_all EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM

  if ! mail_stack_start >"$MAIL_STACK_DIR/start.log" 2>&1; then
    say "the private mail servers did not start:"
    cat "$MAIL_STACK_DIR/start.log" >&2
    tail -n 20 "$MAIL_STACK_DIR/postfix.log" "$MAIL_STACK_DIR/dovecot.log" >&2 2>/dev/null || true
    exit 1
  fi

  # Kestrine runs as the user who called sudo, on that user's display.
  local as_user=()
  if [ -n "${KESTRINE_TRY_UID:-}" ] && [ "$KESTRINE_TRY_UID" != 0 ]; then
    as_user=(setpriv "--reuid=$KESTRINE_TRY_UID" "--regid=$KESTRINE_TRY_GID" --init-groups
      env "HOME=$KESTRINE_TRY_HOME" "USER=$KESTRINE_TRY_USER" "LOGNAME=$KESTRINE_TRY_USER")
  fi
  # Without one Qt makes /tmp/runtime-USER, which would outlive the run.
  if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    export XDG_RUNTIME_DIR=$MAIL_STACK_DIR/runtime
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    [ ${#as_user[@]} -eq 0 ] || chown "$KESTRINE_TRY_UID:$KESTRINE_TRY_GID" "$XDG_RUNTIME_DIR"
  fi

  echo
  echo "Send to: $mail_address"
  echo "Type that address into \"To email address\", press \"Send Email\" (as often as you like), then close the Kestrine window to see what arrived."
  echo
  "${as_user[@]}" "$binary" >"$log" 2>&1 &
  kestrine_pid=$!
  wait "$kestrine_pid" || status=$?
  kestrine_pid=""
  if [ $status -ne 0 ]; then
    say "Kestrine ended with status $status:"
    tail -n 20 "$log" >&2
  fi

  mail_stack_wait_delivered >&2 || status=1
  echo "The mailbox $mail_address, fetched over POP3 from the private Dovecot:"
  echo
  /usr/bin/python3 "$here/scripts/lib/show_mailbox.py" 127.0.0.1 110 "$mail_user" "$mail_password" || status=1
  exit $status
}

binary_in() { echo "$1/bin/Kestrine"; }

if [ "${KESTRINE_TRY_STAGE:-}" = inside ]; then
  run_inside "$1"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "Kestrine is a desktop program and needs a display, but neither DISPLAY nor WAYLAND_DISPLAY is set." >&2
  echo "Run this from a desktop session on this machine. To build and test without one: scripts/test.sh" >&2
  exit 1
fi
# Kestrine runs in a private network, which reaches a display only through
# its socket file (:0, unix:0), not over TCP (host:10.0, as ssh -X sets).
if [ -z "${WAYLAND_DISPLAY:-}" ] && [[ $DISPLAY =~ ^[^/:]+: ]] && [[ $DISPLAY != unix:* ]]; then
  echo "DISPLAY=$DISPLAY is reached over the network (as with 'ssh -X'), and Kestrine runs here inside a private network that cannot reach it." >&2
  echo "Run this from a desktop session on this machine, or use scripts/start.sh with a mail server installed." >&2
  exit 1
fi

if [ "${KESTRINE_TRY_STAGE:-}" != root ]; then
  scripts/install-deps.sh try
  if [ -n "${1:-}" ]; then
    build=$(readlink -f "$1")
    cmake --build "$build" --target Kestrine -j"$(nproc)"
  else
    build=$here/build/default
    cmake --preset default >/dev/null
    cmake --build --preset default --target Kestrine -j"$(nproc)"
  fi
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      say "the private mail servers need root (for private mount, network and process namespaces), and sudo is not installed. Run this as root."
      exit 1
    fi
    say "the private mail servers need root for their namespaces: asking sudo."
    exec sudo env KESTRINE_TRY_STAGE=root \
      KESTRINE_TRY_UID="$(id -u)" KESTRINE_TRY_GID="$(id -g)" KESTRINE_TRY_USER="$(id -un)" KESTRINE_TRY_HOME="$HOME" \
      DISPLAY="${DISPLAY:-}" XAUTHORITY="${XAUTHORITY:-$HOME/.Xauthority}" \
      WAYLAND_DISPLAY="${WAYLAND_DISPLAY:-}" XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-}" \
      bash "$here/scripts/try.sh" "$build"
  fi
  set -- "$build"
fi

# As root from here on. sudo passes empty values for what the caller lacked.
for variable in DISPLAY XAUTHORITY WAYLAND_DISPLAY XDG_RUNTIME_DIR; do
  [ -n "${!variable:-}" ] || unset "$variable"
done
build=$1
[ -x "$(binary_in "$build")" ] || { say "no Kestrine at $(binary_in "$build"): the build did not make it"; exit 1; }
if ! reason=$(mail_stack_check); then
  say "cannot start the private mail servers: $reason"
  exit 1
fi
# Root unpacks the servers from the cache and starts them, so it must sit where
# only root can change it: in the build tree when that is root's alone, as
# when the tests run as root, else (a user's build tree, through sudo) in
# /var/cache.
if mail_stack_root_only "$build"; then
  cache=$build/mail-stack-cache
else
  cache=/var/cache/kestrine-mail-stack
fi
mail_stack_fetch "$cache" >&2 || { say "the mail servers' packages could not be had"; exit 1; }
# An interrupt stops the run inside, and its servers; mail_stack_run then
# removes their folder.
status=0
KESTRINE_TRY_STAGE=inside mail_stack_run 0 "$cache" bash "$here/scripts/try.sh" "$(binary_in "$build")" || status=$?
exit $status
