#!/usr/bin/env bash
# Builds the .deb from the build tree, checks that its dependencies were
# computed from the binaries (the program and its mail module) and that both
# are stripped, unpacks it and checks the unpacked tree, starting the program
# in it under Xvfb and, as root, pressing Send Email.
set -euo pipefail
build_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

read -r package app_id < <(/usr/bin/python3 -c 'import json, sys; i = json.load(open(sys.argv[1])); print(i["name"], i["appId"])' \
  "$build_dir/generated/identity.json")
(cd "$build_dir" && cpack -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/pkg/"${package}"_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
echo "package $(basename "$deb"): Depends: $depends"
for library in libqt6widgets6 libqt6network6 libgmime-3.0-0 libc6; do
  grep -q "\b$library\b" <<<"$depends" || { echo "FAIL: $library missing from the computed dependencies"; exit 1; }
done
! grep -q "libcurl" <<<"$depends" || { echo "FAIL: the package depends on libcurl"; exit 1; }

dpkg-deb -x "$deb" "$work/root"
for file in usr/bin/Kestrine usr/lib/kestrine/kestrine-mail.so; do
  case "$(file -b "$work/root/$file")" in
    *"not stripped"*) echo "FAIL: the packaged $file still carries its debugging symbols"; exit 1 ;;
  esac
done
desktop-file-validate "$work/root/usr/share/applications/$app_id.desktop"
/usr/bin/python3 "$(dirname "$0")/check_install_tree.py" "$work/root" /usr "$build_dir/generated/identity.json"
echo "package size: $(stat -c %s "$deb") bytes"
