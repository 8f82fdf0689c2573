#!/usr/bin/env bash
# Installs the dependencies, builds every program of the suite and installs them, sets up the
# embedded SQLite database for a server folder and runs the Talvorine Messenger Server in
# console form (Ctrl+C stops it).
#
#   TALVORINE_PREFIX       where the programs go (default: /usr/local as root, else ~/.local)
#   TALVORINE_SERVER_HOME  server folder (default ./build/server-home): database, Log/, Icons/
#   ODBCINI                data-source file (default: $TALVORINE_SERVER_HOME/odbc.ini)
#   TALVORINE_REGISTRY_DIR settings folder with machine.reg (default: /etc/talvorine as usual)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset release
cmake --build --preset release --target talvorine_programs

if [[ $(id -u) -eq 0 ]]; then
  prefix="${TALVORINE_PREFIX:-/usr/local}"
else
  prefix="${TALVORINE_PREFIX:-$HOME/.local}"
fi
cmake --install build/release --prefix "$prefix" >/dev/null
echo "Installed the programs into $prefix/bin."
case ":$PATH:" in
  *":$prefix/bin:"*) ;;
  *)
    echo "Add them to your PATH (for example in ~/.profile):"
    echo "  export PATH=\"$prefix/bin:\$PATH\""
    ;;
esac

home="${TALVORINE_SERVER_HOME:-$PWD/build/server-home}"
mkdir -p "$home"
home="$(cd "$home" && pwd)"
export TALVORINE_SERVER_HOME="$home"
export ODBCINI="${ODBCINI:-$home/odbc.ini}"

"$prefix/bin/TalvorineMessengerServerSetup" --home "$home" --odbcini "$ODBCINI"
echo "Starting the server in $home (Ctrl+C stops it) ..."
exec "$prefix/bin/TalvorineMessengerServer" -console
