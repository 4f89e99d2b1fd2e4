#!/usr/bin/env bash
# Builds the programs and shows what exists so far, end to end: an operator
# packs a game file into a patch container, the update server (a real nginx on
# the loopback interface) publishes it, and the updater's HTTP client fetches
# it, checks it and decodes it back into the game file.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup.sh
echo "== building"
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)" >/dev/null

brfpack=$root/build/native/tools/brfpack/brfpack
brfget=$root/build/native/tools/brfget/brfget

work=$(mktemp -d)
chmod 755 "$work"  # the nginx worker runs as another user
nginx_pid=
cleanup() {
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/www/patch" "$work/game/data" "$work/nginx"
# A game file to publish: text and some binary data.
{ for i in $(seq 1 2000); do echo "harbour $i: salt, rope, tar and timber for the fleet"; done
  head -c 200000 /dev/urandom; } > "$work/game/data/ships.dat"

echo
echo "== the operator packs data/ships.dat"
"$brfpack" encode "$work/game/data/ships.dat" "$work/www/patch/ships.dat"
"$brfpack" info "$work/www/patch/ships.dat"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat > "$work/nginx/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $work/nginx;
  proxy_temp_path $work/nginx;
  fastcgi_temp_path $work/nginx;
  uwsgi_temp_path $work/nginx;
  scgi_temp_path $work/nginx;
  server {
    listen 127.0.0.1:$port;
    root $work/www;
  }
}
CONF
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
nginx_pid=$!
for _ in $(seq 1 50); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done

echo
echo "== the updater's HTTP client fetches http://127.0.0.1:$port/patch/ships.dat"
mkdir -p "$work/client/patch"
"$brfget" "http://127.0.0.1:$port/patch/ships.dat" "$work/client/patch/ships.dat"

echo
echo "== the received container is checked and decoded"
echo "check code: $("$brfpack" check "$work/client/patch/ships.dat")"
"$brfpack" decode "$work/client/patch/ships.dat" "$work/client/ships.dat"
if cmp -s "$work/game/data/ships.dat" "$work/client/ships.dat"; then
  echo "decoded file is identical to the published one ($(stat -c %s "$work/client/ships.dat") bytes)"
else
  echo "decoded file differs from the published one" >&2
  exit 1
fi
