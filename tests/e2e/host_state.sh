# shellcheck shell=bash
# Sourced by the end-to-end tests: what a run with the private mail stack
# must leave as it found it on the host. Take it after the stack's packages
# were fetched, which may install libraries.

host_state() {
  echo "== users and groups"
  sha256sum /etc/passwd /etc/group /etc/shadow /etc/gshadow 2>/dev/null
  echo "== packages"
  dpkg-query -W -f='${Package} ${Version} ${Status}\n'
  echo "== mounts"
  findmnt -rn -o TARGET,FSTYPE | sort
  echo "== mail ports listened on"
  ss -Hltn | awk '{print $4}' | grep -E ':(25|110|143|465|587|993|995)$' | sort
  echo "== mail daemons running"
  # The long-lived daemons only, by name and count: not process ids, which
  # change when a daemon restarts itself, nor the workers that come and go
  # on their own (Postfix's pickup, qmgr and smtpd; a child of Exim's or
  # Sendmail's daemon, which keeps its parent's name, per connection).
  ps -e -o pid= -o ppid= -o comm= -o args= | awk '
    { pid[NR] = $1; ppid[NR] = $2; name[$1] = $3; line[NR] = $0 }
    END {
      for (i = 1; i <= NR; i++) {
        split(line[i], f)
        if (name[ppid[i]] == f[3]) continue
        if (f[3] == "master") print "postfix master"
        else if (f[3] == "dovecot") print "dovecot"
        else if (f[3] ~ /^exim4?$/ && line[i] ~ / -bd/) print "exim daemon"
        else if (f[3] == "sendmail" && line[i] ~ /MTA: (accepting|rejecting) connections/) print "sendmail daemon"
      }
    }' | sort | uniq -c
}

# Fails, showing the difference, when the host is no longer as in $1.
same_host_state() {
  local after
  after=$(host_state)
  [ "$1" = "$after" ] && return 0
  echo "FAIL: the run changed the host:"
  diff <(echo "$1") <(echo "$after")
  return 1
}
