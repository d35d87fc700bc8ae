#!/usr/bin/env bash
# Builds pvx twice (plain, then with AddressSanitizer and UndefinedBehaviorSanitizer)
# and runs every test in both builds, then builds pvx and the tools once more
# as a Release build (-O3), without tests, so that warnings only the optimiser
# finds stop the build here. Usage: scripts/test.sh [--no-sanitize]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)
# A compiler cache when one is installed; none is required.
if [[ -z ${CMAKE_CXX_COMPILER_LAUNCHER:-} ]] && command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi
run_suite() {
  local dir=$1 skip=$2; shift 2
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  ninja -C "$dir" -j"$jobs"
  # Unit tests use the processor; the end-to-end tests mostly wait on the
  # daemon's one-second passes, so more of them run side by side.
  (cd "$dir" && ctest --output-on-failure -j"$jobs" --timeout 600 -LE 'e2e|soak')
  (cd "$dir" && ctest --output-on-failure -j$((jobs * 3)) --timeout 900 -L 'e2e|soak' ${skip:+-LE "$skip"})
}

echo "== plain build"
run_suite build ""
if [[ ${1:-} != --no-sanitize ]]; then
  echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  # Tests labelled clients exercise Debian's real clients; they ran above.
  # -O1 with line tables halves the instrumented build's compile time against
  # -O2 -g; the reports still name file and line.
  run_suite build-asan clients -DPVX_SANITIZE=ON -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"
fi

echo "== Release build (pvx and the tools)"
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DPVX_TESTS=OFF >/dev/null
ninja -C build-release -j"$jobs"
