# The user wizard and the user information sheet of the messenger client: a private server,
# accounts made with tlvmsg, then the real client started for each picture with its
# "--open NAME" switch ("user-wizard:GROUP", "info:ID", "own-info") and followed through its
# trace. Sourced by scripts/screenshots.sh inside the virtual display; pictures go to
# $OUT/directory.
set -euo pipefail

dir_out="$OUT/directory"
mkdir -p "$dir_out"
messenger="$BUILD/client/ui/TalvorineMessenger"
server_bin="$BUILD/server/TalvorineMessengerServer"
setup_bin="$BUILD/server/TalvorineMessengerServerSetup"
tlvmsg="$BUILD/client/cli/tlvmsg"
for program in "$messenger" "$server_bin" "$setup_bin" "$tlvmsg"; do
  [[ -x $program ]] || { echo "40-directory: build $program first" >&2; exit 1; }
done

work=$(mktemp -d /tmp/tlv-directory-shots.XXXXXX)
server_pid="" client_pid="" poller_pid=""
cleanup() {
  for pid in $client_pid $server_pid $poller_pid; do
    kill -TERM "$pid" 2>/dev/null || true
  done
  sleep 0.5
  rm -rf "$work"
}
trap cleanup EXIT

export TALVORINE_REGISTRY_DIR="$work/registry" TALVORINE_SERVER_HOME="$work/server"
export ODBCINI="$work/odbc.ini" TALVORINE_STOP_EVENT="tlv-dir-shots-stop-$$"
export TALVORINE_CLIENT_HOME="$work/client" XDG_CONFIG_HOME="$work/config"
export TALVORINE_CLIENT_CHANNEL="tlv-dir-shots-client-$$" TALVORINE_POSTSENTRY_CHANNEL="tlv-dir-shots-poller-$$"
export TALVORINE_CLIENT_TRACE=1
mkdir -p "$TALVORINE_REGISTRY_DIR" "$TALVORINE_SERVER_HOME" "$TALVORINE_CLIENT_HOME"

# Two free ports P and P + 1 for the server.
port=$(python3 - <<'PY'
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
PY
)
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Talvorine\\Messenger Server\\Server Settings]\r\n"Port"=dword:%08x\r\n' \
  "$port" >"$TALVORINE_REGISTRY_DIR/machine.reg"
"$setup_bin" --home "$TALVORINE_SERVER_HOME" --odbcini "$ODBCINI" >"$work/setup.log" 2>&1

"$server_bin" -console >>"$work/server.log" 2>&1 &
server_pid=$!
for ((i = 0; i < 100; i++)); do
  grep -q "Messenger Server started" "$work/server.log" 2>/dev/null && break
  sleep 0.1
done

# Alice is the account in use; Bob is on her list with a cached profile; Carol is not.
account=$(echo "alice-pw" | "$tlvmsg" --server 127.0.0.1 --port "$port" account new --nickname Alice)
make_contact() {  # make_contact NICKNAME: prints the new account's id
  local home="$work/contact-$1"
  mkdir -p "$home/registry" "$home/client"
  echo "$1-pw" | TALVORINE_REGISTRY_DIR="$home/registry" TALVORINE_CLIENT_HOME="$home/client" \
    "$tlvmsg" --server 127.0.0.1 --port "$port" account new --nickname "$1"
}
bob=$(make_contact Bob)
carol=$(make_contact Carol)
cat >>"$TALVORINE_REGISTRY_DIR/user.reg" <<REG

[HKEY_CURRENT_USER\\Software\\Talvorine\\Messenger\\Settings\\Network]
"Server"="127.0.0.1"
"Port"=dword:$(printf '%08x' "$port")
"AutoConnect"=dword:00000001
"ConnectInterval"=dword:00000005
REG
users="$TALVORINE_CLIENT_HOME/Users/$account"
mkdir -p "$users"
printf '[Main]\r\nActiveGroup=0\r\n[Groups]\r\nFriends=\r\nStrangers=\r\n' >"$users/List.dat"
printf '[Friends]\r\n%s=\r\n' "$bob" >"$users/Groups.dat"
cat >"$users/$bob.usr" <<USR
[$bob]
id=$bob
RealName=Robert Example
Nickname=Bob
Birthday=1990/05/07
Gender=1
Email=bob@example.com
Address=12 Harbour Street
City=Bergen
State=Vestland
Country=Norway
Zip=5003
Phone=+47 555 0101
Fax=
MobilePhone=+47 900 00 101
BeepPager=
HomePage=https://bob.example.com/
Company=Example Shipping
Department=Logistics
Position=Planner
Occupation=Engineer
Description=Back on Mondays.
Updated=1
USR

# The poller's channel is held here, so no poller window covers the pictures.
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
  echo "40-directory: no '$1' in the client's trace" >&2
  cat "$trace" >&2
  return 1
}
stop_client() {
  kill -TERM "$client_pid" 2>/dev/null || true
  wait "$client_pid" || true
  client_pid=""
}
# front WINDOW: brings a sheet in front of the main window, which may open after it.
front() {
  xdotool windowactivate --sync "$1" 2>/dev/null || xdotool windowraise "$1"
  sleep 1
}
press() {  # press WINDOW KEYS...
  local id=$1
  shift
  xdotool windowactivate --sync "$id" 2>/dev/null || xdotool windowfocus "$id"
  xdotool key --clearmodifiers "$@"
  sleep 0.7
}

# The wizard: the condition, the question about an empty one, every user listed.
start_client --open "user-wizard:Friends"
wait_trace "window: User Wizard"
id=$(wait_window "^User Wizard\$")
snap_window "^User Wizard\$" "$dir_out/user-wizard-condition.png"
press "$id" Return
wait_trace "box: Because you didn't specify"
snap_screen "$dir_out/user-wizard-empty-condition.png"
xdotool key --clearmodifiers alt+y
sleep 1.5
snap_window "^User Wizard\$" "$dir_out/user-wizard-result.png"
stop_client

# Carol by her id, chosen and added: the last page.
start_client --open "user-wizard:Friends"
wait_trace "window: User Wizard"
id=$(wait_window "^User Wizard\$")
sleep 0.5
xdotool type --delay 50 "$carol"
press "$id" Return
sleep 1
press "$id" space
press "$id" Return
sleep 1.5
snap_window "^User Wizard\$" "$dir_out/user-wizard-finish.png"
stop_client

# Bob's information, page by page.
start_client --open "info:$bob"
wait_trace "window: User Info"
id=$(wait_window "^User Info\$")
front "$id"
snap_window "^User Info\$" "$dir_out/user-info-basic.png"
press "$id" ctrl+Tab
snap_window "^User Info\$" "$dir_out/user-info-communication.png"
press "$id" ctrl+Tab
snap_window "^User Info\$" "$dir_out/user-info-more.png"
stop_client

# Alice's own profile and the password question of "Save".
start_client --open own-info
wait_trace "window: Change My Info"
id=$(wait_window "^Change My Info\$")
front "$id"
snap_window "^Change My Info\$" "$dir_out/change-my-info-basic.png"
press "$id" ctrl+Tab
snap_window "^Change My Info\$" "$dir_out/change-my-info-communication.png"
press "$id" ctrl+Tab
snap_window "^Change My Info\$" "$dir_out/change-my-info-more.png"
press "$id" alt+s
wait_trace "window: $account - Password Required"
snap_window "Password Required\$" "$dir_out/input-password.png"
stop_client
