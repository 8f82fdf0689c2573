# The "Send Message" window of the client, single and multiple mode: a private server, Alice
# with Bob and Carol on her list (accounts made with tlvmsg), the real client opened on Bob's
# window with its "--open message:ID" switch once it is logged in. Pictures go to $OUT/messages.
set -euo pipefail

shots="$OUT/messages"
mkdir -p "$shots"
messenger="$BUILD/client/ui/TalvorineMessenger"
server_bin="$BUILD/server/TalvorineMessengerServer"
setup_bin="$BUILD/server/TalvorineMessengerServerSetup"
tlvmsg="$BUILD/client/cli/tlvmsg"
for program in "$messenger" "$server_bin" "$setup_bin" "$tlvmsg"; do
  [[ -x $program ]] || { echo "30-messages-send: build $program first" >&2; exit 1; }
done

work=$(mktemp -d /tmp/tlv-send-shots.XXXXXX)
server_pid="" client_pid=""
cleanup() {
  for pid in $client_pid $server_pid; do
    kill -TERM "$pid" 2>/dev/null || true
  done
  sleep 0.5
  rm -rf "$work"
}
trap cleanup EXIT

export TALVORINE_REGISTRY_DIR="$work/registry" TALVORINE_SERVER_HOME="$work/server"
export ODBCINI="$work/odbc.ini" TALVORINE_STOP_EVENT="tlv-send-shots-stop-$$"
export TALVORINE_CLIENT_HOME="$work/client" XDG_CONFIG_HOME="$work/config"
export TALVORINE_CLIENT_CHANNEL="tlv-send-shots-client-$$"
export TALVORINE_POSTSENTRY_CHANNEL="tlv-send-shots-poller-$$"
export TALVORINE_CLIENT_TRACE=1
mkdir -p "$TALVORINE_REGISTRY_DIR" "$TALVORINE_SERVER_HOME" "$TALVORINE_CLIENT_HOME"

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
"$server_bin" -console >"$work/server.log" 2>&1 &
server_pid=$!
for ((i = 0; i < 100; i++)); do
  grep -q "Messenger Server started" "$work/server.log" 2>/dev/null && break
  sleep 0.1
done

new_account() {  # new_account NICKNAME [REGISTRY CLIENT_HOME]: prints the new id
  echo "$1-pw" | TALVORINE_REGISTRY_DIR="${2:-$TALVORINE_REGISTRY_DIR}" \
    TALVORINE_CLIENT_HOME="${3:-$TALVORINE_CLIENT_HOME}" \
    "$tlvmsg" --server 127.0.0.1 --port "$port" account new --nickname "$1"
}
account=$(new_account Alice)
mkdir -p "$work/others/registry" "$work/others/client"
bob=$(new_account Bob "$work/others/registry" "$work/others/client")
carol=$(new_account Carol "$work/others/registry" "$work/others/client")
users="$TALVORINE_CLIENT_HOME/Users/$account"
mkdir -p "$users"
printf '[Main]\r\nActiveGroup=0\r\n[Groups]\r\nFriends=\r\nWork=\r\nStrangers=\r\n' >"$users/List.dat"
printf '[Friends]\r\n%s=\r\n[Work]\r\n%s=\r\n' "$bob" "$carol" >"$users/Groups.dat"
printf '[%s]\r\nNickname=Bob\r\n' "$bob" >"$users/$bob.usr"
printf '[%s]\r\nNickname=Carol\r\n' "$carol" >"$users/$carol.usr"
settings() {  # settings MULTIPLE: the network values and the window's mode
  cat >>"$TALVORINE_REGISTRY_DIR/user.reg" <<REG

[HKEY_CURRENT_USER\\Software\\Talvorine\\Messenger\\Settings\\Network]
"Server"="127.0.0.1"
"Port"=dword:$(printf '%08x' "$port")
"AutoConnect"=dword:00000001

[HKEY_CURRENT_USER\\Software\\Talvorine\\Messenger\\SendMessage]
"Multiple"=dword:0000000$1
REG
}

trace="$work/trace.txt"
snap_send() {  # snap_send MULTIPLE FILE
  settings "$1"
  : >"$trace"
  "$messenger" --open "message:$bob" 2>"$trace" &
  client_pid=$!
  for ((i = 0; i < 200; i++)); do
    grep -qF "window: Send Message" "$trace" && break
    sleep 0.1
  done
  local id
  id=$(wait_window "^Send Message\$")
  xdotool windowactivate --sync "$id" 2>/dev/null || true
  xdotool type --delay 20 "Lunch at noon? The menu is on http://intranet.example/canteen"
  snap_window "^Send Message\$" "$shots/$2"
  kill -TERM "$client_pid" 2>/dev/null || true
  wait "$client_pid" || true
  client_pid=""
}
snap_send 0 send-message.png
snap_send 1 send-message-multiple.png
