#!/usr/bin/env bash
# Builds the .deb from the build tree, checks that its dependencies were
# computed from the binaries (the program and its mail module) and that both
# are stripped and hardened as Debian's own packages are, that lintian finds
# nothing to say, and that its manual page reads cleanly; unpacks it and checks
# the unpacked tree, starting the program in it under Xvfb and, as root,
# pressing Send Email.
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

# lintian --pedantic finds nothing to say, information tags included.
status=0
lintian --pedantic --info "$deb" >"$work/lintian.log" 2>&1 || status=$?
if [ "$status" -gt 1 ] || grep -q '^[EWIP]: ' "$work/lintian.log"; then
  cat "$work/lintian.log"; echo "FAIL: lintian tags the package (exit $status)"; exit 1
fi
control=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | sort | tr '\n' ' ')
[ "$control" = "./control ./md5sums " ] || { echo "FAIL: the control part holds $control"; exit 1; }

# What dpkg-buildflags gives, and bind-now: the stack protector and read-only
# relocations resolved at start, as hardening-check sees them in the packaged
# files, and _FORTIFY_SOURCE in every compilation of the sources
# (hardening-check cannot see it where the code calls no checked function with
# a size known when it is compiled).
hardening-check --nofortify --nocfprotection \
  "$work/root/usr/bin/Kestrine" "$work/root/usr/lib/kestrine/kestrine-mail.so" \
  || { echo "FAIL: hardening-check"; exit 1; }
unfortified=$(grep '"command": .* -c [^ ]*/src/' "$build_dir/compile_commands.json" | grep -v -- -D_FORTIFY_SOURCE=2 || true)
[ -z "$unfortified" ] || { echo "FAIL: compiled without _FORTIFY_SOURCE=2: $unfortified"; exit 1; }

page="$work/root/usr/share/man/man1/Kestrine.1.gz"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || { echo "FAIL: man --warnings: $warnings"; exit 1; }
lexgrog "$page"
[ "$(MANPATH="$work/root/usr/share/man" man -w kestrine)" = "$page" ] || { echo "FAIL: man kestrine finds no page"; exit 1; }
/usr/bin/python3 "$(dirname "$0")/check_install_tree.py" "$work/root" /usr "$build_dir/generated/identity.json"
echo "package size: $(stat -c %s "$deb") bytes"
