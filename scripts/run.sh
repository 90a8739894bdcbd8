#!/usr/bin/env bash
# Starts zorvane_cmd in the project folder: it serves www/ as cfg/init.txt says.
set -euo pipefail
build=${1:-build}
cd "$(dirname "$0")/.."
exe="$build/bin/zorvane_cmd"
if [ ! -x "$exe" ]; then
  echo "run: $exe is missing; build it with 'make build'." >&2
  exit 1
fi
exec "$exe" "${@:2}"
