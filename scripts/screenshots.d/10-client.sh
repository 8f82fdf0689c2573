# The messenger client TalvorineMessenger: a private server, an account made with tlvmsg, then
# the real client started for each picture, its windows opened with its "--open NAME" switch and
# followed through its trace (TALVORINE_CLIENT_TRACE). Sourced by scripts/screenshots.sh inside
# the virtual display; pictures go to $OUT/client.
set -euo pipefail

client_out="$OUT/client"
mkdir -p "$client_out"
messenger="$BUILD/client/ui/TalvorineMessenger"
server_bin="$BUILD/server/TalvorineMessengerServer"
setup_bin="$BUILD/server/TalvorineMessengerServerSetup"
tlvmsg="$BUILD/client/cli/tlvmsg"
for program in "$messenger" "$server_bin" "$setup_bin" "$tlvmsg"; do
  [[ -x $program ]] || { echo "10-client: build $program first" >&2; exit 1; }
done

work=$(mktemp -d /tmp/tlv-client-shots.XXXXXX)
server_pid="" client_pid="" poller_pid=""
cleanup() {
  for pid in $client_pid $server_pid $poller_pid ${bob_pid:-} ${carol_pid:-}; do
    kill -TERM "$pid" 2>/dev/null || true
  done
  sleep 0.5
  rm -rf "$work"
}
trap cleanup EXIT

export TALVORINE_REGISTRY_DIR="$work/registry" TALVORINE_SERVER_HOME="$work/server"
export ODBCINI="$work/odbc.ini" TALVORINE_STOP_EVENT="tlv-shots-stop-$$"
export TALVORINE_CLIENT_HOME="$work/client" XDG_CONFIG_HOME="$work/config"
export TALVORINE_CLIENT_CHANNEL="tlv-shots-client-$$" TALVORINE_POSTSENTRY_CHANNEL="tlv-shots-poller-$$"
export TALVORINE_CLIENT_TRACE=1
mkdir -p "$TALVORINE_REGISTRY_DIR" "$TALVORINE_SERVER_HOME" "$TALVORINE_CLIENT_HOME"

# Two free ports P and P + 1 for the server.
port=$(python3 - <<'EOF'
import socket
for _ in range(200):
    a = socket.socket(); a.bind(("0.0.0.0", 0)); p = a.getsockname()[1]
    b = socket.socket()
    try:
        b.bind(("0.0.0.0", p + 1)); print(p); break
    except OSError:
        pass
    finally:
        a.close(); b.close()
EOF
)
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Talvorine\\Messenger Server\\Server Settings]\r\n"Port"=dword:%08x\r\n' \
  "$port" >"$TALVORINE_REGISTRY_DIR/machine.reg"
"$setup_bin" --home "$TALVORINE_SERVER_HOME" --odbcini "$ODBCINI" >"$work/setup.log" 2>&1

start_server() {
  "$server_bin" -console >>"$work/server.log" 2>&1 &
  server_pid=$!
  for ((i = 0; i < 100; i++)); do
    grep -q "Messenger Server started" "$work/server.log" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "10-client: the server did not start" >&2
  cat "$work/server.log" >&2
  return 1
}
stop_server() {
  kill -TERM "$server_pid"
  wait "$server_pid" || true
  server_pid=""
}

# The account the pictures show, made on the private server.
start_server
account=$(echo "alice-pw" | "$tlvmsg" --server 127.0.0.1 --port "$port" account new --nickname Alice)
stop_server
cat >>"$TALVORINE_REGISTRY_DIR/user.reg" <<EOF

[HKEY_CURRENT_USER\\Software\\Talvorine\\Messenger\\Settings\\Network]
"Server"="127.0.0.1"
"Port"=dword:$(printf '%08x' "$port")
"AutoConnect"=dword:00000001
"ConnectInterval"=dword:00000005
EOF

# The poller's channel is held here, so the client takes the poller as running and no poller
# window covers the pictures.
python3 -c "
import socket, time
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

trace="$work/trace.txt"
start_client() {
  : >"$trace"
  "$messenger" "$@" 2>"$trace" &
  client_pid=$!
}
wait_trace() {
  for ((i = 0; i < ${2:-200}; i++)); do
    grep -qF "$1" "$trace" && return 0
    sleep 0.1
  done
  echo "10-client: no '$1' in the client's trace" >&2
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
  sleep 0.5
}

# Main window, offline (the server is down) and online.
start_client
wait_trace "caption: $account"
wait_trace "status: Offline"
snap_window "^$account\$" "$client_out/main-offline.png"
stop_client
start_server
start_client
wait_trace "status: Online"
snap_window "^$account\$" "$client_out/main-online.png"
stop_client

# The contact list: Bob and Carol in "Friends", Dave in "Work", each an account of its own made
# on the private server (in registries of their own, so Alice stays the account in use); Bob is
# logged in and listening, so he is shown online.
make_contact() {  # make_contact NICKNAME: prints the new account's id
  local dir="$work/contact-$1"
  mkdir -p "$dir/registry" "$dir/client"
  echo "$1-pw" | TALVORINE_REGISTRY_DIR="$dir/registry" TALVORINE_CLIENT_HOME="$dir/client" \
    "$tlvmsg" --server 127.0.0.1 --port "$port" account new --nickname "$1"
}
bob=$(make_contact Bob)
carol=$(make_contact Carol)
dave=$(make_contact Dave)
users="$TALVORINE_CLIENT_HOME/Users/$account"
mkdir -p "$users"
printf '[Main]\r\nActiveGroup=0\r\n[Groups]\r\nFriends=\r\nWork=\r\nStrangers=\r\n' >"$users/List.dat"
printf '[Friends]\r\n%s=\r\n%s=\r\n[Work]\r\n%s=\r\n' "$bob" "$carol" "$dave" >"$users/Groups.dat"
for pair in "$bob:Bob" "$carol:Carol" "$dave:Dave"; do
  id=${pair%%:*} nick=${pair#*:}
  printf '[%s]\r\nNickname=%s\r\nEmail=%s@example.com\r\n' "$id" "$nick" "${nick,,}" >"$users/$id.usr"
done
TALVORINE_REGISTRY_DIR="$work/contact-Bob/registry" TALVORINE_CLIENT_HOME="$work/contact-Bob/client" \
  "$tlvmsg" --server 127.0.0.1 --port "$port" listen >"$work/bob.log" 2>&1 &
bob_pid=$!
sleep 1

start_client
wait_trace "status: Online"
sleep 2  # the login's status poll
snap_window "^$account\$" "$client_out/main-contacts.png"
stop_client

start_client --open contact-menu
wait_trace "status: Online"
sleep 2
snap_screen "$client_out/contact-menu.png"
stop_client

start_client --open "chat:$bob"
wait_trace "window: Chat Request"
snap_window "^Chat Request\$" "$client_out/chat-request.png"
stop_client

for history in chat-history:Chat transfer-history:"File Transfer"; do
  start_client --open "${history%%:*}:$bob"
  wait_trace "window: ${history#*:}"
  snap_window "^${history#*:}\$" "$client_out/${history%%:*}.png"
  stop_client
done

# Carol offers Alice a file: "Receive File" opens.
printf 'Quarterly figures\n' >"$work/figures.txt"
start_client
wait_trace "status: Online"
TALVORINE_REGISTRY_DIR="$work/contact-Carol/registry" TALVORINE_CLIENT_HOME="$work/contact-Carol/client" \
  "$tlvmsg" --server 127.0.0.1 --port "$port" send-file "$account" "$work/figures.txt" \
  --description "The figures" >"$work/carol.log" 2>&1 &
carol_pid=$!
wait_trace "window: Receive File"
snap_window "^Receive File\$" "$client_out/receive-file.png"
stop_client
kill -TERM "$carol_pid" "$bob_pid" 2>/dev/null || true
wait "$carol_pid" "$bob_pid" 2>/dev/null || true
carol_pid="" bob_pid=""

# The bottom buttons' menus and the tray menu (shown at the window when there is no tray).
for menu in system-menu status-menu tray-menu; do
  start_client --open "$menu"
  wait_trace "status: Online"
  sleep 1.5
  snap_screen "$client_out/$menu.png"
  stop_client
done

# The options sheet, page by page.
start_client --open options
wait_trace "window: Options"
id=$(wait_window "^Options\$")
snap_window "^Options\$" "$client_out/options-1.png"
for page in 2 3 4 5; do
  press "$id" ctrl+Tab
  snap_window "^Options\$" "$client_out/options-$page.png"
done
stop_client

# One dialog per run.
declare -A dialogs=(
  [select-account]="Select Login Account"
  [change-password]="Change Password"
  [away]="Away Mode"
  [shutdown-prompt]="Shut Down ?"
  [about]="About"
)
for name in "${!dialogs[@]}"; do
  start_client --open "$name"
  wait_trace "window: ${dialogs[$name]}"
  snap_window "${dialogs[$name]}" "$client_out/$name.png"
  stop_client
done

# The account wizard: a new account on the private server, page by page.
start_client --open wizard
wait_trace "window: Account Wizard"
id=$(wait_window "^Account Wizard\$")
snap_window "^Account Wizard\$" "$client_out/wizard-1.png"
press "$id" Return  # "Apply a new ID": the server makes one
sleep 1
snap_window "^Account Wizard\$" "$client_out/wizard-2.png"
xdotool type --delay 50 Bob
press "$id" Return
sleep 1
snap_window "^Account Wizard\$" "$client_out/wizard-3.png"
xdotool type --delay 50 bob-secret
xdotool key Tab
xdotool type --delay 50 bob-secret
press "$id" Return
sleep 1
snap_window "^Account Wizard\$" "$client_out/wizard-4.png"
stop_client

# The "Network Settings" sheet of a first start without a server.
mkdir -p "$work/registry-empty" "$work/client-empty"
TALVORINE_REGISTRY_DIR="$work/registry-empty" TALVORINE_CLIENT_HOME="$work/client-empty" \
  start_client
wait_trace "window: Network Settings"
snap_window "^Network Settings\$" "$client_out/network-settings.png"
stop_client
stop_server
