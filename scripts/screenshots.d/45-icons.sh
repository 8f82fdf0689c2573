# User pictures: "Customize Icons" for a contact (local pictures) and for oneself (upload), the
# bitmap chooser with its Preview panel, the three progress windows, the download's report and
# the ready-made pictures shipped with the client. A gallery program shows each window with
# prepared data.
gallery="$BUILD/client/ui/tests/icons_gallery"
if [[ ! -x $gallery ]]; then
  echo "screenshots: $gallery is not built (cmake --build --preset release --target icons_gallery)" >&2
  exit 1
fi
dir="$OUT/icons"
mkdir -p "$dir"

run_scene() {  # run_scene SCENE TITLE FILE
  "$gallery" "$1" &
  local pid=$!
  snap_window "$2" "$dir/$3"
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

run_scene customize "Customize Icons" customize-icons-contact.png
run_scene upload "Customize Icons" customize-icons-own.png
run_scene chooser "Bitmaps" bitmap-chooser-preview.png
run_scene uploading "Uploading Icons" progress-uploading.png
run_scene copying "Copying Icon Files" progress-copying.png
run_scene downloading "Updating User Icons" progress-downloading.png
run_scene report "Talvorine Messenger" download-report.png

# The ready-made pictures, enlarged four times on grey so magenta and edges can be judged.
pictures="$BUILD/client/ui/data/Icons"
if command -v montage >/dev/null && [[ -d $pictures ]]; then
  montage "$pictures"/*.bmp -filter point -resize 400% -tile 9x -geometry +6+6 \
    -background '#d0d0d0' "$dir/stock-pictures.png"
fi
