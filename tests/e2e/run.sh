#!/usr/bin/env bash
# End to end, as a user would: the real Kestrine under Xvfb, driven from
# outside with xdotool, submits through a real Postfix; a real POP3 client
# then fetches the message from Dovecot. Postfix and Dovecot come from Debian's
# packages without being installed (scripts/lib/mail_stack.py), and everything
# runs in private mount, network and process namespaces: nothing can leave
# them, the test owns ports 25 and 110 there, and the host's own mail service,
# if it has one, is left alone. Afterwards the run checks that the host's
# users, packages, mounts, mail ports and mail processes are as they were.
# Exit 77 (skipped) where root, the namespaces or a tool is missing.
#   run.sh KESTRINE_BINARY [PACKAGE_CACHE]
set -uo pipefail
binary=$(readlink -f "${1:?usage: run.sh KESTRINE_BINARY [PACKAGE_CACHE]}")
cache=${2:-$(dirname "$binary")/../mail-stack-cache}
here=$(cd "$(dirname "$0")" && pwd)
stack=(/usr/bin/python3 "$here/../../scripts/lib/mail_stack.py")

skip() { echo "SKIPPED: $*"; exit 77; }

# shellcheck source=tests/e2e/host_state.sh
source "$here/host_state.sh"

# mail_stack.py runs the second part of this script inside the namespaces.
if [ -z "${MAIL_STACK_DIR:-}" ]; then
  reason=$("${stack[@]}" check) || skip "$reason"
  for tool in Xvfb xdotool xclip ss ps findmnt sha256sum /usr/bin/python3; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
  done
  [ -x "$binary" ] || { echo "FAIL: no Kestrine binary at $binary"; exit 1; }
  "${stack[@]}" fetch "$cache" || { echo "FAIL: the mail servers' packages could not be had"; exit 1; }
  before=$(host_state)
  export E2E_DIR
  E2E_DIR=$(mktemp -d /tmp/kestrine-e2e.XXXXXX)
  chmod 755 "$E2E_DIR"
  # shellcheck source=tests/e2e/gui.sh
  source "$here/gui.sh"
  trap 'stop_display; rm -rf "$E2E_DIR"' EXIT
  # The display runs out here, as a desktop's does: an X server inside the
  # process namespace would not see the process ids in other servers' lock
  # files, take them for stale and steal those displays.
  start_display || { echo "FAIL: no display"; exit 1; }
  # Every wait inside is bounded; this bounds the whole run below CTest's own
  # timeout, so that a stuck run still gets to its cleanup (CTest kills hard).
  "${stack[@]}" run --seconds 150 --cache "$cache" -- bash "$0" "$binary" "$cache"
  status=$?
  same_host_state "$before" || status=1
  exit $status
fi

# From here on: inside the namespaces, as root, on the display of the part
# above, the servers up (mail_stack.py stops them, failing if one would not).
set -e
# shellcheck source=tests/e2e/gui.sh
source "$here/gui.sh"

show_logs() {
  local log
  for log in "$E2E_DIR/kestrine.log" "$MAIL_STACK_DIR/postfix.log" "$MAIL_STACK_DIR/dovecot.log" "$E2E_DIR/xvfb.log"; do
    [ -s "$log" ] || continue
    echo "--- ${log##*/} (last 40 lines)"
    tail -n 40 "$log"
  done
}

cleanup() {
  local status=$?
  set +e
  [ $status -ne 0 ] && show_logs
  stop_kestrine
  exit $status
}
trap cleanup EXIT
trap 'exit 143' TERM INT

fail() { echo "FAIL: $*"; exit 1; }

# Checks one copied box: its title, its buttons, and that its prompt matches
# the extended regular expression given for each of its lines, in order. A
# prompt that ends with a line break ends with an empty line.
expect_box() { # BOX BUTTONS LINE_PATTERN...
  local box=$1 buttons=$2; shift 2
  [ "$(box_part title "$box")" = "$(driver title box)" ] || fail "box titled '$(box_part title "$box")', want '$(driver title box)'"
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
  grep 'postfix/smtpd\[[0-9]*\]: disconnect from' "$MAIL_STACK_DIR/postfix.log" | grep -vc 'commands=0/0$' || true
}

start_kestrine "$binary"

sender=kestrine@brimvale.example
mailer=$(build_mailer "$(dirname "$binary")/..")
recipient=$MAIL_ADDRESS
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
check_message() { # NUMBER QUEUE_ID
  /usr/bin/python3 "$here/check_pop3_message.py" "$MAIL_USER" "$MAIL_PASSWORD" "$1" \
    "$sender" "$recipient" "Kestrine Server" high 1 "$E2E_DIR/expected-body.txt" "$2" "$mailer"
}
# The queue id Postfix named in its final reply, as the OK box's details end.
queue_id() { # BOX
  box_part details "$1" | tail -n 1 | sed -n 's/^The server accepted the message: 250 .*queued as \([0-9A-Za-z]*\).*/\1/p'
}

echo "== Send Email with the default recipient: the question, answered No"
driver click cmdSendEmail
box=$(driver box) || fail "no question about the placeholder recipient"
echo "$box"
expect_box "$box" "Yes   No" \
  'Are you sure this is a correct email address\?' 'someone@example\.com' ''
driver close-box n
driver no-box 2 || fail "No must end the attempt without another box"
# No puts the cursor in the recipient field for the user to correct it.
focused=$(driver focused-text)
[ "$focused" = someone@example.com ] || fail "after No the focus copies '$focused', want txtTo's text"

echo "== sending to $recipient with importance High"
driver fill txtTo "$recipient"
driver click lstImportance
driver key End # the last item: High
driver click cmdSendEmail
box=$(driver box) || fail "no box after Send Email"
echo "$box"
expect_box "$box" OK 'Send Email OK'
id=$(queue_id "$box")
[ -n "$id" ] || fail "the OK box's details end with no queue id"
# Postfix offers STARTTLS with its self-signed certificate: the details tell its facts.
for fact in 'TLS established: TLSv1.' 'certificate: CN=localhost; alternative names: DNS:localhost' \
  'issuer: CN=localhost' ' days left' 'not enforced' 'self-signed'; do
  box_part details "$box" | grep -qF -- "$fact" || fail "the OK box's details do not name '$fact'"
done
driver close-box
driver no-box 2 || fail "a second box followed Send Email OK"
check_message 1 "$id"

echo "== sending again with Postfix stopped"
"${stack[@]}" postfix stop
driver click cmdSendEmail
box=$(driver box) || fail "no box after Send Email with Postfix stopped"
echo "$box"
expect_box "$box" OK \
  'Err_SendEmail' 'Error code = 1001' 'Description = .*connection refused.*' ''
driver close-box
driver no-box 2 || fail "a box followed the error report"
kestrine_running || fail "Kestrine did not survive the failure"

echo "== Postfix back: the next press sends the same fields again"
"${stack[@]}" postfix start
driver click cmdSendEmail
box=$(driver box) || fail "no box after Send Email with Postfix back"
echo "$box"
expect_box "$box" OK 'Send Email OK'
id=$(queue_id "$box")
driver close-box
check_message 2 "$id"

# The question answered No and the refused connection reached no server:
# Postfix saw exactly the two submissions that were answered OK.
[ "$(sessions)" -eq 2 ] || fail "Postfix logged $(sessions) SMTP sessions, want 2"
kestrine_running || fail "Kestrine is no longer running"
echo "end to end: Send Email OK through Postfix, message fetched over POP3, failure reported with Postfix stopped, fields kept for the next press"
