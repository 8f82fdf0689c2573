#!/usr/bin/env bash
# Installs every Debian package the project needs. Safe to run again: apt-get skips what is there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  unixodbc unixodbc-dev libsqliteodbc sqlite3
  mariadb-server mariadb-client odbc-mariadb
  libsystemd-dev libcrypt-dev
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libgl-dev
  clang-format clang libclang-rt-14-dev
  libsystemd-dev
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libgl-dev libxcb1-dev
  clang-format
  xvfb xauth imagemagick xdotool openbox
  libatspi2.0-dev at-spi2-core dbus-daemon  # two real clients driven by their controls' names
  samba samba-common-bin libnss-wrapper
  libgmime-3.0-dev scdoc dpkg-dev dovecot-pop3d
  unrtf  # a second RTF reader: the RTF tests check what our writer produces with it
)

if [[ $(id -u) -eq 0 ]]; then
  sudo=()
else
  sudo=(sudo)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  echo "install-deps: every package is installed"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# The tests run a private MariaDB instance of their own (scripts/mariadb-test-instance.sh);
# the packaged service is not started by the install. Where no policy says so already, a
# temporary one keeps package scripts from starting services.
policy=/usr/sbin/policy-rc.d
if [[ ! -e $policy ]]; then
  printf '#!/bin/sh\nexit 101\n' | "${sudo[@]}" tee "$policy" >/dev/null
  "${sudo[@]}" chmod 755 "$policy"
  trap '"${sudo[@]}" rm -f "$policy"' EXIT
fi
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
# Dovecot is here for the poller's tests, which run a private instance of their own: the
# system's POP3/IMAP service it brings stays off.
if [[ " ${missing[*]} " == *" dovecot-pop3d "* ]]; then
  "${sudo[@]}" systemctl disable --now dovecot.service >/dev/null 2>&1 ||
    "${sudo[@]}" update-rc.d dovecot disable >/dev/null 2>&1 || true
fi
