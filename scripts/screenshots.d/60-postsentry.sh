# The mailbox poller against a private Dovecot: its main window after a check, and the mail
# list of a mailbox whose senders and subjects are encoded words.
dir="$OUT/postsentry"
mkdir -p "$dir"
work=$(mktemp -d /tmp/postsentry-pictures.XXXXXX)
dovecot="$TALVORINE_SOURCE_DIR/mailpoll/testing/scripts/dovecot-instance.sh"
port=$(while p=$((20000 + RANDOM % 10000)); (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; do :; done; echo "$p")
export TALVORINE_REGISTRY_DIR="$work/registry" XDG_CONFIG_HOME="$work/config"
mkdir -p "$TALVORINE_REGISTRY_DIR"
chmod 755 "$work"  # Dovecot's own users read its folder inside
cleanup_postsentry() {
  [[ -n ${poller:-} ]] && kill "$poller" 2>/dev/null
  bash "$dovecot" stop "$work/dovecot"
  rm -rf "$work"
}
trap cleanup_postsentry EXIT

bash "$dovecot" start "$work/dovecot" "$port"
bash "$dovecot" user "$work/dovecot" juergen secret
message() {  # FROM SUBJECT DATE
  printf 'From: %s\r\nSubject: %s\r\nDate: %s\r\n\r\n%s\r\n' "$1" "$2" "$3" \
    "$(head -c 3000 /dev/zero | tr '\0' 'x')" >"$work/message"
  bash "$dovecot" deliver "$work/dovecot" juergen "$work/message"
  sleep 0.01
}
message '=?UTF-8?B?SsO8cmdlbiBNw7xsbGVy?= <juergen.mueller@example.org>' \
  '=?UTF-8?Q?Gr=C3=BC=C3=9Fe_aus_M=C3=BCnchen?=' 'Tue, 8 Dec 2026 09:12:44 +0100'
message '=?ISO-8859-1?Q?Fran=E7ois_L=E9vesque?= <francois@example.org>' \
  '=?ISO-8859-1?B?UulzdW3pIGRlIGxhIHLpdW5pb24=?=' 'Tue, 8 Dec 2026 10:03:10 +0100'
message '<noreply@example.org>' 'Your weekly report' 'Tue, 8 Dec 2026 11:30:00 +0100'
message 'Plain Sender <plain@example.org>' '=?UTF-8?B?broken' 'Tue, 8 Dec 2026 12:00:00 +0100'
"$BUILD/mailpoll/testing/mailpoll_seed_account" Office 127.0.0.1 "$port" juergen secret
"$BUILD/mailpoll/testing/mailpoll_seed_account" "Wrong password" 127.0.0.1 "$port" juergen nope
"$BUILD/mailpoll/testing/mailpoll_seed_account" "Closed port" 127.0.0.1 1 juergen secret

"$BUILD/mailpoll/TalvorinePostSentry" -Embedding &
poller=$!
main=$(wait_window "Post Sentry")
sleep 0.5
# click_row N [BUTTON] [COUNT]: a click on the Nth account of the list.
click_row() {
  xdotool mousemove --window "$main" 40 $((53 + ($1 - 1) * 14)) sleep 0.2 \
    click --repeat "${3:-1}" --delay 80 "${2:-1}"
}
# Check each account from its menu ("Check Mail").
sleep 1
for row in 1 2 3; do
  click_row "$row" 3 && sleep 0.6 && xdotool key c
  sleep 0.6
done
sleep 3
snap_window "Post Sentry" "$dir/main.png"
xdotool windowsize "$main" 640 320
sleep 0.5
snap_window "Post Sentry" "$dir/main-wide.png"
# The mail of the first account (a double click on it).
click_row 1 1 2
list=$(wait_window "Office")
sleep 4
snap_window "Office" "$dir/mail-list.png"
xdotool windowsize "$list" 900 360
sleep 0.5
snap_window "Office" "$dir/mail-list-wide.png"
