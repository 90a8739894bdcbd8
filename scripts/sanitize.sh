#!/usr/bin/env bash
# Builds the project with sanitizers in a build folder of its own and runs the
# tests there:
#   scripts/sanitize.sh asan [JOBS]   address + undefined behaviour, all tests
#   scripts/sanitize.sh tsan [JOBS]   threads, the core and engine tests
# Leaks inside system libraries are suppressed in .ci/lsan.supp (each entry
# says why); everything else the sanitizers report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:?asan or tsan}
jobs=${2:-$(nproc)}
root=$(pwd)

case "$kind" in
asan)
  build=${ZV_ASAN_BUILD:-build-asan}
  # No vptr check: it probes memory through a pipe, which fails (and then
  # reports every object as invalid) in the tests that use up descriptors.
  flags="-fsanitize=address,undefined -fno-sanitize=vptr -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
  labels=""
  # Huge allocations on purpose must reach the library as a failure it
  # reports, not abort the test. The crash guard handles SIGSEGV itself.
  export ASAN_OPTIONS="allocator_may_return_null=1:detect_leaks=1:handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:use_sigaltstack=0:strict_string_checks=0:detect_stack_use_after_return=0"
  export LSAN_OPTIONS="suppressions=$root/.ci/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$root/.ci/ubsan.supp"
  ;;
tsan)
  build=${ZV_TSAN_BUILD:-build-tsan}
  flags="-fsanitize=thread -fno-omit-frame-pointer"
  labels="^(core|engine)$"
  export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/.ci/tsan.supp"
  ;;
*) echo "sanitize: asan or tsan, not '$kind'" >&2; exit 2 ;;
esac

# The sanitizers' instrumentation makes GCC's flow analysis see uninitialised
# reads that are not there (inside the standard library's regex); the plain
# build keeps that warning.
flags="$flags -Wno-maybe-uninitialized"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZV_WARNINGS_AS_ERRORS=OFF \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" >/dev/null
if [ -z "$labels" ]; then
  cmake --build "$build" -j "$jobs"
  ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 300
else
  # Only the test programs of the labelled modules are built and run.
  targets=$(cmake --build "$build" --target help | sed -nE 's/^(core|engine)_([A-Za-z0-9]+): .*/\1_\2/p' | sort -u)
  cmake --build "$build" -j "$jobs" --target $targets
  ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 300 -L "$labels"
fi
