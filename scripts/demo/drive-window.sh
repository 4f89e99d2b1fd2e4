#!/usr/bin/env bash
# Plays the player's part on a virtual display, for scripts/demo.sh: opens
# the updater window in the demo game directory, presses "Check Version",
# answers the patch-notes question, presses "Start Game" and lets the terms
# program come up, saving a screenshot at each step.
#   drive-window.sh UPDATER GAME_DIR SHOT_DIR
set -euo pipefail
updater=$1 game=$2 shots=$3
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$shots"

shot() { /usr/bin/python3 "$here/screenshot.py" "$1" "$shots/$2" | sed 's/^/  /'; }
# The id of the visible window titled like $1, waiting up to $2 seconds.
wait_window() {
  local i id
  for i in $(seq $(($2 * 10))); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1) || true
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    sleep 0.1
  done
  echo "drive-window: no window \"$1\" after $2 s" >&2
  return 1
}
# The key goes without a target window: xdotool sends a targeted key's
# release to that window, which is gone when the key closed it, and the
# display then keeps the key pressed.
press() {
  xdotool windowfocus --sync "$1"
  xdotool key "$2"
}

export BRF_DEMO_TERMS_PIDFILE=$shots/terms.pid
rm -f "$BRF_DEMO_TERMS_PIDFILE"
(cd "$game" && exec "$updater") &
updater_pid=$!
stop() {
  kill "$updater_pid" 2>/dev/null || true
  if [ -s "$BRF_DEMO_TERMS_PIDFILE" ]; then kill "$(cat "$BRF_DEMO_TERMS_PIDFILE")" 2>/dev/null || true; fi
}
trap stop EXIT

# The first start of the web engine on a new machine builds its caches.
main=$(wait_window "Auto-Updater" 90)
sleep 2 # the news page
shot "$main" demo-1-start.png
echo "  the player presses Check Version (Enter presses the default button)"
press "$main" Return
notes=$(wait_window "Update finished" 120)
shot root demo-2-finished.png
echo "  the update is installed; the player does not read the patch notes now (Esc)"
press "$notes" Escape
sleep 1
shot "$main" demo-3-start-game.png
echo "  the player presses Start Game"
press "$main" Return
terms=$(wait_window "terms of use" 30)
sleep 1
shot "$terms" demo-4-terms.png
for i in $(seq 100); do
  kill -0 $updater_pid 2>/dev/null || break
  sleep 0.1
done
if kill -0 $updater_pid 2>/dev/null; then
  echo "drive-window: the updater did not close after starting the terms program" >&2
  exit 1
fi
echo "  the updater closed once the terms program ran"
