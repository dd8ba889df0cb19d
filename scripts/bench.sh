#!/usr/bin/env bash
# Measures Skiff beside its floors and prints the table of figures.
#
#   scripts/bench.sh [--runs=N]   optimised build in build-bench/ (or
#                                 $SKIFF_BENCH_BUILD_DIR), N rounds after a
#                                 warm-up (default 7); writes bench/results.md
#                                 and the discovery plots bench/*.png
#   scripts/bench.sh --smoke      every benchmark once on tiny inputs, in the
#                                 normal build tree (build/, or
#                                 $SKIFF_BUILD_DIR), to show they still work;
#                                 writes nothing
#
# Installs missing Debian packages first. Exits non-zero when a benchmark fails.
set -euo pipefail
# shellcheck source=scripts/lib/setup.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/setup.sh"

smoke=0
runs=7
for argument in "$@"; do
  case "$argument" in
    --smoke) smoke=1 ;;
    --runs=*) runs="${argument#--runs=}" ;;
    *)
      echo "usage: scripts/bench.sh [--smoke] [--runs=N]" >&2
      exit 2
      ;;
  esac
done

SKIFF_PACKAGES+=(python3)
if ((smoke)); then
  dir="$SKIFF_BUILD_DIR"
  build_type="$(grep -s '^CMAKE_BUILD_TYPE:' "$(skiff_build_path "$dir")/CMakeCache.txt" | cut -d= -f2 || true)"
  configure=(-DSKIFF_BUILD_BENCH=ON)
  micro_flags=(--smoke --benchmark_min_time=0.001)
  process_flags=(--smoke)
else
  SKIFF_PACKAGES+=(gnuplot-nox)
  dir="${SKIFF_BENCH_BUILD_DIR:-build-bench}"
  build_type=RelWithDebInfo
  configure=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DSKIFF_BUILD_BENCH=ON -DSKIFF_BUILD_TESTS=OFF)
  # The first repetition is the warm-up; report.py drops it.
  micro_flags=(--benchmark_repetitions="$((runs + 1))")
  process_flags=(--runs="$runs")
fi

skiff_install_missing_packages
skiff_build "$dir" "${configure[@]}" -- skiff_micro_bench skiff_process_bench
bench_dir="$(skiff_build_path "$dir")/bench"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The build leaves much unwritten: its writeback would slow the saving
# benchmark and its floor unevenly.
sync
skiff_say "In-process benchmarks"
"$bench_dir/skiff_micro_bench" "${micro_flags[@]}" --benchmark_out="$work/micro.json" \
  --benchmark_out_format=json --benchmark_color=false
skiff_say "Whole-process benchmarks"
"$bench_dir/skiff_process_bench" "${process_flags[@]}" --out="$work/process.json"

commit="$(git -C "$SKIFF_SOURCE_DIR" rev-parse --short HEAD 2>/dev/null || echo unknown)"
if [[ -n "$(git -C "$SKIFF_SOURCE_DIR" status --porcelain --untracked-files=no 2>/dev/null)" ]]; then
  commit+=" (with uncommitted changes)"
fi
report=(--micro "$work/micro.json" --process "$work/process.json"
  --out-dir "$SKIFF_SOURCE_DIR/bench" --build-type "${build_type:-unspecified}" --commit "$commit")
if ((smoke)); then report+=(--smoke); fi
skiff_say "Figures"
python3 "$SKIFF_SOURCE_DIR/bench/report.py" "${report[@]}"
