#!/usr/bin/env bash
# Builds the release preset and runs the server load benchmark against a fresh server on the
# embedded SQLite default (temporary server folder, settings folder and data source on
# 127.0.0.1; everything is removed at the end). Arguments go to the benchmark, for example
#   scripts/run-load-bench.sh --sessions 1000 --pairs 100,500 --messages 5000   (quick run)
#   scripts/run-load-bench.sh --backend mariadb --sessions 2000                 (MariaDB)
# With --backend mariadb and no TALVORINE_TEST_MARIADB_* variables set, a private MariaDB
# instance of its own (build/release/mariadb-bench) is started for the run and stopped after
# it; the benchmark stops and starts that instance mid-run for its outage figures.
# Every live phase reports the server's CPU per message beside the generator's, and its system
# calls and context switches per message (kernel counters on the server's threads, the ones
# perf stat reads; without permission for them, context switches from /proc). To measure a
# server built elsewhere with the same generator, pass --server FILE --setup FILE.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset release
cmake --build --preset release --target server_load_bench TalvorineMessengerServer \
  TalvorineMessengerServerSetup

mariadb=0
for argument in "$@"; do
  [[ $argument == mariadb ]] && mariadb=1
done
if ((mariadb)) && [[ -z ${TALVORINE_TEST_MARIADB_PORT:-} ]]; then
  export TALVORINE_MARIADB_DIR="$PWD/build/release/mariadb-bench"
  eval "$(bash scripts/mariadb-test-instance.sh start)"
  trap 'bash scripts/mariadb-test-instance.sh stop' EXIT
fi

# Two descriptors per session on each side: take the whole allowed open-file limit.
ulimit -n "$(ulimit -Hn)"
build/release/bench/server_load_bench "$@"
