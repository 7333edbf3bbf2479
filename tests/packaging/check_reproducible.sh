#!/usr/bin/env bash
# The same bytes from the same commit: packs the .deb from the build tree, then
# configures a second build folder now, builds in it only what the package
# holds, packs it too, and compares the two files. When they differ,
# diffoscope shows where. The second folder is removed at the end.
set -euo pipefail
build_dir=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
work=$(mktemp -d)
second="$build_dir/reproducibility-build"
trap 'rm -rf "$work" "$second"' EXIT

pack() { (cd "$1" && cpack -G DEB -B "$2") >"$2.log" 2>&1 || { cat "$2.log"; exit 1; }; }
pack "$build_dir" "$work/first"

build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build_dir/CMakeCache.txt")
rm -rf "$second"
# Packing builds only what it installs, not the tests.
cmake -S "$source_dir" -B "$second" -DCMAKE_BUILD_TYPE="$build_type" -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
  >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; exit 1; }
cmake --build "$second" -j"$(nproc)" --target kestrine_packaged >"$work/build.log" 2>&1 \
  || { tail -50 "$work/build.log"; exit 1; }
pack "$second" "$work/second"

first_deb=$(ls "$work"/first/*.deb)
second_deb=$(ls "$work"/second/*.deb)
if ! cmp -s "$first_deb" "$second_deb"; then
  echo "FAIL: the .deb from $build_dir and the one from $second differ:"
  timeout 300 diffoscope --text - --max-text-report-size 40000 "$first_deb" "$second_deb" | head -150 || true
  exit 1
fi
echo "$(basename "$first_deb") built in two folders is the same file: $(sha256sum <"$first_deb" | cut -c1-16)..."
