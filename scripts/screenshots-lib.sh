# Helpers for the parts of scripts/screenshots.sh; sourced inside the virtual display.

# A window manager draws the captions and frames that people see; without one, Xvfb shows
# bare client areas.
# Its theme leaves out the resize handle along the bottom edge, which pictures show as a
# strip cut off below every window.
if command -v openbox >/dev/null && [[ -z ${SCREENSHOTS_NO_WM:-} ]]; then
  openbox_dir=$(mktemp -d /tmp/screenshots-openbox.XXXXXX)
  mkdir -p "$openbox_dir/themes/Pictures/openbox-3"
  { cat /usr/share/themes/Clearlooks/openbox-3/themerc 2>/dev/null
    echo 'window.handle.width: 0'; } >"$openbox_dir/themes/Pictures/openbox-3/themerc"
  sed 's|<name>Clearlooks</name>|<name>Pictures</name>|' /etc/xdg/openbox/rc.xml >"$openbox_dir/rc.xml"
  XDG_DATA_HOME="$openbox_dir" openbox --config-file "$openbox_dir/rc.xml" >/dev/null 2>&1 &
  sleep 0.5
  rm -rf "$openbox_dir"  # read at start
fi

# wait_window NAME [SECONDS]: prints the id of the first visible window whose name matches NAME.
wait_window() {
  local name=$1 limit=${2:-15} id=""
  for ((i = 0; i < limit * 10; i++)); do
    id=$(xdotool search --onlyvisible --name "$name" 2>/dev/null | head -n 1 || true)
    [[ -n $id ]] && { echo "$id"; return 0; }
    sleep 0.1
  done
  echo "screenshots: no window named '$name'" >&2
  return 1
}

# snap_window NAME FILE: a picture of that window with its frame, once it is shown.
snap_window() {
  local id
  id=$(wait_window "$1") || return 1
  sleep 0.4
  mkdir -p "$(dirname "$2")"
  import -window "$id" -frame "$2" 2>/dev/null || import -window "$id" "$2"
}

# snap_screen FILE: the whole virtual screen (menus, tray menus, several windows).
snap_screen() {
  mkdir -p "$(dirname "$1")"
  import -window root "$1"
}
