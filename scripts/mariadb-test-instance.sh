#!/usr/bin/env bash
# A private MariaDB instance for the tests: its own data folder, unix socket and a free TCP
# port on 127.0.0.1 only, run as the current user. It never reads the system's option files
# and never touches the packaged service.
#
#   scripts/mariadb-test-instance.sh start   create (first time) and start; prints the variables
#   scripts/mariadb-test-instance.sh stop    shut the instance down (data folder kept)
#   scripts/mariadb-test-instance.sh env     print the variables the tests read (export lines)
#   scripts/mariadb-test-instance.sh destroy stop and remove the data folder
#
# The folder is $TALVORINE_MARIADB_DIR, else build/mariadb-test. A stopped instance starts
# again on the same port, socket and data. Each command is safe to repeat.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${TALVORINE_MARIADB_DIR:-$root/build/mariadb-test}"
database="${TALVORINE_MARIADB_DATABASE:-talvorine}"
user="talvorine"
schema="$root/db/schema/mariadb.sql"

mkdir -p "$dir"
dir="$(cd "$dir" && pwd)"
data="$dir/data"
state="$dir/instance.env"
pidfile="$dir/mariadbd.pid"
errlog="$dir/mariadbd.err"
me="$(id -un)"

# A unix socket path may be at most 107 bytes; a deep folder gets a short one in /tmp.
socket="$dir/mysqld.sock"
if ((${#socket} > 100)); then
  socket="/tmp/talvorine-mariadb-$(printf '%s' "$dir" | md5sum | cut -c1-12).sock"
fi

die() {
  echo "mariadb-test-instance: $*" >&2
  exit 1
}

need() {
  command -v "$1" >/dev/null 2>&1 || die "$1 is missing (install mariadb-server: scripts/install-deps.sh)"
}

client() {
  mariadb --no-defaults --protocol=socket --socket="$socket" --user="$me" "$@"
}

running_pid() {
  [[ -f $pidfile ]] || return 1
  local pid
  pid="$(cat "$pidfile" 2>/dev/null)" || return 1
  [[ $pid =~ ^[0-9]+$ ]] && kill -0 "$pid" 2>/dev/null && [[ $(cat "/proc/$pid/comm" 2>/dev/null) == mariadbd ]] || return 1
  echo "$pid"
}

port_free() {
  ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

pick_port() {
  local port
  for _ in $(seq 1 100); do
    port=$((20000 + RANDOM % 30000))
    if port_free "$port"; then
      echo "$port"
      return
    fi
  done
  die "no free TCP port found"
}

print_env() {
  [[ -f $state ]] || die "no instance in $dir (run start first)"
  # shellcheck disable=SC1090
  source "$state"
  cat <<EOF
export TALVORINE_TEST_MARIADB_SOCKET='$socket'
export TALVORINE_TEST_MARIADB_HOST='127.0.0.1'
export TALVORINE_TEST_MARIADB_PORT='$port'
export TALVORINE_TEST_MARIADB_USER='$user'
export TALVORINE_TEST_MARIADB_PASSWORD='$password'
export TALVORINE_TEST_MARIADB_DATABASE='$database'
export TALVORINE_TEST_MARIADB_CONTROL='$root/scripts/mariadb-test-instance.sh'
export TALVORINE_TEST_MARIADB_DIR='$dir'
EOF
}

initialise() {
  rm -rf "$data"
  mkdir -p "$data"
  mariadb-install-db --no-defaults --datadir="$data" --user="$me" --auth-root-authentication-method=socket \
    --skip-test-db --skip-name-resolve >"$dir/install-db.log" 2>&1 ||
    die "mariadb-install-db failed (see $dir/install-db.log)"
}

launch() {
  local port="$1"
  rm -f "$socket"
  # setsid: the instance is not part of the caller's process group or terminal.
  setsid mariadbd --no-defaults --datadir="$data" --user="$me" --socket="$socket" \
    --port="$port" --bind-address=127.0.0.1 --pid-file="$pidfile" --log-error="$errlog" \
    --character-set-server=utf8mb4 --collation-server=utf8mb4_unicode_ci \
    --innodb-buffer-pool-size=64M --innodb-log-file-size=16M --skip-name-resolve \
    --max-connections=200 --skip-log-bin </dev/null >/dev/null 2>&1 &
  local pid=$!
  for _ in $(seq 1 300); do
    if mariadb-admin --no-defaults --protocol=socket --socket="$socket" --user="$me" ping >/dev/null 2>&1; then
      return 0
    fi
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

create_database() {
  # shellcheck disable=SC1090
  source "$state"
  client <<EOF
CREATE DATABASE IF NOT EXISTS \`$database\` CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci;
CREATE USER IF NOT EXISTS '$user'@'localhost' IDENTIFIED BY '$password';
CREATE USER IF NOT EXISTS '$user'@'127.0.0.1' IDENTIFIED BY '$password';
GRANT ALL PRIVILEGES ON \`talvorine%\`.* TO '$user'@'localhost';
GRANT ALL PRIVILEGES ON \`talvorine%\`.* TO '$user'@'127.0.0.1';
FLUSH PRIVILEGES;
EOF
  client "$database" <"$schema"
}

start() {
  need mariadbd
  need mariadb-install-db
  need mariadb
  if running_pid >/dev/null; then
    print_env
    return
  fi
  local fresh=0
  if [[ ! -f $state || ! -d $data/mysql ]]; then
    initialise
    local password
    password="$(head -c 18 /dev/urandom | base64 | tr -dc 'A-Za-z0-9' | head -c 20)"
    printf 'port=%s\npassword=%s\n' "$(pick_port)" "$password" >"$state"
    fresh=1
  fi
  # shellcheck disable=SC1090
  source "$state"
  if ! launch "$port"; then
    # The remembered port may have been taken meanwhile: try fresh ones.
    for _ in 1 2 3; do
      port="$(pick_port)"
      sed -i "s/^port=.*/port=$port/" "$state"
      launch "$port" && break
    done
    running_pid >/dev/null || die "mariadbd did not start (see $errlog)"
  fi
  if ((fresh)); then
    create_database
  fi
  print_env
}

stop() {
  local pid
  pid="$(running_pid)" || {
    rm -f "$pidfile"
    return 0
  }
  mariadb-admin --no-defaults --protocol=socket --socket="$socket" --user="$me" shutdown >/dev/null 2>&1 ||
    kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 1 300); do
    kill -0 "$pid" 2>/dev/null || {
      rm -f "$pidfile"
      return 0
    }
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  rm -f "$pidfile"
}

case "${1:-}" in
start) start ;;
stop) stop ;;
env) print_env ;;
destroy)
  stop
  rm -rf "$data" "$state" "$dir/install-db.log" "$errlog" "$socket"
  ;;
*)
  echo "Usage: $0 start|stop|env|destroy" >&2
  exit 2
  ;;
esac
