#!/bin/bash
# `make soak`: mixed load on loopback against zorvane_cmd in a temporary
# folder (see soak.py). The last line is the verdict.
#
#   SOAK_SECONDS  length of the load (default 600)
#   SOAK_CLIENTS  concurrent clients (default 160: ten times the workers, and more)
#   SOAK_BUILD    build folder to build zorvane_cmd in (default: build)
#   ZORVANE_CMD   an already built zorvane_cmd to use instead
set -eu
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${SOAK_BUILD:-$ROOT/build}
EXE=${ZORVANE_CMD:-}
if [ -z "$EXE" ]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja >/dev/null
    cmake --build "$BUILD" -j 4 --target zorvane_cmd >/dev/null
    EXE="$BUILD/bin/zorvane_cmd"
fi
exec /usr/bin/python3 "$ROOT/tests/soak/soak.py" --exe "$EXE" \
    --seconds "${SOAK_SECONDS:-600}" --clients "${SOAK_CLIENTS:-160}"
