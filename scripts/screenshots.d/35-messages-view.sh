# The "Messages" window: a formatted received message, the sent page, the context menus of the
# list and of the text pane, and the box of "&Compact". A gallery program shows the window over
# prepared message stores of its own.
gallery="$BUILD/client/ui/tests/messages_gallery"
if [[ ! -x $gallery ]]; then
  echo "screenshots: $gallery is not built (cmake --build --preset release --target messages_gallery)" >&2
  exit 1
fi
dir="$OUT/messages"
mkdir -p "$dir"

run_scene() {  # run_scene SCENE FILE window|screen
  "$gallery" "$1" &
  local pid=$!
  wait_window "Messages" >/dev/null
  sleep 1.5
  if [[ $3 == window ]]; then
    snap_window "Messages" "$dir/$2"
  else
    snap_screen "$dir/$2"
  fi
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

run_scene received messages-received.png window
run_scene sent messages-sent.png window
run_scene menu-list messages-list-menu.png screen
run_scene menu-pane messages-text-menu.png screen
run_scene compact messages-compact.png screen
