#!/usr/bin/env bash
# The Windows lane: builds the 32-bit MinGW preset `win32` and runs its whole
# test suite under Wine through ctest (CMAKE_CROSSCOMPILING_EMULATOR = wine).
#
# Wine gets a prefix of its own in the build folder, a 32-bit one like the
# players' systems, created on first use. Everything runs under a virtual
# X display, so the lane needs no desktop, no window manager and no stdin and
# works as root in CI. A persistent wineserver serves all tests: without it
# every test program would wait for the server to start and to shut down.
#   scripts/test-windows.sh [ctest arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
self="$root/scripts/$(basename "$0")"

jobs=${BRF_JOBS:-$(nproc)}
# Under Wine the tests mostly wait (program starts, hand-overs, sockets), so
# twice as many run at once as there are processors.
test_jobs=${BRF_TEST_JOBS:-$((2 * $(nproc)))}

export WINEPREFIX="$root/build/win32/wineprefix"
export WINEARCH=win32
# No .NET or HTML engine: their installers would ask and download.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=-all
# Wine wants a home directory; CI shells may have none.
export HOME=${HOME:-$root/build/win32}

# Second stage, started below under xvfb-run: the part that talks to Wine.
run_under_display() {
  stop_wineserver() {
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
  }
  # The end-to-end tests run the updater under Wine against a real nginx,
  # which Windows programs cannot start: one server serves all of them, each
  # test in a subdirectory of its root (tests/support/nginx_server.h).
  source "$root/scripts/nginx.sh"
  stop_services() {
    nginx_stop
    stop_wineserver
  }
  trap stop_services EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM

  # A prefix is complete once its marker exists; a half-made one (an
  # interrupted first run) is made again from scratch.
  if [ ! -f "$WINEPREFIX/.brf-prefix-ready" ]; then
    echo "== win32: creating the Wine prefix $WINEPREFIX"
    stop_wineserver
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineboot -i </dev/null
    wineserver -w
    # Unmanaged windows close at once; without a window manager managed
    # ones wait for it before they go away.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f </dev/null >/dev/null
    wineserver -w
    touch "$WINEPREFIX/.brf-prefix-ready"
  fi

  # A server left over from an interrupted run would refuse the persistent one.
  stop_wineserver
  # Scratch directories that tests could not remove while a program they
  # started still ran from them.
  rm -rf "$WINEPREFIX"/drive_c/users/*/Temp/brf-*
  wineserver -p
  # The first wine process brings up the prefix's services; do it before the
  # tests so that the first test does not pay for it.
  wine cmd /c exit 0 </dev/null

  local nginx_work="$root/build/win32/e2e-nginx"
  rm -rf "$nginx_work"
  nginx_start "$nginx_work" "$nginx_work/www"
  export BRF_TEST_NGINX_PORT=$nginx_port
  export BRF_TEST_NGINX_ROOT=$nginx_work/www

  echo "== win32: test"
  local rc=0
  ctest --test-dir build/win32 --output-on-failure -j "$test_jobs" "$@" </dev/null || rc=$?
  return $rc
}

if [ "${1:-}" = "--under-display" ]; then
  shift
  run_under_display "$@"
  exit $?
fi

trap 'echo "== win32: failed: $BASH_COMMAND" >&2' ERR

started=$(date +%s%N)
report_time() {
  local rc=$?
  local ended
  ended=$(date +%s%N)
  local ms=$(((ended - started) / 1000000))
  printf '== win32: lane wall time %d.%03d s\n' $((ms / 1000)) $((ms % 1000))
  exit $rc
}
trap report_time EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

echo "== win32: libraries"
bash scripts/mingw-libs.sh
echo "== win32: build"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs"

# A true-colour screen, as players have; xvfb-run's default is 8 bits.
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash "$self" --under-display "$@"
