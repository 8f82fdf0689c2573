#!/usr/bin/env bash
# Installs the dependencies, builds the release preset, sets up the embedded SQLite database
# for a server folder and runs the Talvorine Messenger Server in console form (Ctrl+C stops it).
#
#   TALVORINE_SERVER_HOME  server folder (default ./build/server-home): database, Log/, Icons/
#   ODBCINI                data-source file (default: $TALVORINE_SERVER_HOME/odbc.ini)
#   TALVORINE_REGISTRY_DIR settings folder with machine.reg (default: /etc/talvorine as usual)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset release
cmake --build --preset release --target TalvorineMessengerServer TalvorineMessengerServerSetup

home="${TALVORINE_SERVER_HOME:-$PWD/build/server-home}"
mkdir -p "$home"
home="$(cd "$home" && pwd)"
export TALVORINE_SERVER_HOME="$home"
export ODBCINI="${ODBCINI:-$home/odbc.ini}"

bin=build/release/server
"$bin/TalvorineMessengerServerSetup" --home "$home" --odbcini "$ODBCINI"
echo "Starting the server in $home (Ctrl+C stops it) ..."
exec "$bin/TalvorineMessengerServer" -console
