#!/usr/bin/env bash
# The whole loop on a machine without a mail server: starts a private Postfix
# (local delivery to one mailbox only) and Dovecot POP3, runs Kestrine where
# its localhost:25 is that Postfix, and when its window is closed fetches the
# mailbox over POP3 and prints what arrived. The servers come from Debian's
# packages without being installed and run in private namespaces
# (scripts/lib/mail_stack.py): nothing of this machine's own mail service, if
# it has one, is touched, and nothing leaves the namespace.
#   scripts/try.sh [BUILD_DIR]      (default: the default preset's build)
# Needs root or sudo for the namespaces; builds and runs Kestrine as the
# calling user.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

say() { echo "try.sh: $*" >&2; }

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

scripts/install-deps.sh try
if [ -n "${1:-}" ]; then
  build=$(readlink -f "$1")
  cmake --build "$build" --target Kestrine -j"$(nproc)"
else
  build=$here/build/default
  cmake --preset default >/dev/null
  cmake --build --preset default --target Kestrine -j"$(nproc)"
fi
binary=$build/bin/Kestrine
[ -x "$binary" ] || { say "no Kestrine at $binary: the build did not make it"; exit 1; }

# mail_stack.py asks sudo once when this is not root, fetches the packages
# into the cache for this build tree, starts the servers and runs the part
# below inside their namespaces, as you, on your display. When the window is
# closed it prints the mailbox, and says where a message Postfix accepted but
# did not put there is, and why (exit 1).
# shellcheck disable=SC2016 # expanded by the inner shell
exec /usr/bin/python3 scripts/lib/mail_stack.py run --build "$build" --as-caller --show-mailbox -- bash -c '
  echo
  echo "Send to: $MAIL_ADDRESS"
  echo "Type that address into \"To email address\", press \"Send Email\" (as often as you like), then close the Kestrine window to see what arrived."
  echo
  output=$("$1" 2>&1) && exit 0
  status=$?
  echo "try.sh: Kestrine ended with status $status:" >&2
  printf "%s\n" "$output" | tail -n 20 >&2
  exit $status' try.sh "$binary"
