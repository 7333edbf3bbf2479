#!/usr/bin/env bash
# Every C++ file in the repository follows the checked-in .clang-format.
set -uo pipefail
cd "$1"
mapfile -t files < <(git ls-files '*.cpp' '*.h')
bad=()
for f in "${files[@]}"; do
  clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  printf 'not formatted: %s\n' "${bad[@]}"
  exit 1
fi
echo "clang-format: ${#files[@]} files formatted"
