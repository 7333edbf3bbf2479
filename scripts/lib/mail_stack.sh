# shellcheck shell=bash
# A private mail stack: Postfix and Dovecot POP3 from Debian's packages, run
# without installing them. Sourced by the end-to-end test, scripts/try.sh and
# the press benchmark. As root:
#
#   mail_stack_check              says why this machine cannot run it, if so
#   mail_stack_fetch CACHE        downloads the .debs into CACHE (kept between
#                                 runs, checked against apt's index before
#                                 each use) and installs the libraries they
#                                 link against; CACHE must be a folder only
#                                 root controls (mail_stack_root_only)
#   mail_stack_run SECONDS CACHE COMMAND...
#                                 runs COMMAND in private mount, network and
#                                 process namespaces, with MAIL_STACK_DIR a
#                                 fresh folder, removed afterwards, also
#                                 when this shell gets TERM, HUP or INT
#   mail_stack_start              inside them: unpacks the .debs, mounts them
#                                 over the paths the binaries were built for,
#                                 adds the servers' users to a private passwd,
#                                 starts Postfix on 127.0.0.1:25 and Dovecot
#                                 POP3 on 127.0.0.1:110
#   mail_stack_stop               stops both
#
# Nothing of the host changes but the library packages the servers link
# against, installed as ordinary packages, and apt's package lists, refreshed
# when the packages cannot be found: the mounts and the passwd and group files exist
# in the mount namespace only, the ports in the network namespace only, and
# configuration, queue, mailbox and logs in MAIL_STACK_DIR. When COMMAND ends,
# however it ends, the kernel ends every process left in its namespace.
# Postfix delivers to one mailbox, $mail_address (postmaster's mail too), and
# refuses every other recipient at RCPT TO.

mail_stack_packages=(postfix dovecot-core dovecot-pop3d)
# A name no person or service of the host is likely to have.
mail_user=kestrine-try
mail_domain=localhost
mail_address=$mail_user@$mail_domain
mail_password=pop-$$-$RANDOM
mail_stack_dir=
mail_stack_unshare=(unshare --mount --net --pid --fork --mount-proc --kill-child=TERM)

mail_stack_check() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "needs root for private mount, network and process namespaces"; return 1
  fi
  local tool
  for tool in unshare flock timeout ip apt-get dpkg-deb mount; do
    command -v "$tool" >/dev/null || { echo "$tool is not installed"; return 1; }
  done
  # The stack lays overlays over /usr inside the namespace: try one.
  # shellcheck disable=SC2016 # expanded by the inner shell
  "${mail_stack_unshare[@]}" sh -c 'd=$(mktemp -d) && mkdir "$d/empty" &&
    mount -t overlay kestrine-check -o "ro,lowerdir=$d/empty:/usr/lib" /usr/lib; s=$?; rm -rf "$d"; exit $s' \
    >/dev/null 2>&1 || { echo "cannot create private namespaces with an overlay mount here"; return 1; }
}

mail_stack_run() {
  local seconds=$1 cache=$2 status=0 dir saved_traps waited
  shift 2
  dir=$(mktemp -d /tmp/kestrine-mail.XXXXXX) || return 1
  # The servers' users read their configuration in here.
  chmod 755 "$dir"
  # Every process of the run holds this file's lock, inherited from flock.
  touch "$dir/.alive"
  # A signal to this shell is passed on to the run as TERM, which stops its
  # servers (the run's first process is init of its process namespace and
  # takes only signals it handles, TERM among them); then this shell removes
  # the folder as on any other end. The run goes in the background so that the
  # trap fires at once, not when the run ends.
  saved_traps=$(trap -p INT TERM HUP)
  mail_stack_signal=
  mail_stack_pid=
  trap 'mail_stack_stop_run 130' INT
  trap 'mail_stack_stop_run 143' TERM
  trap 'mail_stack_stop_run 129' HUP
  # timeout (0: no bound) puts the run in a process group of its own, relays
  # the signals it gets to the whole group, and kills it 15 s after that.
  MAIL_STACK_DIR=$dir MAIL_STACK_CACHE=$(readlink -f "$cache") \
    timeout -k 15 -s TERM "$seconds" flock "$dir/.alive" "${mail_stack_unshare[@]}" "$@" &
  mail_stack_pid=$!
  [ -n "$mail_stack_signal" ] && kill -TERM "$mail_stack_pid" 2>/dev/null
  # wait returns early when a trap fires: then the run ends within the 15 s
  # above, and 20 s after the signal at most this shell stops waiting for it.
  [ -n "$mail_stack_signal" ] || wait "$mail_stack_pid" || status=$?
  if [ -n "$mail_stack_signal" ]; then
    status=$mail_stack_signal
    waited=0
    while kill -0 "$mail_stack_pid" 2>/dev/null && [ $waited -lt 200 ]; do
      sleep 0.1
      waited=$((waited + 1))
    done
    if kill -0 "$mail_stack_pid" 2>/dev/null; then
      echo "mail stack: the run did not end within 20 s of $mail_stack_signal_name; killing it"
      kill -KILL "$mail_stack_pid" 2>/dev/null
    fi
    wait "$mail_stack_pid" 2>/dev/null || true
  fi
  # unshare returns once its own child has gone, while the rest of the run may
  # still be stopping its servers: wait for it, 15 s at most, before removing
  # what they use.
  flock -w 15 "$dir/.alive" true || echo "mail stack: the run inside did not end within 15 s"
  rm -rf "$dir"
  trap - INT TERM HUP
  eval "$saved_traps"
  mail_stack_pid=
  return $status
}

# The traps of mail_stack_run: $1 is the status the run returns.
mail_stack_stop_run() {
  [ -n "$mail_stack_signal" ] && return 0
  mail_stack_signal=$1
  mail_stack_signal_name=SIG$(kill -l "$1")
  echo "mail stack: $mail_stack_signal_name received, stopping the private mail servers" >&2
  [ -n "$mail_stack_pid" ] && kill -TERM "$mail_stack_pid" 2>/dev/null
  return 0
}

# True when PATH exists and neither it nor a folder above it can be changed by
# anyone but root: each is owned by root and writable by root alone, or is a
# sticky folder such as /tmp, where others cannot rename or remove what root
# placed. A cache whose servers root starts must sit in such a place, since
# whoever can replace a folder on the way can replace the packages.
mail_stack_root_only() {
  local path
  path=$(readlink -f "$1") || return 1
  while :; do
    [ -e "$path" ] || return 1
    local owner mode
    read -r owner mode < <(stat -c '%u %a' "$path") || return 1
    [ "$owner" -eq 0 ] || return 1
    # Group or others may write only where the sticky bit is set.
    if (( (8#$mode & 8#022) != 0 && (8#$mode & 8#1000) == 0 )); then
      return 1
    fi
    [ "$path" = / ] && return 0
    path=$(dirname "$path")
  done
}

# Downloads what is missing from CACHE and installs the libraries the
# packages need, both idempotently; a lock keeps two runs from fetching into
# the same cache at once. Every step that waits on the network is bounded.
mail_stack_fetch() {
  local cache=$1 package missing=() status=0
  # Root unpacks and starts what is in here: a cache someone else owns (a
  # symbolic link, a folder handed to a user) is not used but made anew.
  if [ "$(id -u)" -eq 0 ] && { [ -L "$cache" ] || { [ -e "$cache" ] &&
    [ "$(stat -c '%u' "$cache")" != 0 ]; }; }; then
    echo "mail stack: $cache is not root's own; making it anew"
    rm -rf "$cache" || return 1
  fi
  mkdir -p "$cache" && chmod 755 "$cache" || return 1
  # The lock is on the folder itself, opened for reading: a lock file could be
  # a planted link to another file, which opening for writing would truncate.
  exec 9<"$cache" || return 1
  if ! flock -w 300 9; then
    echo "mail stack: another run kept $cache locked for 5 minutes"; exec 9<&-; return 1
  fi
  rm -f "$cache/.lock"
  mail_stack_drop_unverified "$cache"
  for package in "${mail_stack_packages[@]}"; do
    compgen -G "$cache/${package}_*.deb" >/dev/null || missing+=("$package")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "mail stack: downloading ${missing[*]} into $cache"
    # apt drops to its own user to download unless told otherwise, and that
    # user cannot write into a cache of root's.
    if ! mail_stack_download "$cache" "${missing[@]}"; then
      # A machine that never read the package lists finds nothing.
      if ! timeout 180 apt-get update -qq -o DPkg::Lock::Timeout=120 || ! mail_stack_download "$cache" "${missing[@]}"; then
        echo "mail stack: could not download ${missing[*]}"
        status=1
      fi
    fi
    if [ $status -eq 0 ]; then
      mail_stack_drop_unverified "$cache"
      for package in "${missing[@]}"; do
        compgen -G "$cache/${package}_*.deb" >/dev/null ||
          { echo "mail stack: the download of $package does not match apt's index"; status=1; }
      done
    fi
  fi
  [ $status -eq 0 ] && { mail_stack_install_libraries "$cache" || status=1; }
  exec 9<&-
  return $status
}

# Removes from CACHE every file but the .debs of the stack's packages, one
# each, named for the package they hold, whose SHA256 is the one apt's index
# gives for that package and version: a download cut short, a file swapped or
# altered, a version apt no longer lists, a second copy or version of one
# package (all would be unpacked).
mail_stack_drop_unverified() {
  local cache=$1 file package version sum index
  declare -A kept=()
  for file in "$cache"/* "$cache"/.[!.]*; do
    [ -e "$file" ] || [ -L "$file" ] || continue
    if [ -f "$file" ] && [ ! -L "$file" ] && [[ $file == *.deb ]] &&
      package=$(dpkg-deb -f "$file" Package 2>/dev/null) &&
      version=$(dpkg-deb -f "$file" Version 2>/dev/null) &&
      [[ " ${mail_stack_packages[*]} " == *" $package "* ]] && [[ ${file##*/} == "${package}"_* ]] &&
      [ -z "${kept[$package]:-}" ]; then
      sum=$(sha256sum <"$file" | cut -d' ' -f1)
      # Read whole, not piped into grep -q: under pipefail apt-cache, cut
      # short by grep's early exit, would fail the check.
      index=$(apt-cache show "$package=$version" 2>/dev/null || true)
      if grep -qxF "SHA256: $sum" <<<"$index"; then
        kept[$package]=1
        continue
      fi
    fi
    echo "mail stack: removing ${file##*/} from the cache: not a package apt's index vouches for"
    rm -rf "$file"
  done
}

mail_stack_download() {
  local cache=$1
  shift
  (cd "$cache" && timeout 120 apt-get download -q -o APT::Sandbox::User=root "$@" >/dev/null)
}

# The shared libraries the packages depend on, taken from their own control
# data, installed as ordinary packages: libraries only, never the servers.
mail_stack_install_libraries() {
  local cache=$1 deb name wanted=() missing=()
  for deb in "$cache"/*.deb; do
    while read -r name; do
      [[ $name =~ ^(lib[a-z0-9.+-]*[0-9][a-z0-9.+-]*|zlib1g)$ ]] && wanted+=("$name")
    done < <(dpkg-deb -f "$deb" Depends Pre-Depends | tr ',|' '\n' | sed 's/^[A-Za-z-]*://; s/(.*)//; s/:any//' | tr -d ' ')
  done
  for name in $(printf '%s\n' "${wanted[@]}" | sort -u); do
    [ "$(dpkg-query -W -f='${Status}' "$name" 2>/dev/null)" = "install ok installed" ] || missing+=("$name")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "mail stack: installing the libraries ${missing[*]}"
  # Another apt at work holds its lock for a while: wait for it, bounded.
  timeout 300 env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends --no-remove -o DPkg::Lock::Timeout=120 "${missing[@]}" >/dev/null ||
    { echo "mail stack: could not install ${missing[*]}"; return 1; }
}

# The lowest id from 60000 up that neither the passwd nor the group file in
# $1/etc uses.
mail_stack_free_id() {
  local id=60000
  while grep -q "^[^:]*:[^:]*:$id:" "$1/etc/passwd" "$1/etc/group"; do id=$((id + 1)); done
  echo "$id"
}

# Copies of passwd and group that add the servers' users and the mailbox
# owner, mounted over the real files: they exist in this namespace only.
mail_stack_private_users() {
  local d=$1 name id
  mkdir -p "$d/etc" "$d/home"
  # A host user of the same name (a real postfix) gives way in the copies,
  # so that nothing is delivered into a home of the host.
  grep -vE "^(postfix|dovecot|dovenull|$mail_user):" /etc/passwd >"$d/etc/passwd"
  grep -vE "^(postfix|postdrop|dovecot|dovenull|$mail_user):" /etc/group >"$d/etc/group"
  for name in postfix dovecot dovenull "$mail_user"; do
    id=$(mail_stack_free_id "$d")
    echo "$name:x:$id:" >>"$d/etc/group"
    echo "$name:x:$id:$id::$d/home/$name:/usr/sbin/nologin" >>"$d/etc/passwd"
  done
  echo "postdrop:x:$(mail_stack_free_id "$d"):" >>"$d/etc/group"
  chmod 644 "$d/etc/passwd" "$d/etc/group"
  mount --bind "$d/etc/passwd" /etc/passwd &&
    mount --bind "$d/etc/group" /etc/group
}

# Unpacks the packages into DIR/root and lays each of /usr/sbin, /usr/bin and
# /usr/lib of that tree over the host's as a read-only overlay: the binaries
# find their helpers and private libraries (/usr/lib/postfix,
# /usr/lib/dovecot) where they were built to look, and the host's own files
# stay visible beneath.
mail_stack_mount() {
  local d=$1 cache=$2 deb part
  mkdir -p "$d/root"
  for deb in "$cache"/*.deb; do
    dpkg-deb -x "$deb" "$d/root" || { echo "mail stack: could not unpack $deb"; return 1; }
  done
  for part in usr/sbin usr/bin usr/lib; do
    mount -t overlay "kestrine-mail-stack" -o "ro,lowerdir=$d/root/$part:/$part" "/$part" ||
      { echo "mail stack: could not lay the unpacked /$part over the host's"; return 1; }
  done
}

# Starts Postfix on 127.0.0.1:25 and Dovecot POP3 on 127.0.0.1:110, both
# delivering to or serving the one mailbox $mail_address.
mail_stack_start() {
  # The servers' own users read and enter what is made here: not with the
  # caller's umask, which sudo passes on from the user (027 locks them out).
  umask 022
  mail_stack_dir=$MAIL_STACK_DIR
  local d=$MAIL_STACK_DIR cache=$MAIL_STACK_CACHE
  ip link set lo up || { echo "mail stack: could not bring up the private loopback"; return 1; }
  mail_stack_mount "$d" "$cache" || return 1
  mail_stack_private_users "$d" || { echo "mail stack: could not lay private passwd and group files"; return 1; }

  local home=$d/home/$mail_user
  mkdir -p "$home/Maildir"/{cur,new,tmp}
  chown -R "$mail_user:" "$home"
  chmod 700 "$home"

  mkdir -p "$d/postfix/conf" "$d/postfix/queue" "$d/postfix/data"
  chown postfix: "$d/postfix/data"
  cat >"$d/postfix/conf/main.cf" <<CF
compatibility_level = 3.6
queue_directory = $d/postfix/queue
data_directory = $d/postfix/data
meta_directory = $d/root/etc/postfix
command_directory = /usr/sbin
daemon_directory = /usr/lib/postfix/sbin
shlib_directory = /usr/lib/postfix
mail_owner = postfix
setgid_group = postdrop
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
myhostname = $mail_domain
mydomain = $mail_domain
myorigin = \$myhostname
mydestination = \$myhostname
mynetworks = 127.0.0.0/8
# Only the one mailbox: another domain is refused at RCPT TO, an unknown
# user too, and nothing is ever handed on.
smtpd_relay_restrictions = reject_unauth_destination
alias_maps =
alias_database =
local_recipient_maps = inline:{ $mail_user=ok }
# Postfix always takes mail for the postmaster; it lands in the one mailbox.
virtual_alias_maps = inline:{ postmaster=$mail_user }
home_mailbox = Maildir/
default_transport = error:this private mail server delivers only to $mail_address
relay_transport = \$default_transport
maillog_file = $d/postfix.log
maillog_file_prefixes = $d
biff = no
smtputf8_enable = no
CF
  cat >"$d/postfix/conf/master.cf" <<'CF'
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
  # "postfix start" checks the configuration first and refuses a wrong one.
  mail_stack_start_postfix || return 1

  mkdir -p "$d/dovecot/run" "$d/dovecot/state"
  echo "$mail_user:{PLAIN}$mail_password" >"$d/dovecot/passwd"
  cat >"$d/dovecot/dovecot.conf" <<CF
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
  args = uid=$mail_user gid=$mail_user home=$home
}
mail_location = maildir:~/Maildir
service pop3-login {
  inet_listener pop3 {
    address = 127.0.0.1
    port = 110
  }
}
CF
  dovecot -c "$d/dovecot/dovecot.conf" || { echo "mail stack: Dovecot did not start (see $d/dovecot.log)"; return 1; }
  mail_stack_wait_port 110 open || return 1
}

mail_stack_start_postfix() {
  postfix -c "$mail_stack_dir/postfix/conf" start || { echo "mail stack: Postfix did not start (see $mail_stack_dir/postfix.log)"; return 1; }
  mail_stack_wait_port 25 open
}

# Waits, at most 10 s, until something listens on 127.0.0.1:PORT (open) or
# nothing does (closed).
mail_stack_wait_port() {
  for _ in $(seq 100); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; then [ "$2" = open ] && return 0
    else [ "$2" = closed ] && return 0; fi
    sleep 0.1
  done
  echo "mail stack: port $1 did not become $2 within 10 s"; return 1
}

# Waits, at most 10 s, until Postfix has handed every message it accepted to
# its delivery agent; says what is left when it has not.
mail_stack_wait_delivered() {
  local queue=$mail_stack_dir/postfix/queue left
  for _ in $(seq 100); do
    left=$(find "$queue/maildrop" "$queue/incoming" "$queue/active" -type f 2>/dev/null | wc -l)
    [ "$left" -eq 0 ] && return 0
    sleep 0.1
  done
  echo "mail stack: $left message(s) still in Postfix's queue after 10 s (see $mail_stack_dir/postfix.log)"
  return 1
}

# Waits, at most 10 s, until process $1 has gone.
mail_stack_wait_gone() {
  for _ in $(seq 100); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.1; done
  echo "mail stack: process $1 did not stop within 10 s"; return 1
}

# Stops by the pid file's process, as "postfix stop" does, and waits for it:
# a master still closing down would keep port 25 or the queue busy.
mail_stack_stop_postfix() {
  local pid_file=$mail_stack_dir/postfix/queue/pid/master.pid pid
  [ -f "$pid_file" ] || return 0
  pid=$(tr -d ' ' <"$pid_file")
  postfix -c "$mail_stack_dir/postfix/conf" stop >/dev/null 2>&1 || kill "$pid" 2>/dev/null
  mail_stack_wait_gone "$pid"
}

mail_stack_stop_dovecot() {
  local pid_file=$mail_stack_dir/dovecot/run/master.pid pid
  [ -f "$pid_file" ] || return 0
  pid=$(cat "$pid_file")
  kill "$pid" 2>/dev/null
  mail_stack_wait_gone "$pid"
}

# Stops both servers; fails when one would not stop, so that a leak shows.
# The mounts and the private users go with the namespace.
mail_stack_stop() {
  [ -n "$mail_stack_dir" ] || return 0
  local status=0
  mail_stack_stop_postfix || status=1
  mail_stack_stop_dovecot || status=1
  return $status
}
