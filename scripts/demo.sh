#!/usr/bin/env bash
# The updater's main job, end to end on this machine: a local update server
# (a real nginx on the loopback interface) serves release 1.050 of the game
# as brfpublish built it from the release trees, with the game's news pages,
# a game directory still holds release 1.040, and the updater window opens
# on it. With a display the player presses "Check Version", watches the
# update, may read the patch notes and starts the demo's terms program;
# without one the window runs on a virtual display, the demo plays the
# player's part and saves screenshots. Then the game files are compared
# with the new release.
#
#   scripts/demo.sh              the window (BRF_DEMO_PORT: the server's port)
#   scripts/demo.sh --console    the console updater instead
#   scripts/demo.sh --build-only only build the demo's programs (build/demo)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
mode=window
[ "${1:-}" = "--console" ] && mode=console
# The window's build knows the server's addresses, so the port is fixed.
demo_port=${BRF_DEMO_PORT:-18480}

bash scripts/setup.sh
# Every program the demo builds with its key lives in its own build folder:
# build/native keeps updaters without a key, which accept unsigned servers.
demo_build=$root/build/demo
brfpublish=$demo_build/tools/brfpublish/brfpublish
brfupdate=$demo_build/tools/brfupdate/brfupdate
# The operator's key pair (made once); the updater is built with its public key.
keys=$root/build/demo-keys
echo "== building brfpublish, then brfupdate with the public key of $keys (build/demo)"
cmake -S "$root" -B "$demo_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRF_TESTS=OFF >/dev/null
cmake --build "$demo_build" -j 2 --target brfpublish >/dev/null
[ -f "$keys/update.key" ] || { mkdir -p "$keys" && "$brfpublish" keygen --secret "$keys/update.key" --public "$keys/update.pub" >/dev/null; }
cmake -S "$root" -B "$demo_build" -DBRF_UPDATE_PUBLIC_KEY="$(cat "$keys/update.pub")" >/dev/null
cmake --build "$demo_build" -j 2 --target brfupdate >/dev/null
if [ "${1:-}" = "--build-only" ]; then
  exit 0
fi

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
printf 'Release 1.050\r\n- a map of the northern reefs\r\n- 120 new ships\r\n' >"$new/patchnotes_english.txt"
printf 'Version 1.050\r\n- eine Karte der n\xf6rdlichen Riffe\r\n- 120 neue Schiffe\r\n' >"$new/patchnotes_deutsch.txt"
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

# The game's web site: its home page, the news pages the window shows, and
# the partner portal's page.
mkdir -p "$www/brf/script" "$www/portal"
news() {
  printf '<html><head><meta charset="utf-8"><title>%s</title></head>
<body style="font-family:sans-serif;background:#eef4f7;color:#123">
<h2 style="color:#0b4a6f">%s</h2><p>%s</p><p>%s</p></body></html>\n' "$1" "$1" "$2" "$3"
}
news "News from the harbour" "Release 1.050 is out: a map of the northern reefs and 120 new ships." \
  "Press Check Version below to bring your game up to date." >"$www/brf/script/clientnews_en.html"
news "Neues aus dem Hafen" "Version 1.050 ist da: eine Karte der n&ouml;rdlichen Riffe und 120 neue Schiffe." \
  "Klicken Sie unten auf Version Pr&uuml;fen, um Ihr Spiel zu aktualisieren." >"$www/brf/script/clientnews_de.html"
news "Brinefall" "The game's home page (demo)." "" >"$www/index.html"
news "Harbour Portal" "The partner portal (demo)." "" >"$www/portal/index.html"

if [ "$mode" = window ]; then
  nginx_start "$work/nginx" "$www" "$demo_port"
else
  nginx_start "$work/nginx" "$www"
fi
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

status=0
if [ "$mode" = window ]; then
  # The demo's terms program, which "Start Game" launches; both programs
  # find their named mutexes below the same runtime directory.
  install -m 755 scripts/demo/terms.py "$game/terms.exe"
  export XDG_RUNTIME_DIR=$work/run
  mkdir -p -m 700 "$XDG_RUNTIME_DIR"

  echo
  echo "== building the updater window for this server (build/demo)"
  demo_cmake_args=(
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRF_TESTS=OFF
    "-DBRF_DEFAULT_SERVER=$server"
    "-DBRF_WEB_HOST=http://127.0.0.1:$nginx_port"
    "-DBRF_PORTAL_SITE=http://127.0.0.1:$nginx_port/portal/"
    "-DBRF_UPDATE_PUBLIC_KEY=$(cat "$keys/update.pub")"
  )
  cmake -S "$root" -B "$demo_build" -G Ninja "${demo_cmake_args[@]}" >/dev/null
  cmake --build "$demo_build" -j 2 --target updater >/dev/null
  # Installed in the game directory as players have it: the programs it
  # starts are found beside it.
  install -m 755 "$demo_build/src/updater/program/updater" "$game/updater"
  updater=$game/updater
  # Not a first run: "Start Game" opens the terms program, not the settings.
  printf 'do_first_setup=0\r\n' >>"$game/config.ini"

  echo
  if xdotool getdisplaygeometry >/dev/null 2>&1; then
    echo "== the updater window: press \"Check Version\", then \"Start Game\"; close it to end the demo"
    (cd "$game" && "$updater") || status=$?
  else
    echo "== no display: the updater window on a virtual display, the demo plays the player"
    # The session bus and the toolkit talk on stderr: kept in a file, shown
    # when the run fails.
    mkdir -p "$demo_build/screenshots"
    xvfb-run -a -s "-screen 0 1024x768x24" dbus-run-session -- \
      bash scripts/demo/drive-window.sh "$updater" "$game" "$demo_build/screenshots" \
      2>"$demo_build/screenshots/stderr.txt" || status=$?
    if [ "$status" -ne 0 ]; then
      echo "-- what the window and its driver said on stderr:"
      grep -v '^dbus-daemon' "$demo_build/screenshots/stderr.txt" | tail -n 20 | sed 's/^/  /'
    fi
    echo "-- screenshots in $demo_build/screenshots"
  fi
  echo "-- the end of the updater's diagnostic log:"
  tail -n 12 "$game/_debugg.log" 2>/dev/null | sed 's/^/  /' || true
else
  echo
  echo "== brfupdate --server $server"
  (cd "$game" && "$brfupdate" --server "$server") >"$work/actions.txt" 2>"$work/boxes.txt" || status=$?
  echo "-- action log:"
  sed 's/^/  /' "$work/actions.txt"
  if [ -s "$work/boxes.txt" ]; then
    echo "-- message boxes:"
    sed 's/^/  /' "$work/boxes.txt"
  fi
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
