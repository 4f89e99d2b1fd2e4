#!/usr/bin/env bash
# Builds the fuzz targets (preset fuzz) and runs them one after the other
# over their seed corpus, fuzz/corpus/<target>, with their dictionary,
# fuzz/dict/<target>.dict. Inputs that add coverage go to
# build/fuzz/corpus/<target>, which later runs start from as well; a crash,
# a leak or a hang stops the script with the input in build/fuzz/artifacts.
#
#   fuzz/run.sh [SECONDS] [TARGET...]   default: 10 seconds for every target
#
# The summary gives each target's runs per second, as libFuzzer counts them.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-10}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(pack http_header options registry signed_index index delta)
fi

cmake --preset fuzz >/dev/null
build_targets=()
for t in "${targets[@]}"; do
  build_targets+=("${t}_fuzz")
done
cmake --build --preset fuzz -j "$(nproc)" --target "${build_targets[@]}"

mkdir -p build/fuzz/artifacts
summary=()
for t in "${targets[@]}"; do
  seeds=fuzz/corpus/$t
  found=build/fuzz/corpus/$t
  log=build/fuzz/artifacts/$t.log
  mkdir -p "$found"
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
           -artifact_prefix="build/fuzz/artifacts/$t-")
  if [ -f "fuzz/dict/$t.dict" ]; then
    options+=(-dict="fuzz/dict/$t.dict")
  fi
  if [ "$t" = pack ]; then
    options+=(-max_len=4096)
  fi
  echo "== fuzz: $t for $seconds s"
  if ! "build/fuzz/fuzz/${t}_fuzz" "${options[@]}" "$found" "$seeds" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz: $t failed; the input is in build/fuzz/artifacts, the log in $log" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log")
  summary+=("$t: ${runs:-?} runs in ${took:-?} s, $(( ${runs:-0} / (${took:-1} > 0 ? ${took:-1} : 1) )) per second")
done
printf 'fuzz: %s\n' "${summary[@]}"
