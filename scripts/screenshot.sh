#!/usr/bin/env bash
# Runs the built Kestrine under a private Xvfb display and saves a PNG of its
# main window, or with --about of both windows side by side after pressing
# "About".
# Usage: scripts/screenshot.sh [--about] [BINARY] [OUTPUT.png]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
about=no
[ "${1:-}" = --about ] && { about=yes; shift; }
binary=${1:-$here/build/default/bin/Kestrine}
default_output=$here/build/kestrine-main-window.png
[ $about = yes ] && default_output=$here/build/kestrine-both-windows.png
output=${2:-$default_output}

for tool in Xvfb xdotool import /usr/bin/convert; do
  command -v "$tool" >/dev/null || { echo "screenshot: $tool is missing (run scripts/install-deps.sh test)" >&2; exit 1; }
done

display=":$((100 + RANDOM % 400))"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
app=""
cleanup() { [ -n "$app" ] && kill "$app" 2>/dev/null; kill "$xvfb" 2>/dev/null; wait 2>/dev/null || true; }
trap cleanup EXIT

export DISPLAY=$display
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

# The driver starts an X window whatever platform or scaling the caller's
# environment names (a developer may have QT_QPA_PLATFORM=offscreen exported).
driver=$here/tests/support/kestrine_driver.py
/usr/bin/python3 "$driver" run "$binary" 2>/dev/null &
app=$!
driver() { /usr/bin/python3 "$driver" "$@"; }
main=$(driver wait "$(driver title main)")
mkdir -p "$(dirname "$output")"
if [ $about = no ]; then
  sleep 0.5 # let the first paint finish
  import -window "$main" "$output"
else
  driver click cmdAbout
  about_window=$(driver wait "$(driver title about)")
  sleep 0.5
  # Each window on its own, laid side by side on a plain background.
  shots=$(mktemp -d)
  import -window "$main" "$shots/main.png"
  import -window "$about_window" "$shots/about.png"
  /usr/bin/convert -background '#c9d1d9' "$shots/main.png" "$shots/about.png" -gravity north +smush 12 \
    -bordercolor '#c9d1d9' -border 12 "$output"
  rm -rf "$shots"
fi
echo "saved $output"
