#!/usr/bin/env bash
# Sourced inside a private network namespace, as root. Starts Postfix on
# 127.0.0.1:25 delivering only to a throwaway Maildir user, and Dovecot POP3 on
# 127.0.0.1:110 for that user. Everything lives under $E2E_DIR.

e2e_user=kestrine-e2e-$$
e2e_password=pop-$$-$RANDOM
e2e_domain=kestrine-e2e.test

start_mail_servers() {
  local d=$E2E_DIR
  remove_stale_mailbox_users
  useradd --no-create-home --home-dir "$d/home" --shell /usr/sbin/nologin "$e2e_user"
  mkdir -p "$d/home/Maildir"/{cur,new,tmp}
  chown -R "$e2e_user:" "$d/home"
  chmod 700 "$d/home"

  mkdir -p "$d/postfix/conf" "$d/postfix/queue" "$d/postfix/data"
  chown postfix: "$d/postfix/data"
  cat > "$d/postfix/conf/main.cf" <<CF
compatibility_level = 3.6
queue_directory = $d/postfix/queue
data_directory = $d/postfix/data
command_directory = /usr/sbin
daemon_directory = /usr/lib/postfix/sbin
meta_directory = /etc/postfix
mail_owner = postfix
setgid_group = postdrop
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
myhostname = mail.$e2e_domain
mydomain = $e2e_domain
myorigin = \$mydomain
mydestination = \$mydomain, \$myhostname
mynetworks = 127.0.0.0/8
smtpd_relay_restrictions = permit_mynetworks, reject_unauth_destination
alias_maps =
alias_database =
local_recipient_maps = unix:passwd.byname
home_mailbox = Maildir/
default_transport = error:outside the test namespace
relay_transport = error:outside the test namespace
maillog_file = $d/postfix.log
maillog_file_prefixes = $d
biff = no
smtputf8_enable = no
CF
  cat > "$d/postfix/conf/master.cf" <<'CF'
smtp      inet  n       -       n       -       -       smtpd
pickup    unix  n       -       n       60      1       pickup
cleanup   unix  n       -       n       -       0       cleanup
qmgr      unix  n       -       n       300     1       qmgr
rewrite   unix  -       -       n       -       -       trivial-rewrite
bounce    unix  -       -       n       -       0       bounce
defer     unix  -       -       n       -       0       bounce
trace     unix  -       -       n       -       0       bounce
verify    unix  -       -       n       -       1       verify
flush     unix  n       -       n       1000?   0       flush
proxymap  unix  -       -       n       -       -       proxymap
showq     unix  n       -       n       -       -       showq
error     unix  -       -       n       -       -       error
retry     unix  -       -       n       -       -       error
discard   unix  -       -       n       -       -       discard
local     unix  -       n       n       -       -       local
anvil     unix  -       -       n       -       1       anvil
scache    unix  -       -       n       -       1       scache
postlog   unix-dgram n  -       n       -       1       postlogd
CF
  postfix -c "$d/postfix/conf" check
  start_postfix

  mkdir -p "$d/dovecot/run" "$d/dovecot/state"
  echo "$e2e_user:{PLAIN}$e2e_password" > "$d/dovecot/passwd"
  cat > "$d/dovecot/dovecot.conf" <<CF
base_dir = $d/dovecot/run
state_dir = $d/dovecot/state
log_path = $d/dovecot.log
protocols = pop3
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $d/dovecot/passwd
}
userdb {
  driver = static
  args = uid=$e2e_user gid=$e2e_user home=$d/home
}
mail_location = maildir:~/Maildir
service pop3-login {
  inet_listener pop3 {
    address = 127.0.0.1
    port = 110
  }
}
CF
  dovecot -c "$d/dovecot/dovecot.conf"
}

# Waits, at most 10 s, until process $1 has gone.
wait_gone() {
  for _ in $(seq 100); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.1; done
  echo "process $1 did not stop within 10 s"; return 1
}

# Stops by the pid file's process, as "postfix stop" does, and waits for it:
# a master still closing down would keep port 25 or the queue busy.
stop_postfix() {
  local pid_file=$E2E_DIR/postfix/queue/pid/master.pid pid
  [ -f "$pid_file" ] || return 0
  pid=$(tr -d ' ' <"$pid_file")
  postfix -c "$E2E_DIR/postfix/conf" stop >/dev/null 2>&1 || kill "$pid" 2>/dev/null
  wait_gone "$pid"
}

start_postfix() { postfix -c "$E2E_DIR/postfix/conf" start; }

stop_dovecot() {
  local pid_file=$E2E_DIR/dovecot/run/master.pid pid
  [ -f "$pid_file" ] || return 0
  pid=$(cat "$pid_file")
  kill "$pid" 2>/dev/null
  wait_gone "$pid"
}

# Leaves nothing behind: both servers, then the mailbox user, whose removal
# fails while one of its POP3 processes still runs. Fails when something
# could not be removed, so that a leak shows.
stop_mail_servers() {
  local status=0
  stop_postfix || status=1
  stop_dovecot || status=1
  if id "$e2e_user" >/dev/null 2>&1; then
    for _ in $(seq 50); do
      [ -z "$(ps -u "$e2e_user" -o pid= 2>/dev/null)" ] && break
      sleep 0.1
    done
    userdel "$e2e_user" || { echo "could not remove the mailbox user $e2e_user"; status=1; }
  fi
  return $status
}

# Mailbox users of earlier runs that were killed before they could clean up:
# the name carries the run's process id.
remove_stale_mailbox_users() {
  local name
  for name in $(awk -F: '/^kestrine-e2e-[0-9]+:/ {print $1}' /etc/passwd); do
    kill -0 "${name#kestrine-e2e-}" 2>/dev/null || userdel "$name" 2>/dev/null || true
  done
}
