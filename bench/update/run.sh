#!/usr/bin/env bash
# Wall time and peak memory of the console updater updating a game directory
# from a local nginx: 500 files of 200 MB in all (half compressible, half
# random), the game directory one release behind (half the files in an older
# version, which are backed up, the rest new). The yardstick is what the
# update cannot do without: curl fetching the same 500 containers (one curl
# for all, keeping its connection) plus brfpack decoding each of them.
# Median of 3 rounds each, from the page cache. Not a test: nothing fails on
# a missed target, the figures are printed.
#
#   bench/update/run.sh [--files N] [--mb M] [--rounds R] [--preset bench|native]
#
# Targets: brfupdate's wall time at most 1.25 times curl + decode; its peak
# resident memory under 32 MB.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

files=500
mb=200
rounds=3
preset=bench
while [ $# -gt 0 ]; do
  case "$1" in
    --files) files=$2; shift 2 ;;
    --mb) mb=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --preset) preset=$2; shift 2 ;;
    *) echo "usage: bench/update/run.sh [--files N] [--mb M] [--rounds R] [--preset bench|native]" >&2; exit 2 ;;
  esac
done

echo "== building (preset $preset)"
cmake --preset "$preset" -DBRF_BENCH=ON >/dev/null
cmake --build --preset "$preset" -j 2 --target brfupdate brfpack update_bench_set >/dev/null
bin=$root/build/$preset
brfupdate=$bin/tools/brfupdate/brfupdate
brfpack=$bin/tools/brfpack/brfpack

# The patch set takes a while to pack; it is kept for the next run.
set_dir=$bin/update-set-$files-$mb
if [ ! -f "$set_dir/.complete" ]; then
  echo "== packing the patch set ($files files, $mb MB) into $set_dir"
  rm -rf "$set_dir"
  "$bin/bench/update/update_bench_set" "$set_dir" --files "$files" --mb "$mb"
  touch "$set_dir/.complete"
fi

source scripts/nginx.sh
work=$(mktemp -d /tmp/brf-update-bench.XXXXXX)
chmod 755 "$work"
cleanup() {
  nginx_stop
  rm -rf "$work"
}
trap cleanup EXIT
nginx_start "$work/nginx" "$set_dir/www"
base=http://127.0.0.1:$nginx_port/

cat >"$work/user.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Brinefall]
"Language"=dword:00000001
"Version"=dword:00000410
"Build"=dword:00000000
"InstallDir"="C:\\Games\\Brinefall"
REG
export BRF_HKCU_FILE=$work/user.reg
export BRF_HKLM_FILE=$work/none.reg

# Runs a command; prints "wall-seconds peak-kilobytes" of it and its children.
measure() {
  python3 - "$@" <<'PY'
import resource, subprocess, sys, time
start = time.monotonic()
code = subprocess.call(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
wall = time.monotonic() - start
peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
print(f"{wall:.3f} {peak}")
sys.exit(code)
PY
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# curl: one process for all files, with the same output names as the updater.
{
  while read -r name; do
    printf 'url = "%spatch/%s"\noutput = "%s/fetched/%s"\n' "$base" "$name" "$work" "$name"
  done <"$set_dir/names"
} >"$work/curl.cfg"
decode_all() {
  while read -r name; do
    "$brfpack" decode "$work/fetched/$name" "$work/decoded/$name" >/dev/null || return 1
  done <"$set_dir/names"
}
export -f decode_all
export brfpack work set_dir

: >"$work/brf.txt"
: >"$work/curl.txt"
: >"$work/decode.txt"
for round in $(seq "$rounds"); do
  echo "== round $round"
  rm -rf "$work/game"
  cp -a "$set_dir/old" "$work/game"
  sync
  (cd "$work/game" && measure "$brfupdate" --server "$base") >>"$work/brf.txt" || {
    echo "brfupdate failed; its action log:" >&2
    (cd "$work/game" && "$brfupdate" --server "$base") >&2 || true
    exit 1
  }
  if ! diff -rq -x servers.dat "$set_dir/new/data" "$work/game/data" >/dev/null; then
    echo "the updated game directory differs from the new release:" >&2
    diff -rq -x servers.dat "$set_dir/new/data" "$work/game/data" | head >&2
    exit 1
  fi

  rm -rf "$work/fetched" "$work/decoded"
  mkdir -p "$work/fetched" "$work/decoded"
  measure curl -s -f --config "$work/curl.cfg" >>"$work/curl.txt"
  measure bash -c decode_all >>"$work/decode.txt"
  echo "   brfupdate $(tail -1 "$work/brf.txt" | cut -d' ' -f1) s, curl $(tail -1 "$work/curl.txt" | cut -d' ' -f1) s, decode $(tail -1 "$work/decode.txt" | cut -d' ' -f1) s"
done

brf_wall=$(cut -d' ' -f1 "$work/brf.txt" | median)
brf_peak=$(cut -d' ' -f2 "$work/brf.txt" | median)
curl_wall=$(cut -d' ' -f1 "$work/curl.txt" | median)
decode_wall=$(cut -d' ' -f1 "$work/decode.txt" | median)
packed=$(du -sb "$set_dir/www/patch" | cut -f1)

echo
echo "update of $files files, $mb MB installed ($((packed / 1048576)) MB of containers) from nginx on 127.0.0.1, median of $rounds rounds:"
awk -v bw="$brf_wall" -v bp="$brf_peak" -v cw="$curl_wall" -v dw="$decode_wall" 'BEGIN {
  base = cw + dw
  printf "  %-26s %9s\n", "", "wall s"
  printf "  %-26s %9.3f\n", "curl (fetch all)", cw
  printf "  %-26s %9.3f\n", "brfpack decode (each)", dw
  printf "  %-26s %9.3f\n", "curl + decode", base
  printf "  %-26s %9.3f\n", "brfupdate", bw
  r = bw / base
  printf "wall time ratio brfupdate / (curl + decode): %.2f (target <= 1.25) %s\n", r, (r <= 1.25 ? "ok" : "MISSED")
  printf "brfupdate peak memory: %.1f MB (target < 32 MB) %s\n", bp / 1024, (bp < 32768 ? "ok" : "MISSED")
}'
