#!/usr/bin/env bash
# clang-tidy over every source file under src/, with the checked-in .clang-tidy,
# from the build tree's compile_commands.json. Any finding fails the test.
set -uo pipefail
source_dir=$1
build_dir=$2
cd "$source_dir"
mapfile -t files < <(git ls-files 'src/*.cpp' 2>/dev/null || find src -name '*.cpp')
[ ${#files[@]} -gt 0 ] || { echo "no sources found"; exit 1; }
log=$(mktemp)
run-clang-tidy -quiet -p "$build_dir" -j "$(nproc)" "${files[@]/#/$source_dir/}" >"$log" 2>&1
rc=$?
findings=$(grep -E '(warning|error): ' "$log" | grep -v 'warnings generated' | sort -u)
rm -f "$log"
if [ $rc -ne 0 ] || [ -n "$findings" ]; then
  echo "$findings"
  echo "clang-tidy: findings in src/ (exit $rc)"
  exit 1
fi
echo "clang-tidy: ${#files[@]} files under src/ clean"
