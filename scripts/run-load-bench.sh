#!/usr/bin/env bash
# Builds the release preset and runs the server load benchmark against a fresh server on the
# embedded SQLite default (temporary server folder, settings folder and data source on
# 127.0.0.1; everything is removed at the end). Arguments go to the benchmark, for example
#   scripts/run-load-bench.sh --sessions 1000 --pairs 100,500 --messages 5000   (quick run)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset release
cmake --build --preset release --target server_load_bench TalvorineMessengerServer \
  TalvorineMessengerServerSetup

# Two descriptors per session on each side: take the whole allowed open-file limit.
ulimit -n "$(ulimit -Hn)"
exec build/release/bench/server_load_bench "$@"
