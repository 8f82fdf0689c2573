#!/usr/bin/env bash
# Sets up everything on a fresh Debian 12 machine and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset release
cmake --build --preset release

# Every fuzz target on its committed corpus for a bounded time (clang build of only what the
# targets need; scripts/run-fuzz.sh with a longer time is the developer's run).
bash scripts/run-fuzz.sh "${TALVORINE_FUZZ_SECONDS:-10}"

# The database tests also run against a private MariaDB instance (own folder and socket,
# 127.0.0.1 only), stopped again at the end. Without it those tests fail rather than skip.
export TALVORINE_MARIADB_DIR="$PWD/build/mariadb-test"
# Quiet, so that CTest's summary stays the last thing printed.
trap 'bash scripts/mariadb-test-instance.sh stop >/dev/null 2>&1 || true' EXIT
if mariadb_env="$(bash scripts/mariadb-test-instance.sh start)"; then
  eval "$mariadb_env"
else
  echo "run-tests: the private MariaDB instance did not start; its tests will fail" >&2
fi
export TALVORINE_REQUIRE_MARIADB=1
ctest --preset release
