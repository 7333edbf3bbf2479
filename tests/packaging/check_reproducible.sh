#!/usr/bin/env bash
# The same bytes from the same commit: packs the .deb from the build tree, then
# configures a second build folder now, builds there only what the package
# holds, packs it too and compares the two files; diffoscope shows where they
# differ. The second folder is removed at the end.
set -euo pipefail
build_dir=$(cd "$1" && pwd)
work=$(mktemp -d)
second="$build_dir/reproducibility-build"
trap 'rm -rf "$work" "$second"' EXIT
step() { "${@:2}" >"$work/$1.log" 2>&1 || { tail -50 "$work/$1.log"; exit 1; }; }

step first-pack cpack -G DEB -B "$work/first" --config "$build_dir/CPackConfig.cmake"
rm -rf "$second"
# With the install step depending on nothing, packing builds no tests.
step configure cmake -S "$2" -B "$second" -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
  -DCMAKE_BUILD_TYPE="$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build_dir/CMakeCache.txt")"
step build cmake --build "$second" -j"$(nproc)" --target kestrine_packaged
step second-pack cpack -G DEB -B "$work/second" --config "$second/CPackConfig.cmake"
first_deb=$(ls "$work"/first/*.deb)
if ! cmp -s "$first_deb" "$(ls "$work"/second/*.deb)"; then
  echo "FAIL: the .deb from $build_dir and the one from $second differ:"
  timeout 300 diffoscope --text - --max-text-report-size 40000 "$first_deb" "$work"/second/*.deb | head -150 || true
  exit 1
fi
echo "$(basename "$first_deb") built in two folders is the same file: $(sha256sum <"$first_deb" | cut -c1-16)..."
