# The messenger client TalvorineMessenger: a private server, an account made with tlvmsg, then
# the real client started for each picture, its windows opened with its "--open NAME" switch and
# followed through its trace (TALVORINE_CLIENT_TRACE). Sourced by scripts/screenshots.sh inside
# the virtual display; pictures go to $OUT/client.
set -euo pipefail
source scripts/screenshots-client.sh

client_out="$OUT/client"
mkdir -p "$client_out"
client_fixture 10-client

# The account the pictures show, made on the private server.
start_server
account=$(echo "alice-pw" | "$tlvmsg" --server 127.0.0.1 --port "$port" account new --nickname Alice)
stop_server
network_settings
hold_poller_channel

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
extra_pids="$bob_pid"
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
extra_pids="$bob_pid $carol_pid"
wait_trace "window: Receive File"
snap_window "^Receive File\$" "$client_out/receive-file.png"
stop_client
kill -TERM "$carol_pid" "$bob_pid" 2>/dev/null || true
wait "$carol_pid" "$bob_pid" 2>/dev/null || true
carol_pid="" bob_pid="" extra_pids=""

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
