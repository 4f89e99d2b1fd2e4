#!/usr/bin/env bash
# The cap for shared lines, measured: the console updater fetches a
# release of incompressible files from a local HTTP server under
# --limit-rate, and the rate it kept is set beside the cap (goal: within
# 10 %). Not a test: the figures are printed, nothing fails.
#
#   bench/rate/run.sh [--build DIR] [--mb M] [--caps "KBPS ..."] [--connections N] [--help]
#
# --build is a configured and built tree (default build/native); --mb the
# size of the release's new files in all (default 24 MB, in 6 files);
# --caps the caps to measure in kilobits per second (default "4000 16000",
# 0.5 and 2 MB/s); --connections what brfupdate fetches ahead on (default 4).
# The rate counts the bytes of the containers brfupdate received over the
# run's wall time, from its start to its exit.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$root/build/native
mb=24
caps="4000 16000"
connections=4
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$(realpath "$2"); shift 2 ;;
    --mb) mb=$2; shift 2 ;;
    --caps) caps=$2; shift 2 ;;
    --connections) connections=$2; shift 2 ;;
    --help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option: $1 (see --help)" >&2; exit 2 ;;
  esac
done
publish=$build/tools/brfpublish/brfpublish
update=$build/tools/brfupdate/brfupdate
for tool in "$publish" "$update"; do
  [ -x "$tool" ] || { echo "build $tool first (cmake --build --preset native)" >&2; exit 2; }
done

work=$(mktemp -d)
server=
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/1040/data" "$work/1050/data"
printf 'old\r\n' > "$work/1040/data/keep.txt"
cp "$work/1040/data/keep.txt" "$work/1050/data/keep.txt"
for i in 1 2 3 4 5 6; do
  head -c $((mb * 1000000 / 6)) /dev/urandom > "$work/1050/data/sea$i.map"
done
printf 'sea-1.brinefall.invalid 7777 Open Sea\r\n' > "$work/servers.dat"
"$publish" build --out "$work/www" --release "$work/1050" 1050 0 --from "$work/1040" 1040 0 \
  --servers "$work/servers.dat" --no-deltas --quiet
bytes=$(du -cb "$work"/www/patch/data-sea*.upd | tail -1 | cut -f1)

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$work/www" > "$work/server.log" 2>&1 &
server=$!
for _ in $(seq 50); do
  curl -s -o /dev/null "http://127.0.0.1:$port/patch/_servers.dat" 2>/dev/null && break
  sleep 0.1
done

printf '%-10s %-12s %-10s %-12s %s\n' "cap kbps" "cap MB/s" "wall s" "kept MB/s" "kept/cap"
for cap in $caps; do
  game=$work/game-$cap
  mkdir -p "$game/data"
  cp "$work/1040/data/keep.txt" "$game/data/"
  printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Brinefall]\r\n"Language"=dword:00000001\r\n"InstallDir"="C:\\\\Games\\\\Brinefall"\r\n"Version"=dword:00000410\r\n"Build"=dword:00000000\r\n' > "$game/user.reg"
  start=$(date +%s.%N)
  (cd "$game" && BRF_HKCU_FILE="$game/user.reg" "$update" --server "http://127.0.0.1:$port/" \
     --limit-rate "$cap" --connections "$connections" > "$game/out.txt" 2>&1) ||
    { echo "brfupdate failed at cap $cap:" >&2; cat "$game/out.txt" >&2; exit 1; }
  end=$(date +%s.%N)
  python3 - "$cap" "$bytes" "$start" "$end" <<'PY'
import sys
cap, size, start, end = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4])
wall = end - start
kept = size / wall / 1e6
want = cap * 1000 / 8 / 1e6
print(f"{cap:<10} {want:<12.3f} {wall:<10.2f} {kept:<12.3f} {kept / want:.3f}")
PY
done
