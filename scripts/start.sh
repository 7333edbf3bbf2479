#!/usr/bin/env bash
# Installs what Kestrine needs, builds it and starts it on this desktop.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "Kestrine is a desktop program and needs a display, but neither DISPLAY nor WAYLAND_DISPLAY is set." >&2
  echo "Run this from a desktop session (or over 'ssh -X'). To build and test without one: scripts/test.sh" >&2
  exit 1
fi

scripts/install-deps.sh run
cmake --preset default >/dev/null
cmake --build --preset default --target Kestrine -j"$(nproc)"
exec build/default/bin/Kestrine
