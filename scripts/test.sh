#!/usr/bin/env bash
# Builds and runs the whole test suite: the native lane (warnings as errors,
# then again under AddressSanitizer and UndefinedBehaviorSanitizer, the tests
# that start threads under ThreadSanitizer, then a short run of every fuzz
# target) and the Windows lane (32-bit MinGW build, run under Wine).
#   scripts/test.sh            both lanes
#   scripts/test.sh native     only the native lane
#   scripts/test.sh windows    only the Windows lane
set -euo pipefail
cd "$(dirname "$0")/.."

lane=${1:-all}
jobs=$(nproc)

bash scripts/setup.sh

run_native() {
  # tsan: the engine without the window; its test preset picks the tests
  # whose code or programs start threads.
  for preset in native asan tsan; do
    echo "== $preset: build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    echo "== $preset: test"
    ctest --preset "$preset" -j "$jobs"
  done
  # The fuzz targets (clang, libFuzzer): built, and each run eight seconds
  # over its seed corpus.
  echo "== fuzz: build and smoke run"
  bash fuzz/run.sh 8
}

case "$lane" in
  all) run_native; bash scripts/test-windows.sh ;;
  native) run_native ;;
  windows) bash scripts/test-windows.sh ;;
  *) echo "usage: scripts/test.sh [all|native|windows]" >&2; exit 2 ;;
esac
