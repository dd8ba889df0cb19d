#!/usr/bin/env bash
# Runs every test twice: in a normal build (build/, or $SKIFF_BUILD_DIR) and in
# a clang build with AddressSanitizer and UndefinedBehaviorSanitizer
# (build-asan/, or $SKIFF_ASAN_BUILD_DIR); then the tests of the threaded code
# (log, bridge, runner) a third time under ThreadSanitizer (build-tsan/, or
# $SKIFF_TSAN_BUILD_DIR). Then the benchmarks run once on tiny inputs
# (scripts/bench.sh --smoke), and last scripts/fuzz.sh builds the fuzz targets
# (build-fuzz/, or $SKIFF_FUZZ_BUILD_DIR) and runs each for a short while
# ($SKIFF_FUZZ_SECONDS, default 15) on its corpus. Installs missing Debian
# packages first. Exits non-zero when anything fails.
set -euo pipefail
# shellcheck source=scripts/lib/setup.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/setup.sh"

skiff_install_missing_packages
# The benchmarks are built here too and run once, on tiny inputs, at the end.
skiff_build "$SKIFF_BUILD_DIR" -DSKIFF_BUILD_BENCH=ON
skiff_build "$SKIFF_ASAN_BUILD_DIR" -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DSKIFF_SANITIZE=address,undefined
threaded_tests=(log/skiff_log_tests bridge/skiff_bridge_tests app/skiff_app_tests)
skiff_build "$SKIFF_TSAN_BUILD_DIR" -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DSKIFF_SANITIZE=thread -- "${threaded_tests[@]##*/}"

# Stack traces for undefined behaviour; the build already makes it fatal.
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"

# Most tests wait on processes rather than compute, so run more than one per core.
failed=()
for dir in "$SKIFF_BUILD_DIR" "$SKIFF_ASAN_BUILD_DIR"; do
  skiff_say "Testing $dir"
  if ! ctest --test-dir "$(skiff_build_path "$dir")" --output-on-failure -j"$((SKIFF_JOBS * 2))"; then
    failed+=("$dir")
  fi
done
# The threaded tests alone, each binary run whole; a race fails the run.
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1 second_deadlock_stack=1}"
skiff_say "Testing $SKIFF_TSAN_BUILD_DIR (ThreadSanitizer)"
for test in "${threaded_tests[@]}"; do
  if ! "$(skiff_build_path "$SKIFF_TSAN_BUILD_DIR")/tests/$test"; then
    failed+=("$SKIFF_TSAN_BUILD_DIR/tests/$test")
  fi
done
skiff_say "Benchmarks, once on tiny inputs"
if ! "$SKIFF_SOURCE_DIR/scripts/bench.sh" --smoke; then
  failed+=("scripts/bench.sh --smoke")
fi
# Short runs, so that every target keeps building and a crash on its corpus,
# or soon after, fails the suite.
if ! "$SKIFF_SOURCE_DIR/scripts/fuzz.sh" "${SKIFF_FUZZ_SECONDS:-15}"; then
  failed+=("$SKIFF_FUZZ_BUILD_DIR (fuzzing)")
fi
if ((${#failed[@]})); then
  echo "FAILED in: ${failed[*]}" >&2
  exit 1
fi
skiff_say "All tests passed in $SKIFF_BUILD_DIR, $SKIFF_ASAN_BUILD_DIR and $SKIFF_TSAN_BUILD_DIR; no fuzzer crashed"
