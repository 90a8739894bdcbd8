#!/usr/bin/env bash
# Runs every test registered with CTest.
set -euo pipefail
build=${1:-build}
jobs=${2:-$(nproc)}
cd "$(dirname "$0")/.."
ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 300
