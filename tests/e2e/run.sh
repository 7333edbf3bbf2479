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
for tool in unshare ip postfix dovecot Xvfb xdotool xclip useradd; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
unshare -n true 2>/dev/null || skip "cannot create a network namespace here"

if [ "${KESTRINE_E2E_INSIDE:-}" != 1 ]; then
  KESTRINE_E2E_INSIDE=1 exec unshare -n "$0" "$binary"
fi

# From here on: inside the namespace.
set -e
ip link set lo up
export E2E_DIR
E2E_DIR=$(mktemp -d /tmp/kestrine-e2e.XXXXXX)
chmod 755 "$E2E_DIR"
# shellcheck source=mail_servers.sh
source "$here/mail_servers.sh"
# shellcheck source=gui.sh
source "$here/gui.sh"

cleanup() {
  stop_kestrine
  stop_display
  stop_mail_servers
  rm -rf "$E2E_DIR"
}
trap cleanup EXIT

wait_for_port() { # PORT OPEN|CLOSED: bounded, 10 s
  for _ in $(seq 100); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; then [ "$2" = OPEN ] && return 0
    else [ "$2" = CLOSED ] && return 0; fi
    sleep 0.1
  done
  echo "port $1 did not become $2 within 10 s"; return 1
}

start_mail_servers
wait_for_port 25 OPEN
wait_for_port 110 OPEN
start_display
start_kestrine "$binary"

recipient="$e2e_user@$e2e_domain"
echo "== sending to $recipient with importance High"
set_recipient "$recipient"
choose_importance_high
press_send_email
box=$(read_message_box)
echo "$box"
close_message_box
grep -qx 'Send Email OK' <<<"$box" || { echo "FAIL: expected the Send Email OK box"; exit 1; }
grep -q 'Err_SendEmail' <<<"$box" && { echo "FAIL: an error box came instead"; exit 1; }

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
/usr/bin/python3 "$here/check_pop3_message.py" "$e2e_user" "$e2e_password" "$recipient" high 1 \
  "$E2E_DIR/expected-body.txt"

echo "== sending again with Postfix stopped"
stop_postfix
wait_for_port 25 CLOSED
press_send_email
box=$(read_message_box)
echo "$box"
close_message_box
grep -qx 'Err_SendEmail' <<<"$box" || { echo "FAIL: expected the Err_SendEmail box"; exit 1; }
grep -q '^Error code = 1001$' <<<"$box" || { echo "FAIL: expected error 1001 (no service listening)"; exit 1; }
if another=$(read_message_box 2 2>/dev/null); then
  echo "FAIL: a second box followed the error report:"; echo "$another"; exit 1
fi
echo "end to end: Send Email OK through Postfix, message fetched over POP3, failure reported with Postfix stopped"
