# shellcheck shell=bash
# Sourced by the end-to-end tests: a private X display, and Kestrine driven
# from outside with the keyboard and mouse, as a user drives it. Every wait is
# bounded.

kestrine_pid=""
display_pid=""
main_window=""

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

# The window positions below are the window's own, in logical pixels of 15
# twips: no Qt scaling may come from the caller's environment.
start_kestrine() {
  mkdir -m 700 "$E2E_DIR/runtime"
  env -u QT_SCALE_FACTOR -u QT_SCREEN_SCALE_FACTORS -u QT_ENABLE_HIGHDPI_SCALING -u WAYLAND_DISPLAY \
    QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$E2E_DIR/runtime" "$1" >"$E2E_DIR/kestrine.log" 2>&1 &
  kestrine_pid=$!
  main_window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Kestrine Server$' | head -n 1)
  [ -n "$main_window" ] || { echo "the main window did not appear within 20 s"; return 1; }
}

kestrine_running() { [ -n "$kestrine_pid" ] && kill -0 "$kestrine_pid" 2>/dev/null; }

stop_kestrine() {
  [ -n "$kestrine_pid" ] || return 0
  kill "$kestrine_pid" 2>/dev/null
  wait "$kestrine_pid" 2>/dev/null
  kestrine_pid=""
}

# Clicks at a point given in the window's twips, as the window is laid out.
click_twips() {
  xdotool mousemove --window "$main_window" $(($1 / 15)) $(($2 / 15)) click 1
}

set_recipient() {
  click_twips 3000 740           # inside txtTo
  xdotool key ctrl+a
  xdotool type --delay 5 "$1"
}

choose_importance_high() {
  click_twips 2400 1420          # the first item of lstImportance
  xdotool key Down Down          # Low -> Medium -> High
}

press_send_email() { click_twips 840 4860; }

# Prints what the focused control copies on Ctrl+A, Ctrl+C: the whole text
# of a text field. Prints nothing when the focus is not in a text field.
copy_focused_text() {
  printf '' | xclip -selection clipboard
  xdotool key ctrl+a ctrl+c
  sleep 0.3
  timeout 2 xclip -o -selection clipboard 2>/dev/null
}

# Waits for a message box (a window titled "Kestrine") and copies it with
# Ctrl+C, as a user copies a box into a ticket. Prints the copy: rules framing
# the title, the prompt, the buttons and the details, when the box has them. Fails when no box shows within
# ${1:-15} seconds.
read_message_box() {
  local box copied
  box=$(timeout "${1:-15}" xdotool search --sync --onlyvisible --name '^Kestrine$' | head -n 1)
  [ -n "$box" ] || return 1
  xdotool windowfocus --sync "$box"
  printf '' | xclip -selection clipboard
  xdotool key ctrl+c
  for _ in $(seq 50); do
    copied=$(timeout 2 xclip -o -selection clipboard 2>/dev/null)
    if [ -n "$copied" ]; then
      printf '%s\n' "$copied"
      return 0
    fi
    sleep 0.1
  done
  echo "the box could not be read"; return 1
}

# One part of a copied box: title, prompt, buttons or details.
box_part() {
  local n
  case "$1" in title) n=1 ;; prompt) n=2 ;; buttons) n=3 ;; details) n=4 ;; esac
  awk -v want="$n" '/^-+$/ {part++; next} part == want' <<<"$2"
}

# Dismisses the box with KEY (Return by default) and waits until it is gone.
close_message_box() {
  xdotool key "${1:-Return}"
  for _ in $(seq 50); do
    xdotool search --onlyvisible --name '^Kestrine$' >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  echo "the box did not close"; return 1
}

# Succeeds when no message box shows within $1 seconds.
no_message_box_within() {
  local another
  if another=$(read_message_box "$1" 2>/dev/null); then
    echo "an unexpected box showed:"; echo "$another"; return 1
  fi
  return 0
}
