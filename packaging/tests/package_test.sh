#!/usr/bin/env bash
# Builds the Debian packages from a built tree and installs, starts, removes and purges them
# in a throw-away root (dpkg --root with the maintainer scripts run against $DPKG_ROOT): the
# files, the unit, the server's user and state folder, a server that answers, a clean removal.
#   package_test.sh BUILD_DIR
set -euo pipefail

build="$1"
work="$(mktemp -d /tmp/talvorine-package-test.XXXXXX)"
root="$work/root"
pidfile="$root/run/talvorine-messenger-server.pid"
failures=0

cleanup() {
  # The server the package started in the throw-away root, if a step failed before removal.
  if [[ -s $pidfile ]]; then
    kill "$(cat "$pidfile")" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

check() {  # check DESCRIPTION COMMAND...
  local what="$1"
  shift
  if "$@" >/dev/null 2>&1; then
    echo "ok: $what"
  else
    echo "FAILED: $what"
    failures=$((failures + 1))
  fi
}
contains() { grep -q -- "$2" <<<"$1"; }
free_port() {  # a port in the range nothing else here uses, not listening now
  local port
  while port=$((20000 + RANDOM % 10000)); (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do :; done
  echo "$port"
}
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

echo "== building the packages"
(cd "$build" && timeout 300 cpack -G DEB -B "$work/packages" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log"; exit 1; }
server_deb=$(ls "$work"/packages/talvorine-messenger-server_*.deb)
client_deb=$(ls "$work"/packages/talvorine-messenger_*.deb)

server_files=$(dpkg-deb -c "$server_deb")
client_files=$(dpkg-deb -c "$client_deb")
for f in usr/bin/TalvorineMessengerServer usr/bin/TalvorineMessengerServerSetup \
         usr/share/talvorine-messenger/schema/sqlite.sql \
         usr/share/talvorine-messenger/schema/mariadb.sql \
         usr/lib/systemd/system/talvorine-messenger-server.service \
         usr/lib/systemd/system/talvorine-messenger-server.service.d/service-user.conf \
         usr/share/man/man8/TalvorineMessengerServer.8.gz \
         usr/share/man/man8/TalvorineMessengerServerSetup.8.gz; do
  check "server package holds /$f" contains "$server_files" "\./$f\$"
done
for f in usr/bin/tlvmsg usr/bin/TalvorinePostSentry usr/share/man/man1/tlvmsg.1.gz \
         usr/share/man/man1/TalvorinePostSentry.1.gz; do
  check "client package holds /$f" contains "$client_files" "\./$f\$"
done
check "the server is only in the server package" \
  bash -c "! grep -q TalvorineMessengerServer <<<'$client_files'"
check "the server package depends on the SQLite ODBC driver" \
  contains "$(dpkg-deb -f "$server_deb" Depends)" libsqliteodbc
# The windowed client and the administration program, where this tree builds them.
if [[ -x $build/client/ui/TalvorineMessenger ]]; then
  check "client package holds /usr/bin/TalvorineMessenger" contains "$client_files" '\./usr/bin/TalvorineMessenger$'
fi
admin_deb=$(ls "$work"/packages/talvorine-messenger-admin_*.deb 2>/dev/null || true)
if [[ -n $admin_deb ]]; then
  check "admin package holds /usr/bin/TalvorMessengerAdmin" \
    contains "$(dpkg-deb -c "$admin_deb")" '\./usr/bin/TalvorMessengerAdmin$'
fi
dpkg-deb -e "$server_deb" "$work/control"
for script in postinst prerm postrm; do
  check "maintainer script $script is valid sh" sh -n "$work/control/$script"
done

echo "== installing into a throw-away root"
mkdir -p "$root"/var/lib/dpkg/{info,updates} "$root"/etc/talvorine "$root"/run
touch "$root"/var/lib/dpkg/{status,available}
for f in passwd group shadow gshadow; do
  grep '^root:' "/etc/$f" >"$root/etc/$f" 2>/dev/null || true
done
port=$(free_port)
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Talvorine\\Messenger Server\\Server Settings]\r\n"Port"=dword:%08x\r\n' \
  "$port" >"$root/etc/talvorine/machine.reg"
# A stop event of its own, so that no other server on this machine hears this one.
export TALVORINE_STOP_EVENT="talvorine-package-test-$$"
dpkg_root() {
  timeout 120 dpkg --root="$root" --force-script-chrootless --force-depends --log=/dev/null "$@"
}
dpkg_root -i "$server_deb" "$client_deb" $admin_deb >"$work/install.log" 2>&1 || { cat "$work/install.log"; exit 1; }

home="$root/var/lib/talvorine-messenger-server"
check "the user talvorine exists" grep -q '^talvorine:.*:/var/lib/talvorine-messenger-server:' "$root/etc/passwd"
check "the state folder belongs to talvorine" \
  test "$(stat -c %u "$home")" = "$(awk -F: '$1 == "talvorine" { print $3 }' "$root/etc/passwd")"
check "the data source was written" grep -q 'Talvorine Messenger Server' "$home/odbc.ini"
check "the tables were created" \
  bash -c "sqlite3 '$home/talvorine-messenger.db' '.tables' | grep -q USERS"
unit="$root/usr/lib/systemd/system/talvorine-messenger-server.service"
check "the unit starts the installed server" grep -qx 'ExecStart=/usr/bin/TalvorineMessengerServer' "$unit"
check "the unit is a notify service" grep -qx 'Type=notify' "$unit"
check "the service runs as talvorine" grep -qx 'User=talvorine' "$unit.d/service-user.conf"
for _ in $(seq 100); do listening "$port" && break; sleep 0.1; done
check "the server started (console form, no systemd here)" listening "$port"
check "the server says it started" grep -q 'Messenger Server started' "$home/console.log"
client_home="$work/client"
account=$(TALVORINE_CLIENT_HOME="$client_home" TALVORINE_REGISTRY_DIR="$work/registry" \
  timeout 60 "$root/usr/bin/tlvmsg" --server 127.0.0.1 --port "$port" account new <<<"secret7" 2>&1 || true)
check "the installed tlvmsg gets an account from the installed server" test "$account" = 00000001

echo "== removing"
server_pid=$(cat "$pidfile" 2>/dev/null || echo 0)
dpkg_root -r talvorine-messenger talvorine-messenger-server ${admin_deb:+talvorine-messenger-admin} >"$work/remove.log" 2>&1 || { cat "$work/remove.log"; exit 1; }
check "the server stopped" bash -c "! kill -0 $server_pid"
check "the server stopped in order" grep -q 'Messenger Server stopped' "$home/console.log"
check "the programs are gone" test ! -e "$root/usr/bin/TalvorineMessengerServer" -a ! -e "$root/usr/bin/tlvmsg"
check "the data survives a removal" test -e "$home/talvorine-messenger.db"
dpkg_root -P talvorine-messenger talvorine-messenger-server ${admin_deb:+talvorine-messenger-admin} >"$work/purge.log" 2>&1 || { cat "$work/purge.log"; exit 1; }
check "a purge removes the state folder" test ! -e "$home"
check "a purge removes the user" bash -c "! grep -q '^talvorine:' '$root/etc/passwd'"
check "nothing of the packages is left" \
  bash -c "! find '$root/usr' -type f 2>/dev/null | grep -q ."

if ((failures > 0)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "every check passed"
