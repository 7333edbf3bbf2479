#!/usr/bin/env bash
# The private mail stack's guards, as root: root starts servers only from a
# cache no one else can change, and a signal to a run still removes its
# folder. Exit 77 (skipped) where root, the namespaces or a tool is missing.
#   stack_guards.sh PACKAGE_CACHE     (a cache the end-to-end tests filled)
set -uo pipefail
source_cache=$(readlink -f "${1:?usage: stack_guards.sh PACKAGE_CACHE}")
here=$(cd "$(dirname "$0")" && pwd)
stack=(/usr/bin/python3 "$here/../../scripts/lib/mail_stack.py")

skip() { echo "SKIPPED: $*"; exit 77; }
reason=$("${stack[@]}" check) || skip "$reason"
command -v setpriv >/dev/null || skip "setpriv is not installed"
work=$(mktemp -d /tmp/kestrine-guards.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Which places count as root's alone.
mkdir -p "$work/root/inner" "$work/user/inner" "$work/open" "$work/sticky/inner"
chown nobody "$work/user"
chmod 777 "$work/open"
chmod 1777 "$work/sticky"
ln -s "$work/user/inner" "$work/root/link"
while read -r expected path; do
  if "${stack[@]}" root-only "$path"; then got=yes; else got=no; fi
  [ "$got" = "$expected" ] || fail "root-only $path: expected $expected, got $got"
done <<EOF
yes $work/root/inner
no  $work/user/inner
no  $work/user
no  $work/open
yes $work/sticky/inner
no  $work/root/link
no  $work/root/missing
EOF

# A cache someone else could have prepared. Each case sets up CACHE from a
# copy of the good packages, then fetch must leave a root-owned
# folder holding exactly the good packages, and the planted target intact.
[ -n "$(compgen -G "$source_cache/*.deb")" ] || "${stack[@]}" fetch "$source_cache" >/dev/null ||
  { echo "FAIL: the mail servers' packages could not be had"; exit 1; }
debs() { cat -- "$1"/*.deb | sha256sum; }
good=$(debs "$source_cache")
for case in lock-link tampered user-owned cache-link extra-deb; do
  cache=$work/cache-$case
  mkdir -p "$cache"
  cp "$source_cache"/*.deb "$cache"/
  echo precious >"$work/target"
  case $case in
    lock-link) ln -s "$work/target" "$cache/.lock" ;;
    tampered) echo x >>"$(compgen -G "$cache/postfix_*.deb")" ;;
    user-owned) chown -R nobody "$cache" ;;
    cache-link) rm -rf "$cache"; ln -s "$work/user/inner" "$cache" ;;
    # A second copy of a package, under another name: both would be unpacked.
    extra-deb) cp "$(compgen -G "$cache/dovecot-pop3d_*.deb")" "$cache/aaa_0.1_amd64.deb" ;;
  esac
  "${stack[@]}" fetch "$cache" >"$work/fetch.log" 2>&1 || fail "$case: fetch failed: $(cat "$work/fetch.log")"
  { [ ! -L "$cache" ] && [ "$(stat -c %u "$cache")" = 0 ]; } || fail "$case: the cache is not a folder of root's"
  [ "$(debs "$cache")" = "$good" ] || fail "$case: the cache holds $(ls -A "$cache")"
  [ "$(cat "$work/target")" = precious ] || fail "$case: the file a link pointed at was changed"
  [ -z "$(ls -A "$work/user/inner")" ] || fail "$case: something was written through the linked cache"
done

# A signal to a run (SIGINT too, which a background job would ignore) is
# passed on to the command inside, which stops, and the run's folder is
# removed. The command records its folder and that it was told to stop.
for signal in TERM HUP INT; do
  rm -f "$work/dir" "$work/stopped"
  # shellcheck disable=SC2016 # expanded by the shell inside
  "${stack[@]}" run --seconds 90 --cache "$source_cache" -- \
    bash -c 'echo "$MAIL_STACK_DIR" >"$1/dir"; trap "touch $1/stopped; exit 0" TERM; sleep 50 & wait' _ "$work" \
    >"$work/run.log" 2>&1 &
  runner=$!
  for _ in $(seq 600); do [ -s "$work/dir" ] && break; sleep 0.1; done
  [ -s "$work/dir" ] || { fail "SIG$signal: the run did not start"; kill "$runner"; wait "$runner"; continue; }
  kill "-$signal" "$runner"
  status=0
  wait "$runner" || status=$?
  expected=$((128 + $(kill -l "$signal")))
  [ "$status" -eq "$expected" ] || fail "SIG$signal: the run returned $status, not $expected: $(cat "$work/run.log")"
  [ -e "$work/stopped" ] || fail "SIG$signal: the run inside was not told to stop"
  [ ! -e "$(cat "$work/dir")" ] || { fail "SIG$signal: $(cat "$work/dir") was left behind"; rm -rf "$(cat "$work/dir")"; }
done

[ $failures -eq 0 ] || exit 1
echo "mail stack guards: root-only caches, verified packages, clean ends on signals"
