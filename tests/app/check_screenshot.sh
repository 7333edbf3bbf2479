#!/usr/bin/env bash
# Starts the real program on a real X server (Xvfb), saves a PNG of the main
# window and checks that the picture has the window's client-area size.
set -euo pipefail
binary=$1
output=$2
"$(dirname "$0")/../../scripts/screenshot.sh" "$binary" "$output"
size=$(/usr/bin/python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); print("%dx%d" % struct.unpack(">II", d[16:24]))' "$output")
[ "$size" = "446x351" ] || { echo "screenshot is $size, expected 446x351"; exit 1; }
echo "main window screenshot $size saved to $output"
