#!/usr/bin/env bash
# Runs the built Kestrine under a private Xvfb display and saves a PNG of its
# main window. Usage: scripts/screenshot.sh [BINARY] [OUTPUT.png]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
binary=${1:-$here/build/default/bin/Kestrine}
output=${2:-$here/build/kestrine-main-window.png}

for tool in Xvfb xdotool import; do
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

"$binary" &
app=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Kestrine Server$' | head -n 1)
sleep 0.5   # let the first paint finish
mkdir -p "$(dirname "$output")"
import -window "$window" "$output"
echo "saved $output"
