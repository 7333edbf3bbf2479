#!/usr/bin/env bash
# Installs the Debian packages Kestrine needs: `run` for building and starting
# it, `try` for that and the private mail servers of scripts/try.sh, `test` for
# building it and running every test, `bench` for the benchmarks as well. Does
# nothing when they are all present already. Uses sudo when not run as root.
#
# No list holds a mail server (nothing that provides mail-transport-agent, no
# POP3 or IMAP server): installing one would replace the machine's own, and
# Debian starts it as a service. The tests and try.sh run Postfix and Dovecot
# from downloaded packages in private namespaces (scripts/lib/mail_stack.py).
set -euo pipefail

run_packages=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgmime-3.0-dev libidn2-dev
  librsvg2-bin fonts-dejavu-core qt6-wayland
)
# What the private mail stack needs besides apt and dpkg.
mail_stack_packages=(python3 iproute2 util-linux openssl)
try_packages=(
  "${run_packages[@]}"
  "${mail_stack_packages[@]}"
)
test_packages=(
  "${try_packages[@]}"
  binutils python3-aiosmtpd openssl valgrind
  xvfb xauth xdotool xclip imagemagick x11-utils weston
  openbox qt6-gtk-platformtheme dbus-daemon at-spi2-core python3-dbus
  procps
  desktop-file-utils appstream dpkg-dev file
  lintian devscripts man-db mmdebstrap diffoscope-minimal git
  clang libclang-rt-14-dev
  locales
)
bench_packages=(
  "${test_packages[@]}"
  swaks time curl
)

case "${1:-}" in
  run) wanted=("${run_packages[@]}") ;;
  try) wanted=("${try_packages[@]}") ;;
  test) wanted=("${test_packages[@]}") ;;
  bench) wanted=("${bench_packages[@]}") ;;
  *) echo "usage: $0 run|try|test|bench" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$package")
done
# Some mail tests run under a Turkish locale, whose case rules differ (the
# dotless i): without it they would silently run in C.
want_turkish=
if [ "$1" = test ] || [ "$1" = bench ]; then
  locale -a 2>/dev/null | grep -qix 'tr_TR\.utf-\?8' || want_turkish=1
fi
[ ${#missing[@]} -eq 0 ] && [ -z "$want_turkish" ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-deps: need root or sudo to install: ${missing[*]} ${want_turkish:+tr_TR.UTF-8}" >&2; exit 1; }
  as_root=(sudo)
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  "${as_root[@]}" apt-get update -qq
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if [ -n "$want_turkish" ]; then
  echo "install-deps: generating the locale tr_TR.UTF-8"
  # Listed in /etc/locale.gen too, so that a later locale-gen, which rebuilds
  # every locale from that list, keeps it.
  if ! grep -qx 'tr_TR.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'tr_TR.UTF-8 UTF-8' | "${as_root[@]}" tee -a /etc/locale.gen >/dev/null
  fi
  "${as_root[@]}" localedef -i tr_TR -f UTF-8 tr_TR.UTF-8
fi
