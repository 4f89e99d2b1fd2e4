#!/usr/bin/env bash
# What a player downloads when the publisher ships binary deltas between
# releases instead of a full container for every changed file, measured on
# real release series of game data and on two made-up worst cases. Not a
# test: nothing fails on a missed goal, the figures are printed.
#
#   bench/delta/run.sh [--preset bench|native] [--quick] [--rows FILE.json]
#
# Data (fetched when missing, cached under build/bench-delta-data/, never
# committed):
#   freeciv  Debian's freeciv-data (tilesets and other PNG images, Ogg sound
#            sets, scenario maps, rulesets) and freeciv-server (ELF binary),
#            four consecutive Debian releases of the game:
#              2.6.3-1 (bullseye), 3.0.6-1+deb12u1 (bookworm),
#              3.1.4+ds-2+deb13u1 (trixie), 3.2.6+ds-1 (sid)
#            fetched with apt-get download from a private apt state under
#            the cache (this machine's own apt lists only know bookworm);
#            about 46 MB installed per release.
#   js-dos   the npm package js-dos (DOS game player: WebAssembly binaries
#            of its emulators, a release zip, scripts), four consecutive
#            releases 8.3.11, 8.3.14, 8.3.20, 8.4.1, their tarballs fetched
#            with curl from the npm registry and checked against pinned
#            sha256 digests; 14 to 28 MB unpacked per release.
#   insert   worst case: a 64 MB file of real data (the newest releases of
#            both series, one file after another), and the same with 4 KiB
#            inserted at its start.
#   rewrite  worst case: a 16 MB file replaced by 16 MB of other real data.
#
# For each pair of consecutive releases, every file present in both with
# other bytes is packed as a full container (brfpack, optimal mode) and as
# a delta by brfdelta make, xdelta3 -9 -D -R and zstd -19 --long=31 --patch-from.
# The publisher keeps a delta only when it is at most 80% of the container,
# so what the player downloads is, per changed file, the kept delta or else
# the container, plus a container for every file that is new. The same
# rule is applied to the references. Every delta of ours is applied back
# and compared with the new file. For the largest pair, brfdelta apply's
# throughput and peak memory are measured as well.
#
# Goals: ours within 1.05 times the best reference per file (the smaller
# delta of the two, or the container where that is smaller), never more than the
# containers; apply >= 100 MB/s of output with <= 32 MB peak memory.
# --quick measures only the newest pair of each series and makes the worst
# cases 16 MB and 4 MB. --rows writes every changed file's sizes (container,
# ours, each reference) for a closer look.
#
# A full run takes about 30 minutes on two busy cores, most of it in the
# thousands of small freeciv files; container sizes are cached for the next.
#
# Needs apt-get, dpkg-deb, curl, xdelta3, zstd and python3.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

preset=bench
quick=0
rows=
while [ $# -gt 0 ]; do
  case "$1" in
    --preset) preset=$2; shift 2 ;;
    --quick) quick=1; shift ;;
    --rows) rows=$2; shift 2 ;;
    *) echo "usage: bench/delta/run.sh [--preset bench|native] [--quick] [--rows FILE.json]" >&2; exit 2 ;;
  esac
done

for tool in xdelta3 zstd curl dpkg-deb python3; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is missing (scripts/setup.sh installs it)" >&2
    exit 1
  fi
done

echo "== building (preset $preset)"
cmake --preset "$preset" -DBRF_BENCH=ON >/dev/null
targets="brfpack"
# The delta codec comes with its own target; until then only the
# containers and the references are measured.
if cmake --build --preset "$preset" --target help | grep -q '^brfdelta:'; then
  targets="$targets brfdelta"
fi
cmake --build --preset "$preset" -j 2 --target $targets >/dev/null
bin=$root/build/$preset
brfpack=$bin/tools/brfpack/brfpack
brfdelta=$bin/tools/brfdelta/brfdelta
[ -x "$brfdelta" ] || brfdelta=

data=$root/build/bench-delta-data
mkdir -p "$data"

freeciv_versions="2.6.3-1 3.0.6-1+deb12u1 3.1.4+ds-2+deb13u1 3.2.6+ds-1"
jsdos_versions="8.3.11 8.3.14 8.3.20 8.4.1"

source bench/private_apt.sh

fetch_freeciv() {
  local version dir
  for version in $freeciv_versions; do
    dir=$data/series/freeciv/$version
    [ -f "$dir/.complete" ] && continue
    if [ ! -f "$data/apt/.updated" ]; then
      echo "== reading the package lists of bullseye, bookworm, trixie and sid"
      mkdir -p "$data/apt/lists/partial" "$data/apt/cache/archives/partial"
      {
        for suite in bullseye bookworm trixie sid; do
          echo "deb http://deb.debian.org/debian $suite main"
        done
      } >"$data/apt/sources.list"
      apt_private apt-get -qq update
      touch "$data/apt/.updated"
    fi
    echo "== fetching freeciv $version"
    rm -rf "$data/debs/$version" "$dir"
    mkdir -p "$data/debs/$version" "$dir"
    (cd "$data/debs/$version" && apt_private apt-get -qq download \
      "freeciv-data=$version" "freeciv-server=$version")
    for deb in "$data/debs/$version"/*.deb; do
      dpkg-deb -x "$deb" "$dir"
    done
    touch "$dir/.complete"
  done
}

# The registry's tarballs, checked against the digests they had when this
# benchmark was written, so every run measures the same bytes.
jsdos_sha256() {
  case "$1" in
    8.3.11) echo 4513df23b7c313b261993fef616cdd18ea518e62bfc3bdcd54d41f02b7b7e7f0 ;;
    8.3.14) echo 92619d3d20fc972c7c7a51495a20dee79dbb37c8fe440c85f66ed8ec77a815a3 ;;
    8.3.20) echo f7d35a45e000abce6ddb523d24cd53a4cf34f750a8a0a367b3d487a7e02e49bd ;;
    8.4.1) echo e8e45ce111c5c536105f067d983bc58a4e8f53a32db6ffadc7098ac07d936c1a ;;
  esac
}

fetch_jsdos() {
  local version dir tarball
  for version in $jsdos_versions; do
    dir=$data/series/js-dos/$version
    [ -f "$dir/.complete" ] && continue
    echo "== fetching js-dos $version"
    mkdir -p "$data/npm"
    tarball=$data/npm/js-dos-$version.tgz
    curl -sSf -o "$tarball.part" "https://registry.npmjs.org/js-dos/-/js-dos-$version.tgz"
    if ! echo "$(jsdos_sha256 "$version")  $tarball.part" | sha256sum -c --status; then
      echo "js-dos $version from the npm registry is not the tarball this benchmark knows" >&2
      exit 1
    fi
    mv "$tarball.part" "$tarball"
    rm -rf "$dir"
    mkdir -p "$dir"
    tar -xzf "$tarball" -C "$dir"
    touch "$dir/.complete"
  done
}

fetch_freeciv
fetch_jsdos

args=(--data "$data" --brfpack "$brfpack"
  --series "freeciv=$freeciv_versions" --series "js-dos=$jsdos_versions")
[ -n "$brfdelta" ] && args+=(--brfdelta "$brfdelta")
[ "$quick" = 1 ] && args+=(--quick)
[ -n "$rows" ] && args+=(--rows "$rows")
exec python3 "$root/bench/delta/measure.py" "${args[@]}"
