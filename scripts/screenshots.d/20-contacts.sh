# The contact list: the group bar in small and large icons, the context menu in its three
# shapes, floating contacts and the bar docked at the right edge. The main window is not part
# of this picture set: a gallery program shows the bar with prepared data in a window.
gallery="$BUILD/client/ui/tests/contacts_gallery"
if [[ ! -x $gallery ]]; then
  echo "screenshots: $gallery is not built (cmake --build --preset release --target contacts_gallery)" >&2
  exit 1
fi
dir="$OUT/contacts"
mkdir -p "$dir"

run_scene() {  # run_scene SCENE FILE window|screen
  "$gallery" "$1" &
  local pid=$!
  if [[ $3 == window ]]; then
    sleep 1
    snap_window "Talvorine Messenger" "$dir/$2"
  else
    wait_window "Talvorine Messenger" >/dev/null
    sleep 1.5
    snap_screen "$dir/$2"
  fi
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

run_scene small contact-list-small.png window
run_scene large contact-list-large.png window
run_scene menu-contact menu-on-contact.png screen
run_scene menu-empty menu-on-empty-space.png screen
run_scene menu-nogroup menu-without-groups.png screen
run_scene floating floating-contacts.png screen
run_scene docked docked-bar.png screen
