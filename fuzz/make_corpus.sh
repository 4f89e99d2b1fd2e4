#!/usr/bin/env bash
# Makes the seed corpus of the fuzz targets, fuzz/corpus/<target>/, from the
# project's own tools (containers from brfpack, a signed index from
# brfpublish) and from the texts that make_texts.py writes. The same sources
# give the same files, so running it again changes nothing. Inputs that a
# fuzzer found are written here too, named after what they show.
#
#   fuzz/make_corpus.sh         builds brfpack and brfpublish (native preset)
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset native >/dev/null
cmake --build --preset native --target brfpack brfpublish brfdelta >/dev/null
brfpack=build/native/tools/brfpack/brfpack
brfdelta=build/native/tools/brfdelta/brfdelta
brfpublish=build/native/tools/brfpublish/brfpublish

corpus=fuzz/corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# ---- pack: containers made by the packer -----------------------------------
mkdir -p "$corpus/pack"
python3 - "$work" <<'EOF'
import sys
d = sys.argv[1]
files = {
    "one": b"A",
    "text": b"hello hello hello, brine and fall",
    "blanks": b" " * 64,
    "zeros": b"\0" * 300,
    "repeat": b"abc" * 27 + b"\n",
    "binary": bytes((11 + 37 * i) % 256 for i in range(120)),
    # more than one window of text: copies reach back across the window
    "window": b"".join(b"line %d of the brine and the fall\r\n" % (i % 97) for i in range(160)),
}
for name, data in files.items():
    open(f"{d}/{name}", "wb").write(data)
EOF
for name in one text blanks zeros repeat binary window; do
  "$brfpack" encode "$work/$name" "$corpus/pack/$name.pack" --mtime 1700000000 --atime 1700000000 \
    >/dev/null
done

# ---- http_header, options, registry: texts written by make_texts.py -----
python3 fuzz/make_texts.py "$corpus"

# ---- signed_index: a version index signed by the publisher -----------------
# The key is the fuzzer's own (see signed_index_fuzz.cpp), so the seed
# passes the signature check there.
mkdir -p "$corpus/signed_index"
printf '%s\n' e4b383b1c374327de6397e93a06aed17111fdf9931f0461ba42fffcb32a14b192a2c9a40f96c42c143609d0a52a2a142bde55b0ba158fe7a7eba68b9f7356207 \
  >"$work/fuzz.key"
chmod 600 "$work/fuzz.key"
mkdir -p "$work/old/data" "$work/new/data/maps"
printf 'old map\n' >"$work/old/data/north.map"
printf 'new map, longer than the old one\n' >"$work/new/data/maps/north.map"
printf 'sea charts\n' >"$work/new/data/charts.txt"
printf '127.0.0.1 Test server\r\n' >"$work/servers.dat"
"$brfpublish" build --out "$work/site" --release "$work/new" 1500 2 --from "$work/old" 1490 1 \
  --servers "$work/servers.dat" --time "2024-05-01 12:00:00" --key "$work/fuzz.key" --serial 7 \
  --expires "2030-01-01 00:00:00" --quiet
cp "$work/site/patch/_versions.txt" "$corpus/signed_index/signed"
# Without its signature line: the fuzzer signs it again, and every line
# reaches the reader behind the check.
grep -v '^#brf-signature ' "$work/site/patch/_versions.txt" >"$corpus/signed_index/unsigned_lines" || true

# ---- index: the same publication as the index reader sees it ---------------
# The hand-written seeds beside it (example.txt, faults.txt) stay.
mkdir -p "$corpus/index"
cp "$work/site/patch/_versions.txt" "$corpus/index/published"

# ---- delta: deltas from the fuzzer's source (see delta_fuzz.cpp) ----------
mkdir -p "$corpus/delta"
python3 - "$work" <<'EOF2'
import sys
d = sys.argv[1]
source = bytes((i * 7 + i // 256) % 251 for i in range(65536))
open(f"{d}/source", "wb").write(source)
targets = {
    "same": source,
    "inserted": b"brine and fall " * 40 + source,
    "changed": source[:30000] + b"new chart" + source[30009:],
    "moved": source[40000:] + source[:40000],
    "rewritten": bytes((i * 13) % 256 for i in range(20000)),
    "shorter": source[:999],
}
for name, data in targets.items():
    open(f"{d}/{name}", "wb").write(data)
EOF2
for name in same inserted changed moved rewritten shorter; do
  "$brfdelta" make "$work/source" "$work/$name" "$corpus/delta/$name.dlt" --format 1 --quiet
  "$brfdelta" make "$work/source" "$work/$name" "$corpus/delta/$name.dl2" --quiet
done

echo "corpus: $(find "$corpus" -type f | wc -l) files in $corpus"
