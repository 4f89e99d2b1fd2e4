#!/usr/bin/env bash
# Throughput and CPU of the updater's HTTP client against curl: both fetch
# the same 1 GB file from a local nginx into a file, alternately, three
# times each; the medians give the ratios. Then the CPU the client uses
# while a server trickles 1 KB per second.
#
#   bench/net/run.sh            (as root: nginx runs with a config of its own)
#
# Targets: throughput at least 0.9 of curl's, CPU time at most 1.5 times
# curl's, near-zero CPU while trickling.
set -euo pipefail
cd "$(dirname "$0")/../.."

rounds=3
size_mb=1024

cmake --preset bench >/dev/null
cmake --build --preset bench -j2 >/dev/null
brfget=$PWD/build/bench/tools/brfget/brfget
trickle=$PWD/build/bench/bench/net/net_trickle_bench

work=$(mktemp -d /tmp/brf-net-bench.XXXXXX)
nginx_pid=
cleanup() {
  if [ -n "$nginx_pid" ] && kill -0 "$nginx_pid" 2>/dev/null; then
    kill "$nginx_pid"
    wait "$nginx_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# A free port on the loopback interface.
port=18080
while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do
  port=$((port + 1))
done

mkdir -p "$work/www" "$work/tmp"
# nginx workers give up root and must be able to read the file.
chmod 755 "$work" "$work/www"
fallocate -l "${size_mb}M" "$work/www/big.bin" 2>/dev/null ||
  truncate -s "${size_mb}M" "$work/www/big.bin"
chmod 644 "$work/www/big.bin"
cat >"$work/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $work/tmp/body;
  proxy_temp_path $work/tmp/proxy;
  fastcgi_temp_path $work/tmp/fastcgi;
  uwsgi_temp_path $work/tmp/uwsgi;
  scgi_temp_path $work/tmp/scgi;
  server {
    listen 127.0.0.1:$port;
    root $work/www;
  }
}
CONF
nginx -c "$work/nginx.conf" -p "$work" &
nginx_pid=$!
for _ in $(seq 50); do
  curl -s -o /dev/null "http://127.0.0.1:$port/" && break || sleep 0.1
done
if ! curl -s -o /dev/null "http://127.0.0.1:$port/"; then
  echo "nginx did not start:" >&2
  cat "$work/error.log" >&2
  exit 1
fi

url=http://127.0.0.1:$port/big.bin
expected=$((size_mb * 1024 * 1024))

# Runs one download; prints "elapsed cpu" (cpu = user + system seconds).
measure() {
  local out=$1
  shift
  rm -f "$out"
  local TIMEFORMAT='%R %U %S'
  local t status=0
  t=$({ time "$@" >/dev/null 2>"$work/last.err"; } 2>&1) || status=$?
  local size
  size=$(stat -c %s "$out" 2>/dev/null || echo 0)
  if [ "$status" -ne 0 ] || [ "$size" -ne "$expected" ]; then
    echo "download failed (exit $status, $size of $expected bytes): $*" >&2
    tail -5 "$work/last.err" >&2
    exit 1
  fi
  rm -f "$out"
  echo "$t" | awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }'
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

: >"$work/brf.txt"
: >"$work/curl.txt"
for round in $(seq "$rounds"); do
  measure "$work/brf.bin" "$brfget" "$url" "$work/brf.bin" >>"$work/brf.txt"
  measure "$work/curl.bin" curl -s -o "$work/curl.bin" "$url" >>"$work/curl.txt"
done

brf_wall=$(cut -d' ' -f1 "$work/brf.txt" | median)
brf_cpu=$(cut -d' ' -f2 "$work/brf.txt" | median)
curl_wall=$(cut -d' ' -f1 "$work/curl.txt" | median)
curl_cpu=$(cut -d' ' -f2 "$work/curl.txt" | median)

echo "1 GB from nginx on 127.0.0.1, median of $rounds rounds (elapsed s, CPU s):"
awk -v bw="$brf_wall" -v bc="$brf_cpu" -v cw="$curl_wall" -v cc="$curl_cpu" -v mb="$size_mb" 'BEGIN {
  printf "  brfget  %6.3f s  %6.3f s CPU  %7.1f MB/s\n", bw, bc, mb / bw
  printf "  curl    %6.3f s  %6.3f s CPU  %7.1f MB/s\n", cw, cc, mb / cw
  tr = cw / bw; cr = bc / cc
  printf "throughput ratio brfget/curl: %.2f (target >= 0.90) %s\n", tr, (tr >= 0.9 ? "ok" : "MISSED")
  printf "CPU time ratio   brfget/curl: %.2f (target <= 1.50) %s\n", cr, (cr <= 1.5 ? "ok" : "MISSED")
}'

"$trickle" --seconds 10
