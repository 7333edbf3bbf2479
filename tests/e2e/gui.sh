# shellcheck shell=bash
# Sourced by the end-to-end tests: a private X display, and Kestrine driven
# from outside with the keyboard and mouse, as a user drives it, through
# tests/support/kestrine_driver.py. Every wait is bounded.

kestrine_pid=""
display_pid=""
kestrine_driver=$(cd "$(dirname "${BASH_SOURCE[0]}")/../support" && pwd)/kestrine_driver.py
driver() { /usr/bin/python3 "$kestrine_driver" "$@"; }

# -displayfd lets Xvfb take a free display number and tell us which: other
# tests may run their own displays at the same time, and the X sockets in
# /tmp are shared with the host even inside the network namespace. With an
# authority file, as a desktop's X server has, the display admits only
# clients that show its cookie.
start_display() { # [AUTHORITY_FILE]
  local auth=()
  [ -n "${1:-}" ] && auth=(-auth "$1")
  Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp "${auth[@]}" \
    3>"$E2E_DIR/display" >"$E2E_DIR/xvfb.log" 2>&1 &
  display_pid=$!
  local number=""
  for _ in $(seq 100); do
    number=$(cat "$E2E_DIR/display")
    [ -n "$number" ] && break
    kill -0 "$display_pid" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$number" ] || { echo "Xvfb did not start:"; cat "$E2E_DIR/xvfb.log"; return 1; }
  export DISPLAY=":$number"
  for _ in $(seq 100); do xdotool getmouselocation >/dev/null 2>&1 && return 0; sleep 0.1; done
  echo "Xvfb took display $DISPLAY but does not answer"; return 1
}

stop_display() {
  [ -n "$display_pid" ] || return 0
  kill "$display_pid" 2>/dev/null
  wait "$display_pid" 2>/dev/null
  display_pid=""
}

start_kestrine() {
  mkdir -m 700 "$E2E_DIR/runtime"
  # Not through the function: the driver becomes the program, so $! is its id.
  XDG_RUNTIME_DIR="$E2E_DIR/runtime" /usr/bin/python3 "$kestrine_driver" run "$1" >"$E2E_DIR/kestrine.log" 2>&1 &
  kestrine_pid=$!
  driver wait "$(driver title main)" >/dev/null
}

kestrine_running() { [ -n "$kestrine_pid" ] && kill -0 "$kestrine_pid" 2>/dev/null; }

stop_kestrine() {
  [ -n "$kestrine_pid" ] || return 0
  kill "$kestrine_pid" 2>/dev/null
  wait "$kestrine_pid" 2>/dev/null
  kestrine_pid=""
}

# One part of a box as `driver box` prints it: title, prompt, buttons or details.
box_part() {
  local n
  case "$1" in title) n=1 ;; prompt) n=2 ;; buttons) n=3 ;; details) n=4 ;; esac
  awk -v want="$n" '/^-+$/ {part++; next} part == want' <<<"$2"
}

# The X-Mailer of the build in BUILD_DIR, from the identity it was configured with.
build_mailer() { # BUILD_DIR
  /usr/bin/python3 -c 'import json, sys; i = json.load(open(sys.argv[1])); print(i["productName"], i["fileVersionText"])' \
    "$1/generated/identity.json"
}
