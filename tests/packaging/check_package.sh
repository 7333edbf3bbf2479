#!/usr/bin/env bash
# Builds the .deb from the build tree, checks that its dependencies were
# computed from the binary, unpacks it and starts the unpacked program under
# Xvfb until its main window shows.
set -euo pipefail
build_dir=$1
work=$(mktemp -d)
xvfb=""
app=""
cleanup() { [ -n "$app" ] && kill "$app" 2>/dev/null; [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

(cd "$build_dir" && cpack -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/pkg/kestrine_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
echo "package $(basename "$deb"): Depends: $depends"
for library in libqt6widgets6 libcurl4 libgmime-3.0-0 libc6; do
  grep -q "\b$library\b" <<<"$depends" || { echo "FAIL: $library missing from the computed dependencies"; exit 1; }
done

dpkg-deb -x "$deb" "$work/root"
app_id=example.brimvale.Kestrine
for file in usr/bin/Kestrine usr/share/applications/$app_id.desktop usr/share/metainfo/$app_id.metainfo.xml \
            usr/share/icons/hicolor/scalable/apps/$app_id.svg usr/share/icons/hicolor/48x48/apps/$app_id.png \
            usr/share/icons/hicolor/256x256/apps/$app_id.png; do
  [ -f "$work/root/$file" ] || { echo "FAIL: the package lacks /$file"; exit 1; }
done
desktop-file-validate "$work/root/usr/share/applications/$app_id.desktop"
exec_line=$(grep '^Exec=' "$work/root/usr/share/applications/$app_id.desktop" | cut -d= -f2-)
[ -x "$work/root/usr/bin/$exec_line" ] || { echo "FAIL: Exec=$exec_line is not the installed program"; exit 1; }

export DISPLAY=":$((100 + RANDOM % 400))"
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
"$work/root/usr/bin/Kestrine" >/dev/null 2>&1 &
app=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Kestrine Server$' | head -n 1) || true
[ -n "$window" ] || { echo "FAIL: the unpacked program showed no main window"; exit 1; }
echo "the unpacked program from the package shows its main window"
