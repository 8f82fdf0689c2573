#!/usr/bin/env bash
# Runs the suite's real programs under Xvfb and saves a PNG picture of each of their windows,
# so that a person can look at them. Each program has a part in scripts/screenshots.d/
# (NN-name.sh), run in its own virtual display with these variables set:
#   OUT    the folder for the pictures (one sub-folder per part is usual)
#   BUILD  the build folder whose programs are run (default build/release)
#   and the helpers of scripts/screenshots-lib.sh (snap_window, snap_screen, wait_window).
#
#   scripts/screenshots.sh [OUT_DIR] [PART...]     default build/screenshots, every part
set -euo pipefail
cd "$(dirname "$0")/.."

out="${1:-build/screenshots}"
shift || true
mkdir -p "$out"
export OUT
OUT="$(cd "$out" && pwd)"
export BUILD="${BUILD:-$PWD/build/release}"
export TALVORINE_SOURCE_DIR="$PWD"

for tool in xvfb-run import xdotool; do
  command -v "$tool" >/dev/null || { echo "screenshots: $tool is missing (bash scripts/install-deps.sh)" >&2; exit 1; }
done

parts=()
if (($# > 0)); then
  for name in "$@"; do parts+=(scripts/screenshots.d/*"$name"*.sh); done
else
  parts=(scripts/screenshots.d/*.sh)
fi

status=0
for part in "${parts[@]}"; do
  [[ -e $part ]] || continue
  echo "screenshots: $(basename "$part")"
  if ! xvfb-run -a -s "-screen 0 1280x800x24" bash -c \
      'source scripts/screenshots-lib.sh && source "$1"' _ "$part"; then
    echo "screenshots: $(basename "$part") failed" >&2
    status=1
  fi
done
echo "screenshots: pictures in $OUT"
exit $status
