#!/usr/bin/env bash
# The program reads no command line: Qt's own options must not take effect.
# Asked for a display platform that cannot start here ("-platform xcb" with no
# X server), Kestrine must still come up on the offscreen platform and keep
# running until it is stopped.
set -u
binary=$1
unset DISPLAY WAYLAND_DISPLAY
export QT_QPA_PLATFORM=offscreen
errors=$(mktemp)
timeout 3 "$binary" -platform xcb -style windows -reverse --anything 2>"$errors"
rc=$?
err=$(cat "$errors"); rm -f "$errors"
if [ "$rc" -ne 124 ]; then
  echo "Kestrine exited with $rc instead of running; it read its arguments:"
  echo "$err"
  exit 1
fi
echo "Kestrine ignored its arguments and kept running"
