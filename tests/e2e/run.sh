#!/usr/bin/env bash
# End to end, as a user would: the real Kestrine under Xvfb, driven from
# outside with xdotool, submits through a real Postfix; a real POP3 client
# then fetches the message from Dovecot. Everything runs in a private network
# namespace, so nothing can leave it and the test can own ports 25 and 110.
# Exit 77 (skipped) where root, the namespace or a tool is missing.
set -uo pipefail
binary=$(readlink -f "${1:?usage: run.sh KESTRINE_BINARY}")
here=$(cd "$(dirname "$0")" && pwd)

skip() { echo "SKIPPED: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "needs root for a private network namespace and a throwaway mailbox user"
for tool in unshare ip timeout postfix dovecot Xvfb xdotool xclip useradd userdel /usr/bin/python3; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
unshare -n true 2>/dev/null || skip "cannot create a network namespace here"
[ -x "$binary" ] || { echo "FAIL: no Kestrine binary at $binary"; exit 1; }

# Every wait inside is bounded; this bounds the whole run below CTest's own
# timeout, so that a stuck run still gets to its cleanup (CTest kills hard).
if [ "${KESTRINE_E2E_INSIDE:-}" != 1 ]; then
  KESTRINE_E2E_INSIDE=1 exec timeout -s TERM 150 unshare -n bash "$0" "$binary"
fi

# From here on: inside the namespace.
set -e
ip link set lo up
export E2E_DIR
E2E_DIR=$(mktemp -d /tmp/kestrine-e2e.XXXXXX)
chmod 755 "$E2E_DIR"
# shellcheck source=tests/e2e/mail_servers.sh
source "$here/mail_servers.sh"
# shellcheck source=tests/e2e/gui.sh
source "$here/gui.sh"

show_logs() {
  local log
  for log in kestrine.log postfix.log dovecot.log xvfb.log; do
    [ -s "$E2E_DIR/$log" ] || continue
    echo "--- $log (last 40 lines)"
    tail -n 40 "$E2E_DIR/$log"
  done
}

cleanup() {
  local status=$? clean=0
  set +e
  [ $status -ne 0 ] && show_logs
  stop_kestrine
  stop_display
  stop_mail_servers || clean=1
  rm -rf "$E2E_DIR"
  if [ $clean -ne 0 ] && [ $status -eq 0 ]; then
    echo "FAIL: the run passed but left something behind"; status=1
  fi
  exit $status
}
trap cleanup EXIT
trap 'exit 143' TERM INT

fail() { echo "FAIL: $*"; exit 1; }

wait_for_port() { # PORT OPEN|CLOSED: bounded, 10 s
  for _ in $(seq 100); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; then [ "$2" = OPEN ] && return 0
    else [ "$2" = CLOSED ] && return 0; fi
    sleep 0.1
  done
  echo "port $1 did not become $2 within 10 s"; return 1
}

# Checks one copied box: its title, its buttons, and that its prompt matches
# the extended regular expression given for each of its lines, in order. A
# prompt that ends with a line break ends with an empty line.
expect_box() { # BOX BUTTONS LINE_PATTERN...
  local box=$1 buttons=$2; shift 2
  [ "$(box_part title "$box")" = Kestrine ] || fail "box titled '$(box_part title "$box")', want 'Kestrine'"
  [ "$(box_part buttons "$box")" = "$buttons" ] ||
    fail "box buttons '$(box_part buttons "$box")', want '$buttons'"
  local -a lines
  mapfile -t lines < <(box_part prompt "$box")
  [ ${#lines[@]} -eq $# ] || fail "box prompt has ${#lines[@]} lines, want $#"
  local i=0 pattern
  for pattern in "$@"; do
    [[ ${lines[i]} =~ ^($pattern)$ ]] || fail "box prompt line $((i + 1)) is '${lines[i]}', want /$pattern/"
    i=$((i + 1))
  done
}

# SMTP sessions that reached Postfix and said anything: the port probes above
# connect and leave without a command (commands=0/0).
sessions() {
  grep 'postfix/smtpd\[[0-9]*\]: disconnect from' "$E2E_DIR/postfix.log" | grep -vc 'commands=0/0$' || true
}

start_mail_servers
wait_for_port 25 OPEN
wait_for_port 110 OPEN
start_display
start_kestrine "$binary"

sender=kestrine@brimvale.example
recipient="$e2e_user@$e2e_domain"
printf '%s\r\n' \
  'This is a test of the SMTP server of IIS.' \
  'This server is installed together with IIS.' \
  '' \
  'Enter your own "to email address" ' \
  'Then click on button "Send Email"' \
  'Retrieve the email with your POP3 email client, like ' \
  'Outlook Express, Eudoro or Netscape.' \
  '' \
  'You can uninstall Kestrine via Control Panel , Add/Remove Programs.' >"$E2E_DIR/expected-body.txt"
check_message() { # NUMBER
  /usr/bin/python3 "$here/check_pop3_message.py" "$e2e_user" "$e2e_password" "$1" \
    "$sender" "$recipient" "Kestrine Server" high 1 "$E2E_DIR/expected-body.txt"
}

echo "== Send Email with the default recipient: the question, answered No"
press_send_email
box=$(read_message_box) || fail "no question about the placeholder recipient"
echo "$box"
expect_box "$box" "Yes   No" \
  'Are you sure this is a correct email address\?' 'someone@example\.com' ''
close_message_box n
no_message_box_within 2 || fail "No must end the attempt without another box"
# No puts the cursor in the recipient field for the user to correct it.
focused=$(copy_focused_text)
[ "$focused" = someone@example.com ] || fail "after No the focus copies '$focused', want txtTo's text"

echo "== sending to $recipient with importance High"
set_recipient "$recipient"
choose_importance_high
press_send_email
box=$(read_message_box) || fail "no box after Send Email"
echo "$box"
expect_box "$box" OK 'Send Email OK'
close_message_box
no_message_box_within 2 || fail "a second box followed Send Email OK"
check_message 1

echo "== sending again with Postfix stopped"
stop_postfix
wait_for_port 25 CLOSED
press_send_email
box=$(read_message_box) || fail "no box after Send Email with Postfix stopped"
echo "$box"
expect_box "$box" OK \
  'Err_SendEmail' 'Error code = 1001' 'Description = .*connection refused.*' ''
close_message_box
no_message_box_within 2 || fail "a box followed the error report"
kestrine_running || fail "Kestrine did not survive the failure"

echo "== Postfix back: the next press sends the same fields again"
start_postfix
wait_for_port 25 OPEN
press_send_email
box=$(read_message_box) || fail "no box after Send Email with Postfix back"
echo "$box"
expect_box "$box" OK 'Send Email OK'
close_message_box
check_message 2

# The question answered No and the refused connection reached no server:
# Postfix saw exactly the two submissions that were answered OK.
[ "$(sessions)" -eq 2 ] || fail "Postfix logged $(sessions) SMTP sessions, want 2"
kestrine_running || fail "Kestrine is no longer running"
echo "end to end: Send Email OK through Postfix, message fetched over POP3, failure reported with Postfix stopped, fields kept for the next press"
