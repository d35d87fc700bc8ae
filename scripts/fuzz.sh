#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time over a copy of
# its committed corpus, so that the committed seeds stay as they are. Prints
# executions per second and coverage per target; any crash, leak, time-out or
# broken invariant fails the run and its input is kept under
# <build>/fuzz-findings/ to be added to tests/fuzz/corpus/<target>/ once fixed.
# Usage: scripts/fuzz.sh [seconds per target] [target...]   (default 30 s, all)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
shift || true
build=${PVX_FUZZ_BUILD:-build-fuzz}

# -O1 with line tables, as libFuzzer is usually built: half the compile time
# of -O2 -g, and the sanitizers' reports still name file and line.
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only -DNDEBUG" -DPVX_FUZZ=ON >/dev/null
ninja -C "$build" -j"$(nproc)" pvx_fuzzers

targets=("$@")
if ((${#targets[@]} == 0)); then
  for folder in tests/fuzz/corpus/*/; do
    targets+=("$(basename "$folder")")
  done
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
findings="$build/fuzz-findings"
mkdir -p "$findings"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# One target per processor at a time: each is single-threaded, so the run
# takes the same coverage per target in a fraction of the wall time.
fuzz_one() {
  local target=$1 status=0
  mkdir -p "$work/$target" "$work/$target.artifacts"
  cp -r "tests/fuzz/corpus/$target/." "$work/$target/"
  "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/$target.artifacts/" "$work/$target" >"$work/$target.log" 2>&1 || status=$?
  echo "$status" >"$work/$target.status"
}
jobs=$(nproc)
echo "== ${#targets[@]} fuzz targets for ${seconds}s each, $jobs at a time"
for target in "${targets[@]}"; do
  while (($(jobs -rp | wc -l) >= jobs)); do wait -n || true; done
  fuzz_one "$target" &
done
wait

failed=0
summary=()
for target in "${targets[@]}"; do
  status=$(cat "$work/$target.status" 2>/dev/null || echo 1)
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$target.log" | tail -1 || true)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/$target.log" | tail -1 || true)
  edges=$(grep -oE 'cov: [0-9]+' "$work/$target.log" | tail -1 | cut -d' ' -f2 || true)
  features=$(grep -oE 'ft: [0-9]+' "$work/$target.log" | tail -1 | cut -d' ' -f2 || true)
  corpus=$(find "$work/$target" -type f | wc -l)
  line=$(printf '%-24s %10s runs %8s exec/s %6s edges %7s features %6s inputs' "fuzz_$target" \
    "${executions:-?}" "${rate:-?}" "${edges:-?}" "${features:-?}" "$corpus")
  if ((status != 0)); then
    failed=$((failed + 1))
    line="$line   FAILED (status $status)"
    echo "== fuzz_$target failed; the end of its log:"
    tail -n 60 "$work/$target.log"
    for artifact in "$work/$target.artifacts"/*; do
      [[ -e $artifact ]] || continue
      cp "$artifact" "$findings/$target-$(basename "$artifact")"
      echo "kept $findings/$target-$(basename "$artifact")"
    done
  fi
  summary+=("$line")
done

echo
echo "== fuzzing summary (${seconds}s per target)"
printf '%s\n' "${summary[@]}"
if ((failed != 0)); then
  echo "$failed fuzz target(s) failed" >&2
  exit 1
fi
