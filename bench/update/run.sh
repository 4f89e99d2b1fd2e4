#!/usr/bin/env bash
# How quickly the console updater brings a game directory one release
# behind up to date, and with how much memory: over a player's line, over
# the same line with round trips of a player far away, and over unlimited
# loopback, from a local nginx. Not a test: nothing fails on a missed goal,
# the figures are printed.
#
#   bench/update/run.sh [--rounds R] [--preset bench|native] [--build DIR]
#                       [--brfupdate PATH] [--rate MIB] [--rtt "MS ..."]
#                       [--rtt-rounds N] [--deltas] [--no-bundles]
#                       [--synthetic [--files N] [--mb M]] [--help]
#
# Data (fetched once, cached under build/bench-update-data/, never
# committed): Debian's freeorion-data, the data of a space strategy game
# (PNG graphics, Ogg sounds and music, content scripts, string tables,
# Python AI scripts), two consecutive Debian releases of it:
#   0.4.10.2-1 (bookworm)  installed as the game directory, 3072 files, 121 MB
#   0.5.1-2    (trixie)    published as the new release,   3432 files, 150 MB
# fetched with apt-get download from a private apt state under the cache
# and checked against the sha256 digests below. The game's tree
# (usr/share/games/freeorion) is the game directory; every "-" in a name
# becomes "_" (the version index reads "-" as a path separator), links and
# empty files are left out. brfpublish builds the server tree without
# deltas, so the update fetches a full container for each of the 1222 new
# or changed files (about 51 MB); --deltas publishes with deltas instead,
# --no-bundles passes --no-bundles to brfpublish build (when its --help lists
# that option; otherwise the script says so and publishes as it does by
# default). Each choice has a server tree of its own in the cache, built
# again whenever brfpublish changes (with --deltas the loopback yardstick
# below still fetches and decodes the whole containers; the round trips'
# yardsticks fetch what brfupdate fetched). The registry fixture says release 1.040
# is installed; the new one is 1.050. Files only the old release has stay
# (the updater deletes nothing). After every run the game directory must
# equal the new release plus those files.
# --synthetic instead uses update_bench_set's made-up set: N files of M MB
# (default 500 and 200), half compressible text, half random bytes
# (--deltas and --no-bundles do not apply to it).
#
# Figures, each the median of R rounds (default 3), from the page cache:
#   line      brfupdate through a relay (measure_update.py) that plays a
#             player's line of MIB MiB/s (default 6): one token bucket for
#             all connections, 64 KiB burst. From the last byte the relay
#             hands to brfupdate to "ready", the moment brfupdate prints its
#             last action-log line (update finished). Goal: at most 1 s.
#             The whole run's wall time is printed beside it. Before the
#             rounds, curl fetches the largest containers through the relay
#             once, to show the relay carries the full rate.
#   loopback  brfupdate straight from nginx, against the yardstick: curl
#             fetching every container (one curl for all, keeping its
#             connection) plus one `brfpack decode` per file. Goal: at most
#             0.5 times the yardstick.
#   memory    brfupdate's peak resident memory (the highest of all its runs,
#             measured by the launcher update_bench_peak). Goal: at most 48 MB.
#   round trips (after the R rounds; --rtt "" leaves them out)
#             for each round trip time of --rtt (default "0 50 100 200"
#             milliseconds), N rounds (--rtt-rounds, default 1), median: the
#             same relay and line plus the round trip: every chunk it
#             forwards is held RTT/2 in each direction (order kept), and a
#             new connection's first request only leaves one RTT after the
#             connect, so connect plus request cost two round trips, every
#             further request on a kept connection one. One row per RTT:
#             brfupdate's whole run (wall), bytes/line (the bytes it received
#             through the relay, headers included, at the line's rate), their
#             ratio, the connections and HTTP requests the relay saw from it;
#             then the files it fetched (the GET requests in the relay's log
#             that name files on the server) fetched through the same relay
#             by aria2c -j 4 -x1 (from an input file of URLs, into a
#             temporary directory) and by one curl process keeping its
#             connection (nginx closes a kept connection after 1000
#             requests, so curl may need a second one), each checked byte
#             for byte. Goals: the whole run at most 1.15 x bytes/line + 2 s
#             and never slower than aria2c -j 4; at most 4 requests for a
#             client that needs a whole bundle (counts printed, not judged).
#             A row costs brfupdate's run (from a bundle a few requests;
#             with --no-bundles about 1224 connections, four at a time, some
#             2 RTT each: over a minute at 200 ms), plus the yardsticks'
#             runs of the same files (curl's one connection costs about one
#             RTT a file: over 4 minutes at 200 ms for the 1224 files).
# When brfupdate accepts --decode-at-install (decoding everything in the
# install phase, as the engine used to), every brfupdate figure is measured
# with it as well, for comparison.
#
# --brfupdate PATH measures that binary instead of the preset's own (the
# tools and the data still come from the preset's build). --build DIR
# configures the preset into DIR and builds there instead of build/PRESET
# (for a build directory of one's own). Relative paths are taken from the
# directory the script is started in.
# Needs apt-get, dpkg-deb, nginx, curl and python3; aria2c for the round
# trips' aria2c column (left empty without it). A round takes about a
# minute, two with --decode-at-install (a second line run and loopback run).
set -euo pipefail
caller=$PWD
cd "$(dirname "$0")/../.."
root=$PWD

usage() {
  sed -n '/^#   bench/,/^#  *\[--synthetic/p' "$0" | sed 's/^# \{0,1\}//'
  echo "(the comment at the top of bench/update/run.sh says what it measures)"
}

rounds=3
preset=bench
build=
brfupdate=
rtt_list="0 50 100 200"
rtt_rounds=1
deltas=0
no_bundles=0
synthetic=0
files=500
mb=200
rate_mib=6
burst=65536
while [ $# -gt 0 ]; do
  case "$1" in
    --rounds) rounds=$2; shift 2 ;;
    --preset) preset=$2; shift 2 ;;
    --build) build=$(cd "$caller" && realpath -m "$2"); shift 2 ;;
    --brfupdate) brfupdate=$(cd "$caller" && realpath "$2"); shift 2 ;;
    --rate) rate_mib=$2; shift 2 ;;
    --rtt) rtt_list=$2; shift 2 ;;
    --rtt-rounds) rtt_rounds=$2; shift 2 ;;
    --deltas) deltas=1; shift ;;
    --no-bundles) no_bundles=1; shift ;;
    --synthetic) synthetic=1; shift ;;
    --files) files=$2; shift 2 ;;
    --mb) mb=$2; shift 2 ;;
    --help | -h) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done
case "$rounds" in '' | *[!0-9]* | 0) echo "--rounds takes a positive number" >&2; exit 2 ;; esac
case "$rtt_rounds" in '' | *[!0-9]* | 0) echo "--rtt-rounds takes a positive number" >&2; exit 2 ;; esac
for ms in $rtt_list; do
  case "$ms" in *[!0-9]*) echo "--rtt takes round trips in whole milliseconds: \"0 50 100\"" >&2; exit 2 ;; esac
done

for tool in nginx curl python3 dpkg-deb apt-get; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is missing (scripts/setup.sh installs it)" >&2
    exit 1
  fi
done

echo "== building (preset $preset)"
targets="brfpack brfpublish update_bench_set update_bench_peak"
[ -n "$brfupdate" ] || targets="$targets brfupdate"
if [ -n "$build" ]; then
  cmake --preset "$preset" -B "$build" -DBRF_BENCH=ON >/dev/null
  cmake --build "$build" -j 2 --target $targets >/dev/null
  bin=$build
else
  cmake --preset "$preset" -DBRF_BENCH=ON >/dev/null
  cmake --build --preset "$preset" -j 2 --target $targets >/dev/null
  bin=$root/build/$preset
fi
[ -n "$brfupdate" ] || brfupdate=$bin/tools/brfupdate/brfupdate
brfpack=$bin/tools/brfpack/brfpack
brfpublish=$bin/tools/brfpublish/brfpublish
launcher=$bin/bench/update/update_bench_peak
tools="python3 $root/bench/update/set_tools.py"
if [ ! -x "$brfupdate" ]; then
  echo "no brfupdate at $brfupdate" >&2
  exit 1
fi

# ---------------------------------------------------------------- the data
data=$root/build/bench-update-data
old_version=0.4.10.2-1
new_version=0.5.1-2

deb_sha256() {
  case "$1" in
    0.4.10.2-1) echo 911a15d562f9c2a454eda03d4ed9e9ddc01be850d415652f257fe14660896017 ;;
    0.5.1-2) echo 87ee53e32ecbb9323da2d6879dc18c3dadc0aa03cd06f0b9e2bd4a76a649fe0d ;;
  esac
}

source bench/private_apt.sh

fetch_release() {
  local version=$1
  local deb=$data/debs/freeorion-data_${version}_all.deb
  local dir=$data/extract/$version
  if [ ! -f "$deb" ] || ! echo "$(deb_sha256 "$version")  $deb" | sha256sum -c --status; then
    if [ ! -f "$data/apt/.updated" ]; then
      echo "== reading the package lists of bookworm and trixie"
      mkdir -p "$data/apt/lists/partial" "$data/apt/cache/archives/partial"
      printf 'deb http://deb.debian.org/debian %s main\n' bookworm trixie >"$data/apt/sources.list"
      apt_private apt-get -qq update
      touch "$data/apt/.updated"
    fi
    echo "== fetching freeorion-data $version"
    mkdir -p "$data/debs"
    rm -f "$deb"
    (cd "$data/debs" && apt_private apt-get -qq download "freeorion-data=$version")
    if ! echo "$(deb_sha256 "$version")  $deb" | sha256sum -c --status; then
      echo "freeorion-data $version from Debian is not the package this benchmark knows" >&2
      exit 1
    fi
    rm -rf "$dir"
  fi
  if [ ! -f "$dir/.complete" ]; then
    rm -rf "$dir"
    mkdir -p "$dir"
    dpkg-deb -x "$deb" "$dir"
    touch "$dir/.complete"
  fi
}

# What brfpublish build is told besides the trees; each choice has a set
# directory of its own.
# The update fetches no repair container, and packing one for each of the
# release's files would triple the publishing time.
publish_flags=(--no-deltas --no-repair-set)
publish_suffix=
publish_words="without deltas"
if [ "$deltas" = 1 ]; then
  publish_flags=(--no-repair-set)
  publish_suffix=-deltas
  publish_words="with deltas"
fi
if [ "$no_bundles" = 1 ] && [ "$synthetic" = 0 ]; then
  publish_help=$("$brfpublish" --help 2>&1 || true)
  case "$publish_help" in
    *--no-bundles*)
      publish_flags+=(--no-bundles)
      publish_suffix=$publish_suffix-no-bundles
      publish_words="$publish_words, --no-bundles"
      ;;
    *) echo "   brfpublish --help lists no --no-bundles yet: publishing without that option" ;;
  esac
fi

# Publishing takes seconds; the set is built again whenever brfpublish
# changes, so the containers are always the current publisher's.
prepare_real_set() {
  fetch_release "$old_version"
  fetch_release "$new_version"
  set_dir=$data/freeorion-$old_version-to-$new_version$publish_suffix
  local stamp
  stamp="set 1, brfpublish $(sha256sum "$brfpublish" | cut -c1-16), ${publish_flags[*]}"
  if [ "$(cat "$set_dir/.complete" 2>/dev/null)" != "$stamp" ]; then
    echo "== laying out both releases and publishing the new one into $set_dir"
    rm -rf "$set_dir"
    mkdir -p "$set_dir"
    $tools tree "$data/extract/$old_version/usr/share/games/freeorion" "$set_dir/old" >/dev/null
    $tools tree "$data/extract/$new_version/usr/share/games/freeorion" "$set_dir/new" >/dev/null
    $tools expected "$set_dir/old" "$set_dir/new" "$set_dir/expected"
    printf 'sea-1.brinefall.invalid 7777 Open Sea\r\n' >"$set_dir/servers.txt"
    "$brfpublish" build --out "$set_dir/www" --release "$set_dir/new" 1050 0 \
      --from "$set_dir/old" 1040 0 --servers "$set_dir/servers.txt" \
      --time "2025-08-09 12:00:00" "${publish_flags[@]}" --quiet
    echo "$stamp" >"$set_dir/.complete"
  fi
  title="update of Debian's freeorion-data $old_version (bookworm) to $new_version (trixie), published $publish_words"
}

prepare_synthetic_set() {
  set_dir=$bin/update-set-$files-$mb
  if [ ! -f "$set_dir/.complete" ]; then
    echo "== packing the synthetic patch set ($files files, $mb MB) into $set_dir"
    rm -rf "$set_dir"
    "$bin/bench/update/update_bench_set" "$set_dir" --files "$files" --mb "$mb"
    touch "$set_dir/.complete"
  fi
  ln -sfn new "$set_dir/expected"
  title="update of the synthetic set ($files files, $mb MB, half of them text, half random)"
}

if [ "$synthetic" = 1 ]; then
  prepare_synthetic_set
else
  prepare_real_set
fi
$tools names "$set_dir/www/patch/_versions.txt" >"$set_dir/names"
listed=$(wc -l <"$set_dir/names")
installed_files=$(find "$set_dir/new" -type f | wc -l)
installed_mb=$(du -sbL "$set_dir/new" | awk '{ printf "%.1f", $1 / 1048576 }')
# Container names may hold blanks.
sizes_of_containers() {
  (cd "$set_dir/www/patch" && tr '\n' '\0' <"$set_dir/names" | du -bL --files0-from=- "$@")
}
sent_mb=$(sizes_of_containers -c | tail -1 | awk '{ printf "%.1f", $1 / 1048576 }')
title="$title: $installed_files files, $installed_mb MB installed; $listed containers of $sent_mb MB to fetch"

# ---------------------------------------------------------------- the runs
source scripts/nginx.sh
work=$(mktemp -d /tmp/brf-update-bench.XXXXXX)
chmod 755 "$work"
cleanup() {
  nginx_stop
  rm -rf "$work"
}
trap cleanup EXIT
nginx_start "$work/nginx" "$set_dir/www"
server=127.0.0.1:$nginx_port

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

rate=$(awk -v m="$rate_mib" 'BEGIN { printf "%d", m * 1048576 }')
old_mode=0
case "$("$brfupdate" --help 2>/dev/null || true)" in
  *--decode-at-install*) old_mode=1 ;;
esac
echo "== $title"
echo "   brfupdate: $brfupdate"
if [ "$old_mode" = 1 ]; then
  echo "   it accepts --decode-at-install: measured with and without it"
else
  echo "   it has no --decode-at-install: today's engine, measured as it is"
fi

# What a run leaves is moved aside, and only removed with $work at the end:
# on a file system without a journal (this machine's ext4) every file
# created within minutes of many deletions passes over the freed inodes one
# by one, which would charge brfupdate, with its thousands of files, for
# the bench's own clean-up.
spent=0
set_aside() {
  local dir
  for dir in "$@"; do
    if [ -e "$dir" ]; then
      spent=$((spent + 1))
      mkdir -p "$work/spent"
      mv "$dir" "$work/spent/$spent"
    fi
  done
}

# Runs brfupdate once on a fresh copy of the old game directory; appends its
# figures to $work/LABEL.jsonl and checks the result. Further arguments go
# to measure_update.py.
run_brfupdate() {
  local label=$1 round=$2
  shift 2
  local relay=() flags=()
  case "$label" in line* | rtt*) relay=(--rate "$rate" --burst "$burst") ;; esac
  case "$label" in *-dai) flags=(--decode-at-install) ;; esac
  set_aside "$work/game"
  cp -a "$set_dir/old" "$work/game"
  sync
  local figures
  figures=$(cd "$work/game" && python3 "$root/bench/update/measure_update.py" \
    --launcher "$launcher" --server "$server" "${relay[@]}" \
    --log "$work/$label-$round.log" --stderr "$work/$label-$round.err" "$@" \
    -- "$brfupdate" "${flags[@]}")
  if ! $tools progress --code "$label" "$figures" >/dev/null; then
    echo "brfupdate ($label) failed: $figures" >&2
    tail -n 5 "$work/$label-$round.log" "$work/$label-$round.err" >&2
    exit 1
  fi
  if ! $tools check "$set_dir/expected" "$work/game" >&2; then
    echo "after brfupdate ($label), the game directory is not the new release" >&2
    exit 1
  fi
  echo "$figures" >>"$work/$label.jsonl"
  $tools progress "$label" "$figures"
}

# Runs a command; prints its wall seconds.
wall_of() {
  python3 - "$@" <<'PY'
import subprocess, sys, time
start = time.monotonic()
code = subprocess.call(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
print(f"{time.monotonic() - start:.3f}")
sys.exit(code)
PY
}

# The yardstick: one curl for all containers, with the updater's names.
{
  while read -r name; do
    printf 'url = "http://%s/patch/%s"\noutput = "%s/fetched/%s"\n' "$server" "${name// /%20}" "$work" "$name"
  done <"$set_dir/names"
} >"$work/curl.cfg"
decode_all() {
  while read -r name; do
    "$brfpack" decode "$work/fetched/$name" "$work/decoded/$name" >/dev/null || return 1
  done <"$set_dir/names"
}
export -f decode_all
export brfpack work set_dir

# The relay must carry the full rate, or the line figures mean nothing:
# the largest containers, at least 24 MiB of them, through it with one curl.
relay_args=()
sum=0
while read -r size name; do
  relay_args+=(-o /dev/null "{url}patch/$name")
  sum=$((sum + size))
  [ "$sum" -lt $((24 * 1048576)) ] || break
done < <(sizes_of_containers | sort -rn | sed 's/ /%20/g')
echo "== relay check: curl through the line for $((sum / 1048576)) MiB"
relay_check=$(python3 "$root/bench/update/measure_update.py" --launcher "$launcher" \
  --server "$server" --rate "$rate" --burst "$burst" -- curl -s -f "${relay_args[@]}")

curl_walls=()
decode_walls=()
for round in $(seq "$rounds"); do
  echo "== round $round of $rounds"
  run_brfupdate line "$round"
  [ "$old_mode" = 0 ] || run_brfupdate line-dai "$round"
  run_brfupdate loop "$round"
  [ "$old_mode" = 0 ] || run_brfupdate loop-dai "$round"
  set_aside "$work/fetched" "$work/decoded" "$work/game"
  mkdir -p "$work/fetched" "$work/decoded"
  curl_walls+=("$(wall_of curl -s -f --config "$work/curl.cfg")")
  decode_walls+=("$(wall_of bash -c decode_all)")
  echo "   curl      wall ${curl_walls[-1]} s, decode ${decode_walls[-1]} s"
done

# ------------------------------------------------------- the round trips
# Fetches the files of LIST (request targets) through the relay with TOOL
# (aria2c or curl) at a round trip of MS milliseconds; appends the figures
# to $work/TOOL-MS.jsonl after checking every file.
fetch_list() {
  local tool=$1 ms=$2 round=$3 list=$4
  local label=$tool-$ms yard=$work/yard command=() number=0 target
  set_aside "$yard"
  mkdir -p "$yard/files"
  case "$tool" in
    aria2c)
      while read -r target; do
        number=$((number + 1))
        printf '{url}%s\n  out=%d\n' "${target#/}" "$number"
      done <"$list" >"$yard/template"
      command=(aria2c --no-conf -q -j 4 -x 1 -d "$yard/files" -i "$yard/input"
        --allow-overwrite=true --auto-file-renaming=false --file-allocation=none
        --summary-interval=0)
      ;;
    curl)
      while read -r target; do
        number=$((number + 1))
        printf 'url = "{url}%s"\noutput = "%s/files/%d"\n' "${target#/}" "$yard" "$number"
      done <"$list" >"$yard/template"
      command=(curl -s -S -f -g --config "$yard/input")
      ;;
  esac
  local figures
  figures=$(python3 "$root/bench/update/measure_update.py" --launcher "$launcher" \
    --server "$server" --rate "$rate" --burst "$burst" --rtt "$ms" \
    --deadline "$deadline" --requests "$work/$label-$round.requests" \
    --stderr "$work/$label-$round.err" --fill "$yard/template" "$yard/input" -- "${command[@]}")
  if ! $tools progress --tool --code "$label" "$figures"; then
    echo "$tool failed through the relay: $figures" >&2
    tail -n 5 "$work/$label-$round.err" >&2
    exit 1
  fi
  figures=$($tools fetched "$list" "$yard/files" "$set_dir/www" "$figures")
  echo "$figures" >>"$work/$label.jsonl"
  set_aside "$yard"
}

have_aria2c=0
if command -v aria2c >/dev/null; then
  have_aria2c=1
fi
rtt_done=()
for ms in $rtt_list; do
  echo "== round trip $ms ms, $rtt_rounds round(s)"
  # Bounded: the updater opens about one connection per file one after the
  # other, at about two round trips each.
  deadline=$((900 + listed * ms * 4 / 1000))
  for round in $(seq "$rtt_rounds"); do
    run_brfupdate "rtt$ms" "$round" --rtt "$ms" --deadline "$deadline" \
      --requests "$work/rtt$ms-$round.requests"
    $tools paths "$work/rtt$ms-$round.requests" "$set_dir/www" >"$work/list-$ms-$round"
    echo "   brfupdate fetched $(wc -l <"$work/list-$ms-$round") files; the same through the relay:"
    if [ "$have_aria2c" = 1 ]; then
      fetch_list aria2c "$ms" "$round" "$work/list-$ms-$round"
    else
      echo "   aria2c is missing (apt-get install aria2): no aria2c column"
    fi
    fetch_list curl "$ms" "$round" "$work/list-$ms-$round"
  done
  rtt_done+=("$ms")
done

echo
summary=(--work "$work" --title "$title" --rounds "$rounds" --rate-mib "$rate_mib"
  --burst "$burst" --relay-check "$relay_check"
  --curl "${curl_walls[@]}" --decode "${decode_walls[@]}"
  --rtt-ms "${rtt_done[@]}" --rtt-rounds "$rtt_rounds")
[ "$old_mode" = 0 ] || summary+=(--old-mode)
$tools summary "${summary[@]}"
