#!/usr/bin/env bash
# Sets up everything on a fresh Debian 12 machine and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset release
cmake --build --preset release
ctest --preset release
