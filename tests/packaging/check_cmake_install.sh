#!/usr/bin/env bash
# Installs the build tree with cmake --install into a scratch DESTDIR, as the
# README tells an administrator to, and checks what lands there.
set -euo pipefail
build_dir=$1
prefix=/usr/local
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
DESTDIR="$work/root" cmake --install "$build_dir" --prefix "$prefix" >"$work/install.log" \
  || { cat "$work/install.log"; exit 1; }
/usr/bin/python3 "$(dirname "$0")/check_install_tree.py" "$work/root" "$prefix" "$build_dir/generated/identity.json"
