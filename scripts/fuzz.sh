#!/usr/bin/env bash
# Builds the libFuzzer targets in a clang tree with AddressSanitizer and
# UndefinedBehaviorSanitizer (build-fuzz/, or $SKIFF_FUZZ_BUILD_DIR) and runs
# each for SECONDS (default 15) on its checked-in corpus under fuzz/corpus/.
# Inputs found on the way go to the build tree, never into the checked-in
# corpus; a crash leaves its input there too. Prints libFuzzer's final
# figures per target and exits non-zero when any target crashed.
#   usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
# shellcheck source=scripts/lib/setup.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/setup.sh"

seconds="${1:-15}"
if [[ ! "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 [SECONDS]" >&2
  exit 2
fi

skiff_install_missing_packages
skiff_build "$SKIFF_FUZZ_BUILD_DIR" -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DSKIFF_SANITIZE=address,undefined -DSKIFF_BUILD_TESTS=OFF -DSKIFF_BUILD_FUZZERS=ON \
  -- skiff_fuzzers

build="$(skiff_build_path "$SKIFF_FUZZ_BUILD_DIR")"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"
failed=()
summary=()
for seeds in "$SKIFF_SOURCE_DIR"/fuzz/corpus/*/; do
  target="$(basename "$seeds")"
  # The first corpus folder receives what the run finds; it lives in the
  # build tree and grows from run to run.
  found="$build/fuzz-corpus/$target"
  artifacts="$build/fuzz-artifacts/$target"
  log="$build/fuzz-logs/$target.log"
  mkdir -p "$found" "$artifacts" "$(dirname "$log")"
  options=(-max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1
    -artifact_prefix="$artifacts/")
  # Whole documents are small; the XML loader's memory on huge ones is bounded
  # elsewhere, and the receive-loop target writes its input into one pipe buffer.
  case "$target" in
    xml_load_fuzzer | input_parser_fuzzer | receive_loop_fuzzer) options+=(-max_len=65536) ;;
  esac
  skiff_say "Fuzzing $target for ${seconds}s"
  status=0
  "$build/fuzz/$target" "${options[@]}" "$found" "$seeds" >"$log" 2>&1 || status=$?
  executions="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  corpus="$(grep -o 'corp: [0-9]*/[0-9]*[a-zA-Z]*' "$log" | tail -n 1 | cut -d' ' -f2)"
  line="$target: ${executions:-?} executions, corpus ${corpus:-?} (inputs/bytes)"
  if ((status != 0)); then
    tail -n 40 "$log" >&2
    line+=", FAILED (exit $status; log $log, input in $artifacts)"
    failed+=("$target")
  fi
  echo "$line"
  summary+=("$line")
done

skiff_say "Fuzzing summary (${seconds}s per target)"
printf '%s\n' "${summary[@]}"
if ((${#failed[@]})); then
  echo "Fuzzers that crashed: ${failed[*]}" >&2
  exit 1
fi
