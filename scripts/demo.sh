#!/usr/bin/env bash
# The updater's main job, end to end on this machine: a local update server
# (a real nginx on the loopback interface) serves release 1.050 of the game
# as brfpublish built it from the release trees, a game directory still
# holds release 1.040, and the
# console updater brings it up to date. Shows the action log, the message
# boxes, the exit status and the game files compared with the new release.
# Needs no display.
#
#   scripts/demo.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup.sh
brfpublish=$root/build/native/tools/brfpublish/brfpublish
brfupdate=$root/build/native/tools/brfupdate/brfupdate
# The operator's key pair (made once); the updater is built with its public key.
keys=$root/build/demo-keys
echo "== building brfpublish, then brfupdate with the public key of $keys"
cmake --preset native >/dev/null
cmake --build --preset native -j 2 --target brfpublish >/dev/null
[ -f "$keys/update.key" ] || { mkdir -p "$keys" && "$brfpublish" keygen --secret "$keys/update.key" --public "$keys/update.pub" >/dev/null; }
cmake --preset native -DBRF_UPDATE_PUBLIC_KEY="$(cat "$keys/update.pub")" >/dev/null
cmake --build --preset native -j 2 --target brfupdate >/dev/null

source scripts/nginx.sh
work=$(mktemp -d /tmp/brf-demo.XXXXXX)
chmod 755 "$work"
cleanup() {
  nginx_stop
  rm -rf "$work"
}
trap cleanup EXIT

old=$work/release-1.040
new=$work/release-1.050
www=$work/www
game=$work/game

# Two releases of a small game: the new one changes the ship list and adds
# a map in a new directory; the rest stays as it was.
make_release() {
  local dir=$1 ships=$2
  mkdir -p "$dir/data/ships" "$dir/save"
  for i in $(seq 1 400); do echo "harbour $i: salt, rope, tar and timber"; done >"$dir/data/harbours.txt"
  for i in $(seq 1 "$ships"); do echo "ship $i: brig, 14 guns, crew of $((40 + i % 30))"; done >"$dir/data/ships/fleet.dat"
  head -c 65536 /dev/zero | tr '\0' 'w' >"$dir/data/ships/sails.bin"
  printf 'Brinefall client\r\n' >"$dir/readme.txt"
}
make_release "$old" 300
make_release "$new" 420
mkdir -p "$new/data/maps"
{ for i in $(seq 1 3000); do echo "reef $i at $((i * 37 % 900)),$((i * 91 % 700))"; done
  head -c 40000 /dev/urandom; } >"$new/data/maps/north.map"

echo
echo "== the operator publishes release 1.050 for clients of 1.040 with brfpublish"
printf 'sea-1.brinefall.invalid 7777 Open Sea\r\nsea-2.brinefall.invalid 7777 Narrows\r\n' \
  >"$work/servers.dat"
mkdir -p "$www"
"$brfpublish" build --out "$www/set1" --release "$new" 1050 0 --from "$old" 1040 0 \
  --servers "$work/servers.dat" --key "$keys/update.key"
"$brfpublish" verify --public-key "$keys/update.pub" "$www/set1"
echo "-- patch/_versions.txt:"
sed 's/^/  /' "$www/set1/patch/_versions.txt" | tr -d '\r'

nginx_start "$work/nginx" "$www"
server=http://127.0.0.1:$nginx_port/set1/
echo "update server: $server (nginx pid $nginx_pid)"

echo
echo "== a game directory with release 1.040 (registry: English, version 1.040.0)"
cp -r "$old" "$game"
printf 'debug_loglevel=2\r\n' >"$game/config.ini"
cat >"$work/user.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Brinefall]
"Language"=dword:00000001
"Version"=dword:00000410
"Build"=dword:00000000
"InstallDir"="C:\\Games\\Brinefall"
REG
export BRF_HKCU_FILE=$work/user.reg
export BRF_HKLM_FILE=$work/no-such-hive.reg
(cd "$game" && find . -type f | sort | sed 's|^\./|  |')

echo
echo "== brfupdate --server $server"
status=0
(cd "$game" && "$brfupdate" --server "$server") >"$work/actions.txt" 2>"$work/boxes.txt" || status=$?
echo "-- action log:"
sed 's/^/  /' "$work/actions.txt"
if [ -s "$work/boxes.txt" ]; then
  echo "-- message boxes:"
  sed 's/^/  /' "$work/boxes.txt"
fi
echo "-- exit status: $status"

echo
echo "== the game directory compared with release 1.050"
differ=0
while IFS= read -r file; do
  if cmp -s "$new/$file" "$game/$file"; then
    echo "  same     $file"
  else
    echo "  DIFFERS  $file"
    differ=1
  fi
done < <(cd "$new" && find . -type f | sed 's|^\./||' | sort)
echo "-- backups of the replaced files in patch/backup:"
(cd "$game/patch/backup" && find . -type f | sort | sed 's|^\./|  |')
echo "-- received containers in patch:"
(cd "$game/patch" && find . -maxdepth 1 -type f | sort | sed 's|^\./|  |')

if [ "$status" -ne 0 ] || [ "$differ" -ne 0 ]; then
  echo "== the update did not bring the game to release 1.050" >&2
  exit 1
fi
echo "== the game directory now holds release 1.050"
