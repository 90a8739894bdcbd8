#!/bin/bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour
# checks) in a build folder of their own and runs each of them for a while.
#
#   FUZZ_SECONDS   time per target (default 600)
#   FUZZ_TARGETS   targets to run (default: all four)
#   FUZZ_PARALLEL  1 (default): the targets run at the same time, one process
#                  each; 0: one after the other
#   FUZZ_BUILD     build folder (default build-fuzz in the source tree)
#
# The seed corpus in fuzz/corpus/<target> stays as it is; what a run finds goes
# to <build>/corpus/<target>, crashing inputs to <build>/artifacts/<target>/.
# Replay one with: <build>/<target> <file>
set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
FUZZ="$ROOT/fuzz"
BUILD=${FUZZ_BUILD:-$ROOT/build-fuzz}
SECONDS_EACH=${FUZZ_SECONDS:-600}
TARGETS=${FUZZ_TARGETS:-"http_parse http_read cfg_files image_load"}
PARALLEL=${FUZZ_PARALLEL:-1}

if ! command -v clang++ >/dev/null 2>&1; then
    echo "fuzz: clang++ is missing (Debian: apt-get install clang)" >&2
    exit 2
fi

cmake -S "$FUZZ" -B "$BUILD" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null || exit 2
cmake --build "$BUILD" -j 4 -- $TARGETS >/dev/null || { cmake --build "$BUILD" -j 1 -- $TARGETS; exit 2; }

options_for() {
    case "$1" in
    http_parse) echo "-dict=$FUZZ/http.dict -max_len=12000" ;;
    http_read) echo "-dict=$FUZZ/http.dict -max_len=70000" ;;
    cfg_files) echo "-dict=$FUZZ/cfg.dict -max_len=4096" ;;
    # The target lowers the image allocation limit to 16 MB: no single
    # allocation may come near four times that.
    image_load) echo "-dict=$FUZZ/image.dict -max_len=65536 -malloc_limit_mb=64" ;;
    esac
}

declare -A PIDS
stop_all() {
    for t in "${!PIDS[@]}"; do kill "${PIDS[$t]}" 2>/dev/null; done
    exit 130
}
trap stop_all INT TERM

run_one() {
    local t=$1
    mkdir -p "$BUILD/corpus/$t" "$BUILD/artifacts/$t" "$BUILD/logs"
    # shellcheck disable=SC2046
    "$BUILD/$t" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$BUILD/artifacts/$t/" $(options_for "$t") \
        "$BUILD/corpus/$t" "$FUZZ/corpus/$t" >"$BUILD/logs/$t.log" 2>&1
}

mkdir -p "$BUILD/logs"
touch "$BUILD/logs/.start"
echo "fuzz: ${SECONDS_EACH}s per target: $TARGETS"
declare -A STATUS
for t in $TARGETS; do
    if [ "$PARALLEL" = 1 ]; then
        run_one "$t" &
        PIDS[$t]=$!
    else
        run_one "$t"
        STATUS[$t]=$?
    fi
done
for t in "${!PIDS[@]}"; do
    wait "${PIDS[$t]}"
    STATUS[$t]=$?
done

failed=0
for t in $TARGETS; do
    log="$BUILD/logs/$t.log"
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    units=$(find "$BUILD/corpus/$t" -type f | wc -l)
    crashes=$(find "$BUILD/artifacts/$t" -type f -newer "$BUILD/logs/.start" | wc -l)
    verdict=clean
    if [ "${STATUS[$t]}" != 0 ]; then
        verdict="FAILED (exit ${STATUS[$t]}, see $log)"
        failed=1
    fi
    printf 'fuzz: %-10s runs=%s exec/s=%s cov=%s ft=%s corpus=%s artifacts=%s %s\n' \
        "$t" "${runs:-?}" "${speed:-?}" "${cov:-?}" "${ft:-?}" "$units" "$crashes" "$verdict"
    if [ "${STATUS[$t]}" != 0 ]; then
        grep -m1 -A12 'ERROR: \|check failed\|==ERROR\|runtime error' "$log" | sed 's/^/    /'
    fi
done
if [ $failed = 0 ]; then
    echo "fuzz: PASS"
else
    echo "fuzz: FAIL"
fi
exit $failed
