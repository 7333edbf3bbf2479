# Sourced by run.sh: a private X display, and Kestrine driven from outside
# with the keyboard and mouse, as a user drives it. Every wait is bounded.

kestrine_pid=""
display_pid=""
main_window=""

start_display() {
  export DISPLAY=":$((200 + RANDOM % 500))"
  Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >"$E2E_DIR/xvfb.log" 2>&1 &
  display_pid=$!
  for _ in $(seq 100); do xdotool getmouselocation >/dev/null 2>&1 && return 0; sleep 0.1; done
  echo "Xvfb did not start"; return 1
}

stop_display() { [ -n "$display_pid" ] && kill "$display_pid" 2>/dev/null; display_pid=""; }

start_kestrine() {
  "$1" >"$E2E_DIR/kestrine.log" 2>&1 &
  kestrine_pid=$!
  main_window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Kestrine Server$' | head -n 1)
  [ -n "$main_window" ] || { echo "the main window did not appear"; return 1; }
}

stop_kestrine() { [ -n "$kestrine_pid" ] && kill "$kestrine_pid" 2>/dev/null; kestrine_pid=""; }

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

# Waits for a message box (title "Kestrine"), copies it with Ctrl+C and prints
# its prompt lines. Fails when no box shows within ${1:-15} seconds.
read_message_box() {
  local box
  box=$(timeout "${1:-15}" xdotool search --sync --onlyvisible --name '^Kestrine$' | head -n 1)
  [ -n "$box" ] || return 1
  xdotool windowfocus --sync "$box"
  printf '' | xclip -selection clipboard
  xdotool key ctrl+c
  for _ in $(seq 50); do
    local copied
    copied=$(timeout 2 xclip -o -selection clipboard 2>/dev/null)
    if [ -n "$copied" ]; then
      # The copy is framed by rules: title, prompt, buttons. Print the prompt.
      awk '/^-+$/ {n++; next} n == 2' <<<"$copied"
      return 0
    fi
    sleep 0.1
  done
  echo "the box could not be read"; return 1
}

close_message_box() {
  xdotool key Return
  for _ in $(seq 50); do
    xdotool search --onlyvisible --name '^Kestrine$' >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  echo "the box did not close"; return 1
}
