# The user wizard and the user information sheet of the messenger client: a private server,
# accounts made with tlvmsg, then the real client started for each picture with its
# "--open NAME" switch ("user-wizard:GROUP", "info:ID", "own-info") and followed through its
# trace. Sourced by scripts/screenshots.sh inside the virtual display; pictures go to
# $OUT/directory.
set -euo pipefail
source scripts/screenshots-client.sh

dir_out="$OUT/directory"
mkdir -p "$dir_out"
client_fixture 40-directory
start_server

# Alice is the account in use; Bob is on her list with a cached profile; Carol is not.
account=$(echo "alice-pw" | "$tlvmsg" --server 127.0.0.1 --port "$port" account new --nickname Alice)
bob=$(make_contact Bob)
carol=$(make_contact Carol)
network_settings
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

hold_poller_channel

# front WINDOW: brings a sheet in front of the main window, which may open after it.
front() {
  xdotool windowactivate --sync "$1" 2>/dev/null || xdotool windowraise "$1"
  sleep 1
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
