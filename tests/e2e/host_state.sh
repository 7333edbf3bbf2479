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
  echo "== mail processes"
  ps -e -o pid=,comm= | awk '$2 ~ /^(master|dovecot|exim4?|sendmail|qmgr|smtpd|pickup)$/' | sort
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
