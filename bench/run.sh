#!/usr/bin/env bash
# Runs every benchmark and prints one table: start-up and memory against a
# minimal Qt window, press to answer against aiosmtpd and Postfix next to curl
# and swaks, endurance, and the body size sweep; then the mail component's own
# benchmark when it is there.
#   bench/run.sh [BUILD_DIR] [RUNS] [SUBMISSIONS]
# Without BUILD_DIR it installs what it needs and builds the default preset,
# and the asan preset for the leak check of the endurance run.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${1:-}" ]; then
  (cd "$here/.." && scripts/install-deps.sh bench &&
    cmake --preset default >/dev/null && cmake --build --preset default -j"$(nproc)" >/dev/null &&
    cmake --preset asan >/dev/null && cmake --build --preset asan -j"$(nproc)" >/dev/null) ||
    { echo "bench/run.sh: the build failed" >&2; exit 1; }
fi
build=$(readlink -f "${1:-$here/../build/default}")
runs=${2:-31}
submissions=${3:-1000}
rows=$(mktemp)
trap 'rm -f "$rows"' EXIT

echo "Kestrine benchmarks on $(nproc) cores, $(uname -r), $(date -u +%Y-%m-%dT%H:%MZ); build $build" >&2
PYTHONPATH=$here/../tests/support /usr/bin/python3 "$here/app/startup.py" "$build" "$runs" | tee -a "$rows" >&2
bash "$here/press/press.sh" "$build" "$runs" "$submissions" | tee -a "$rows" >&2

/usr/bin/python3 - "$rows" <<'PY'
import sys
rows = [line.rstrip("\n").split("|")[1:] for line in open(sys.argv[1]) if line.startswith("ROW|")]
header = ["what", "measure", "value", "goal", "verdict"]
rows = [r + [""] * (5 - len(r)) for r in rows]
widths = [max(len(r[i]) for r in rows + [header]) for i in range(5)]
line = lambda r: "| " + " | ".join(c.ljust(w) for c, w in zip(r, widths)) + " |"
print(line(header))
print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
for r in rows:
    print(line(r))
missed = sum(r[4] == "NOT met" for r in rows)
met = sum(r[4] == "met" for r in rows)
print(f"\n{met} goals met, {missed} not met")
PY

if [ -x "$here/mail/run.sh" ] || [ -f "$here/mail/run.sh" ]; then
  echo
  echo "The mail component's own benchmark (bench/mail/run.sh):"
  sh "$here/mail/run.sh" "$build" || echo "bench/mail/run.sh failed"
fi
