# The set-up shared by the screenshot parts that run the real messenger client: a private
# server on two free ports, accounts made with tlvmsg, the client's network settings, the
# poller's channel held (so no poller window covers the pictures) and the client started with
# its trace. Sourced by a part after scripts/screenshots-lib.sh:
#   client_fixture TAG      checks the programs, makes $work, exports the private folders and
#                           channels, picks $port and sets the server up (not started)
# then start_server/stop_server, make_contact, network_settings, hold_poller_channel,
# start_client/wait_trace/stop_client and press. Extra processes a part starts go in
# $extra_pids so that the clean-up ends them too.

client_fixture() {
  fixture_tag=$1
  messenger="$BUILD/client/ui/TalvorineMessenger"
  server_bin="$BUILD/server/TalvorineMessengerServer"
  setup_bin="$BUILD/server/TalvorineMessengerServerSetup"
  tlvmsg="$BUILD/client/cli/tlvmsg"
  local program
  for program in "$messenger" "$server_bin" "$setup_bin" "$tlvmsg"; do
    [[ -x $program ]] || { echo "$fixture_tag: build $program first" >&2; exit 1; }
  done

  work=$(mktemp -d "/tmp/tlv-$fixture_tag-shots.XXXXXX")
  server_pid="" client_pid="" poller_pid="" extra_pids=""
  trap client_fixture_cleanup EXIT

  export TALVORINE_REGISTRY_DIR="$work/registry" TALVORINE_SERVER_HOME="$work/server"
  export ODBCINI="$work/odbc.ini" TALVORINE_STOP_EVENT="tlv-$fixture_tag-stop-$$"
  export TALVORINE_CLIENT_HOME="$work/client" XDG_CONFIG_HOME="$work/config"
  export TALVORINE_CLIENT_CHANNEL="tlv-$fixture_tag-client-$$"
  export TALVORINE_POSTSENTRY_CHANNEL="tlv-$fixture_tag-poller-$$"
  export TALVORINE_CLIENT_TRACE=1
  mkdir -p "$TALVORINE_REGISTRY_DIR" "$TALVORINE_SERVER_HOME" "$TALVORINE_CLIENT_HOME"

  # Two free ports P and P + 1 for the server.
  port=$(python3 -c '
import socket
for _ in range(200):
    a = socket.socket(); a.bind(("0.0.0.0", 0)); p = a.getsockname()[1]
    b = socket.socket()
    try:
        b.bind(("0.0.0.0", p + 1)); print(p); break
    except OSError:
        pass
    finally:
        a.close(); b.close()')
  printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Talvorine\\Messenger Server\\Server Settings]\r\n"Port"=dword:%08x\r\n' \
    "$port" >"$TALVORINE_REGISTRY_DIR/machine.reg"
  "$setup_bin" --home "$TALVORINE_SERVER_HOME" --odbcini "$ODBCINI" >"$work/setup.log" 2>&1
  trace="$work/trace.txt"
}

client_fixture_cleanup() {
  local pid
  for pid in $client_pid $server_pid $poller_pid $extra_pids; do
    kill -TERM "$pid" 2>/dev/null || true
  done
  sleep 0.5
  rm -rf "$work"
}

start_server() {
  "$server_bin" -console >>"$work/server.log" 2>&1 &
  server_pid=$!
  for ((i = 0; i < 100; i++)); do
    grep -q "Messenger Server started" "$work/server.log" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "$fixture_tag: the server did not start" >&2
  cat "$work/server.log" >&2
  return 1
}
stop_server() {
  kill -TERM "$server_pid"
  wait "$server_pid" || true
  server_pid=""
}

# make_contact NICKNAME: a new account in a registry and client folder of its own (so the
# part's account stays the one in use); prints its id.
make_contact() {
  local dir="$work/contact-$1"
  mkdir -p "$dir/registry" "$dir/client"
  echo "$1-pw" | TALVORINE_REGISTRY_DIR="$dir/registry" TALVORINE_CLIENT_HOME="$dir/client" \
    "$tlvmsg" --server 127.0.0.1 --port "$port" account new --nickname "$1"
}

# network_settings: the client connects to the private server on its own.
network_settings() {
  cat >>"$TALVORINE_REGISTRY_DIR/user.reg" <<REG

[HKEY_CURRENT_USER\\Software\\Talvorine\\Messenger\\Settings\\Network]
"Server"="127.0.0.1"
"Port"=dword:$(printf '%08x' "$port")
"AutoConnect"=dword:00000001
"ConnectInterval"=dword:00000005
REG
}

# hold_poller_channel: the client takes the poller as running and starts none.
hold_poller_channel() {
  python3 -c "
import socket
s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
s.bind('\0' + '$TALVORINE_POSTSENTRY_CHANNEL'); s.listen(8)
open('$work/poller-held', 'w').close()
while True:
    c, _ = s.accept(); c.close()
" &
  poller_pid=$!
  for ((i = 0; i < 100; i++)); do
    [[ -e $work/poller-held ]] && break
    sleep 0.1
  done
}

start_client() {
  : >"$trace"
  "$messenger" "$@" 2>"$trace" &
  client_pid=$!
}
# wait_trace TEXT [TENTHS]: waits for a line of the client's trace.
wait_trace() {
  for ((i = 0; i < ${2:-200}; i++)); do
    grep -qF "$1" "$trace" && return 0
    sleep 0.1
  done
  echo "$fixture_tag: no '$1' in the client's trace" >&2
  cat "$trace" >&2
  return 1
}
stop_client() {
  kill -TERM "$client_pid" 2>/dev/null || true
  wait "$client_pid" || true
  client_pid=""
}
# press WINDOW KEYS...: keys to a window of the client.
press() {
  local id=$1
  shift
  xdotool windowactivate --sync "$id" 2>/dev/null || xdotool windowfocus "$id"
  xdotool key --clearmodifiers "$@"
  sleep 0.7
}
