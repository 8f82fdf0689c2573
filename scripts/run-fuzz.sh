#!/usr/bin/env bash
# Builds the libFuzzer targets (the "fuzz" preset: clang with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each one on its committed corpus.
#
#   scripts/run-fuzz.sh [SECONDS]   each target for SECONDS (default 300), in turn
#
# New inputs the fuzzer finds go to build/fuzz/corpus/<target>/ (not the committed corpus;
# copy an input there by hand when it is worth keeping). A crash stops the run and leaves the
# input as build/fuzz/artifacts/<target>/crash-...; the target's program run on that file
# shows it again.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-300}
if ! [[ $seconds =~ ^[0-9]+$ ]] || ((seconds == 0)); then
  echo "usage: $0 [SECONDS]" >&2
  exit 2
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

list=build/fuzz/fuzz-targets.txt
if [[ ! -s $list ]]; then
  echo "run-fuzz: no fuzz targets in $list" >&2
  exit 1
fi
count=$(wc -l <"$list")
index=0
while read -r program corpus; do
  index=$((index + 1))
  name=$(basename "$program")
  work=build/fuzz/corpus/$name
  artifacts=build/fuzz/artifacts/$name
  mkdir -p "$work" "$artifacts"
  echo "run-fuzz: [$index/$count] $name for ${seconds}s"
  # The committed corpus is read, new inputs go to the work folder; -timeout catches hangs.
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "$program" "$work" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=65536 -artifact_prefix="$artifacts/" -print_final_stats=1 >"$artifacts/log.txt" 2>&1 || {
    echo "run-fuzz: $name failed; the end of its log ($artifacts/log.txt):" >&2
    tail -n 40 "$artifacts/log.txt" >&2
    exit 1
  }
  grep -E '^stat::number_of_executed_units|^stat::new_units_added' "$artifacts/log.txt" |
    sed "s/^/run-fuzz:   /"
done <"$list"
echo "run-fuzz: every target ran ${seconds}s without a failure"
