# The administration program: its four pages, the user information sheet of "Detail..." and
# the data source dialog of "...", on a private registry, data source and SQLite database.
admin="$BUILD/admin/TalvorMessengerAdmin"
setup="$BUILD/server/TalvorineMessengerServerSetup"
[[ -x $admin && -x $setup ]] || { echo "screenshots: build TalvorMessengerAdmin and TalvorineMessengerServerSetup first" >&2; exit 1; }

work="$(mktemp -d)"
trap 'kill "${pid:-}" 2>/dev/null || true; rm -rf "$work"' EXIT
export TALVORINE_REGISTRY_DIR="$work/registry" XDG_CONFIG_HOME="$work/config"
export TALVORINE_SERVER_HOME="$work/server" ODBCINI="$work/odbc.ini" HOME="$work"
export TALVORINE_STOP_EVENT="Talvorine screenshots $$"
mkdir -p "$TALVORINE_REGISTRY_DIR" "$XDG_CONFIG_HOME" "$TALVORINE_SERVER_HOME/Log"
"$setup" --home "$TALVORINE_SERVER_HOME" --odbcini "$ODBCINI" \
  --schema "$TALVORINE_SOURCE_DIR/db/schema/sqlite.sql" >/dev/null
sqlite3 "$TALVORINE_SERVER_HOME/talvorine-messenger.db" <<'SQL'
INSERT INTO USERS (ID, Password, Nickname, RealName, Email, Department, Online, Disabled, Gender,
  Birthday, Address, City, Country, Phone, MobilePhone, HomePage, Company, Position, Description)
VALUES
 ('00000001', 'x', 'anna', 'Anna Berg', 'anna.berg@example.org', 'Sales', 1, 0, 2, '1990/05/07',
  '12 Harbour Road', 'Porto', 'Portugal', '+351 22 000 0000', '+351 91 000 0000',
  'https://example.org/anna', 'Talvorine Trading', 'Team lead', 'Back on Mondays.'),
 ('00000002', 'x', 'bob', 'Bob Stone', 'bob@example.org', 'Support', 0, 0, 1, '1985/11/30',
  '', '', '', '', '', '', '', '', ''),
 ('00000003', 'x', 'carol', 'Carol King', 'carol@example.org', 'Accounts', 1, 1, 2, '----/--/--',
  '', '', '', '', '', '', '', '', '');
SQL
printf 'x\n' >"$TALVORINE_SERVER_HOME/Log/2026-12-01 09-00-00.txt"
printf 'x\n' >"$TALVORINE_SERVER_HOME/Log/2026-12-02 09-00-00.txt"

"$admin" &
pid=$!
out="$OUT/admin"
caption="Talvorine Messenger Admin"
id=$(wait_window "$caption") || exit 1
snap_window "$caption" "$out/1-server.png"

# Clicks at a point of the sheet, relative to its top-left corner.
click_at() {
  xdotool mousemove --window "$id" "$1" "$2" click ${3:+--repeat "$3"} 1
  sleep 0.5
}
# The page tabs along the top of the sheet.
show_page() {
  local x=(44 104 156 210)
  click_at "${x[$1]}" 24
}

# The data source dialog of "..." (right of the data source name).
xdotool windowactivate --sync "$id" 2>/dev/null || true
geometry=$(xdotool getwindowgeometry --shell "$id")
eval "$geometry"
click_at $((WIDTH - 44)) 84
snap_window "ODBC Data Source" "$out/5-data-source.png" && {
  xdotool windowactivate --sync "$(wait_window "ODBC Data Source")" 2>/dev/null || true
  xdotool key Escape
}
sleep 0.5

show_page 1
xdotool key --window "$id" alt+n
sleep 0.2
xdotool key --window "$id" Tab
xdotool type --window "$id" "Anna"
xdotool key --window "$id" Return
sleep 0.8
snap_window "$caption" "$out/2-users.png"
# A double-click on the first row opens "Detail...".
click_at 90 155 2
snap_window "User Information" "$out/6-user-information.png"
info=$(wait_window "User Information") && {
  xdotool mousemove --window "$info" 124 24 click 1; sleep 0.5
  snap_window "User Information" "$out/6-user-information-communication.png"
  xdotool mousemove --window "$info" 213 24 click 1; sleep 0.5
  snap_window "User Information" "$out/6-user-information-more.png"
  xdotool windowactivate --sync "$info" 2>/dev/null || true
  xdotool key Escape
}
sleep 0.5
xdotool windowactivate --sync "$id" 2>/dev/null || true

show_page 2
snap_window "$caption" "$out/3-log.png"
show_page 3
snap_window "$caption" "$out/4-about.png"
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
