# The "Send Message" window of the client, single and multiple mode: a private server, Alice
# with Bob and Carol on her list (accounts made with tlvmsg), the real client opened on Bob's
# window with its "--open message:ID" switch once it is logged in. Pictures go to $OUT/messages.
set -euo pipefail
source scripts/screenshots-client.sh

shots="$OUT/messages"
mkdir -p "$shots"
client_fixture 30-messages-send

start_server
account=$(echo "alice-pw" | "$tlvmsg" --server 127.0.0.1 --port "$port" account new --nickname Alice)
bob=$(make_contact Bob)
carol=$(make_contact Carol)
users="$TALVORINE_CLIENT_HOME/Users/$account"
mkdir -p "$users"
printf '[Main]\r\nActiveGroup=0\r\n[Groups]\r\nFriends=\r\nWork=\r\nStrangers=\r\n' >"$users/List.dat"
printf '[Friends]\r\n%s=\r\n[Work]\r\n%s=\r\n' "$bob" "$carol" >"$users/Groups.dat"
printf '[%s]\r\nNickname=Bob\r\n' "$bob" >"$users/$bob.usr"
printf '[%s]\r\nNickname=Carol\r\n' "$carol" >"$users/$carol.usr"
network_settings
hold_poller_channel

snap_send() {  # snap_send MULTIPLE FILE: the window in that mode, with a line typed
  cat >>"$TALVORINE_REGISTRY_DIR/user.reg" <<REG

[HKEY_CURRENT_USER\\Software\\Talvorine\\Messenger\\SendMessage]
"Multiple"=dword:0000000$1
REG
  start_client --open "message:$bob"
  wait_trace "window: Send Message"
  local id
  id=$(wait_window "^Send Message\$")
  xdotool windowactivate --sync "$id" 2>/dev/null || true
  xdotool type --delay 20 "Lunch at noon? The menu is on http://intranet.example/canteen"
  snap_window "^Send Message\$" "$shots/$2"
  stop_client
}
snap_send 0 send-message.png
snap_send 1 send-message-multiple.png
