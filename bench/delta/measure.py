#!/usr/bin/env python3
"""Delta sizes on release series and worst cases; bench/delta/run.sh runs it.

Sizes only: every delta is made into a scratch folder and thrown away. The
size of a file's container depends only on its bytes, and packing in optimal
mode is slow, so container sizes are kept by sha256 under the data folder.
"""

import argparse
import concurrent.futures
import filecmp
import hashlib
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

KEEP_RATIO = 0.80  # a delta is published only when at most this much of the container
JOBS = 2  # the machine has two cores shared with others
WORST_MB = 64
REWRITE_MB = 16
INSERT_BYTES = 4096


def log(text):
    print(text, flush=True)


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def run(cmd):
    done = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if done.returncode != 0:
        raise RuntimeError(f"{' '.join(cmd)} failed ({done.returncode}): "
                           f"{done.stderr.decode(errors='replace').strip()[-300:]}")
    return done.stdout.decode(errors="replace")


def release_files(top):
    """Regular files of a release by relative path; links and marks left out."""
    found = {}
    for folder, _, names in os.walk(top):
        for name in names:
            path = os.path.join(folder, name)
            if name == ".complete" or os.path.islink(path) or not os.path.isfile(path):
                continue
            found[os.path.relpath(path, top)] = path
    return found


class Bench:
    def __init__(self, args):
        self.args = args
        self.data = args.data
        self.cache = os.path.join(self.data, "containers")
        self.refs = os.path.join(self.data, "references")
        os.makedirs(self.cache, exist_ok=True)
        os.makedirs(self.refs, exist_ok=True)
        self.scratch = tempfile.mkdtemp(prefix="brf-delta-bench.")
        self.apply_failures = []

    def cached_size(self, key, suffix, make):
        """The size of the file make(path) writes, kept under `key` (slow to make)."""
        if os.path.exists(key):
            with open(key) as f:
                return int(f.read())
        out = self.temp(suffix)
        make(out)
        size = os.path.getsize(out)
        os.unlink(out)
        with open(key + ".tmp", "w") as f:
            f.write(str(size))
        os.replace(key + ".tmp", key)
        return size

    def container(self, path):
        # A container's size depends only on the file's bytes.
        return self.cached_size(os.path.join(self.cache, sha256(path)), ".brf",
                                lambda out: run([self.args.brfpack, "encode", path, out]))

    def temp(self, suffix):
        fd, path = tempfile.mkstemp(suffix=suffix, dir=self.scratch)
        os.close(fd)
        return path

    def ours(self, old, new, label):
        if not self.args.brfdelta:
            return None
        delta = self.temp(".brfd")
        run([self.args.brfdelta, "make", old, new, delta, "--quiet"])
        size = os.path.getsize(delta)
        # A size is only worth printing for a delta that gives the file back.
        out = self.temp(".out")
        try:
            run([self.args.brfdelta, "apply", old, delta, out])
            if not filecmp.cmp(out, new, shallow=False):
                self.apply_failures.append(f"{label}: applied delta differs from the new file")
        except RuntimeError as error:
            self.apply_failures.append(f"{label}: {error}")
        os.unlink(out)
        os.unlink(delta)
        return size

    def reference(self, tool, old, new, make):
        """A reference tool's delta size, kept by both files' sha256."""
        key = os.path.join(self.refs, f"{tool}-{sha256(old)[:24]}-{sha256(new)[:24]}")
        return self.cached_size(key, "." + tool, make)

    def xdelta3(self, old, new):
        # The source window covers the whole old file, as the default 64 MB
        # does for all but the worst case; a window sized to the file keeps
        # xdelta3 from allocating 64 MB for every small one. -D -R keep it
        # from unpacking gzip files: its result would not be the same file.
        window = 1 << 19
        while window < os.path.getsize(old):
            window <<= 1
        return self.reference("xdelta3", old, new, lambda out: run(
            ["xdelta3", "-f", "-9", "-D", "-R", "-e", "-B", str(window), "-s", old, new, out]))

    def zstd(self, old, new):
        return self.reference("zstd", old, new, lambda out: run(
            ["zstd", "-q", "-f", f"--patch-from={old}", "-19", "--long=31", new, "-o", out]))

    def changed_file(self, old, new, label):
        return {
            "label": label,
            "bytes": os.path.getsize(new),
            "container": self.container(new),
            "ours": self.ours(old, new, label),
            "xdelta3": self.xdelta3(old, new),
            "zstd": self.zstd(old, new),
        }

    def measure_pair(self, name, old_dir, new_dir):
        old_files, new_files = release_files(old_dir), release_files(new_dir)
        changed, added = [], []
        for rel, path in sorted(new_files.items()):
            if rel not in old_files:
                added.append(path)
            elif not filecmp.cmp(old_files[rel], path, shallow=False):
                changed.append((old_files[rel], path, rel))
        log(f"   {name}: {len(changed)} changed files, {len(added)} new")
        start = time.monotonic()
        with concurrent.futures.ThreadPoolExecutor(JOBS) as pool:
            rows = list(pool.map(lambda c: self.changed_file(c[0], c[1], f"{name} {c[2]}"), changed))
            added_sizes = list(pool.map(self.container, added))
        log(f"   {name}: {time.monotonic() - start:.0f} s")
        return {"name": name, "rows": rows, "added": sum(added_sizes),
                "added_count": len(added)}

    def worst_cases(self, series_dirs):
        """Two made-up files: an insert at the start of a big file, and a rewrite."""
        folder = os.path.join(self.data, "worst")
        big_mb = 16 if self.args.quick else WORST_MB
        rewrite_mb = 4 if self.args.quick else REWRITE_MB
        base = os.path.join(folder, f"base-{big_mb}")
        if not os.path.exists(base):
            # Real, partly compressible bytes: the newest release of every
            # series, file after file, cut at the size wanted.
            os.makedirs(folder, exist_ok=True)
            want = big_mb << 20
            with open(base + ".tmp", "wb") as out:
                for top in series_dirs:
                    for _, path in sorted(release_files(top).items()):
                        with open(path, "rb") as f:
                            out.write(f.read(want - out.tell()))
                        if out.tell() >= want:
                            break
                    if out.tell() >= want:
                        break
                if out.tell() < want:
                    raise RuntimeError("not enough real data for the worst cases")
            os.replace(base + ".tmp", base)

        inserted = os.path.join(folder, f"insert-{big_mb}")
        if not os.path.exists(inserted):
            noise = random.Random(1).randbytes(INSERT_BYTES)
            with open(base, "rb") as f, open(inserted + ".tmp", "wb") as out:
                out.write(noise)
                shutil.copyfileobj(f, out)
            os.replace(inserted + ".tmp", inserted)

        # The old file is the first part of the base, the new one its last
        # part: real data of the same kind that shares nothing with it.
        rewrite_old = os.path.join(folder, f"rewrite-old-{rewrite_mb}")
        rewrite_new = os.path.join(folder, f"rewrite-new-{rewrite_mb}")
        if not os.path.exists(rewrite_new):
            with open(base, "rb") as f:
                head = f.read(rewrite_mb << 20)
                f.seek(-(rewrite_mb << 20), os.SEEK_END)
                tail = f.read()
            with open(rewrite_old, "wb") as out:
                out.write(head)
            with open(rewrite_new + ".tmp", "wb") as out:
                out.write(tail)
            os.replace(rewrite_new + ".tmp", rewrite_new)

        cases = []
        for name, old, new in ((f"insert 4 KiB at start, {big_mb} MB", base, inserted),
                               (f"rewrite {rewrite_mb} MB", rewrite_old, rewrite_new)):
            log(f"   {name}")
            start = time.monotonic()
            cases.append({"name": name, "rows": [self.changed_file(old, new, name)],
                          "added": 0, "added_count": 0, "old": old, "new": new})
            log(f"   {name}: {time.monotonic() - start:.0f} s")
        return cases

    def apply_speed(self, old, new):
        """Median wall time and peak memory of brfdelta apply, from the page cache."""
        delta = self.temp(".brfd")
        out = self.temp(".out")
        run([self.args.brfdelta, "make", old, new, delta, "--quiet"])
        probe = ("import resource, subprocess, sys, time\n"
                 "start = time.monotonic()\n"
                 "code = subprocess.call(sys.argv[1:], stdout=subprocess.DEVNULL)\n"
                 "wall = time.monotonic() - start\n"
                 "print(wall, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)\n"
                 "sys.exit(code)\n")
        walls, peaks = [], []
        for _ in range(4):
            # A fresh interpreter each round, so the peak is this round's.
            wall, peak = run([sys.executable, "-c", probe, self.args.brfdelta, "apply",
                              old, delta, out]).split()
            walls.append(float(wall))
            peaks.append(int(peak))
        same = filecmp.cmp(out, new, shallow=False)
        # The first round warms the page cache and is not counted.
        return statistics.median(walls[1:]), max(peaks[1:]), os.path.getsize(new), same


def kept(delta, container):
    """What the player downloads for one changed file under the keep rule."""
    if delta is None:
        return container
    return delta if delta <= KEEP_RATIO * container else container


def summarise(group):
    rows = group["rows"]
    line = {"name": group["name"], "files": len(rows), "added_count": group["added_count"],
            "containers": sum(r["container"] for r in rows) + group["added"]}
    for tool in ("ours", "xdelta3", "zstd"):
        if any(r[tool] is None for r in rows):
            line[tool] = line["raw_" + tool] = None
            continue
        line[tool] = sum(kept(r[tool], r["container"]) for r in rows) + group["added"]
        line["raw_" + tool] = sum(r[tool] for r in rows)
    # The best a player could get per file from the references: the smaller
    # delta, or the container where that is smaller still.
    line["best"] = sum(min(r["xdelta3"], r["zstd"], r["container"]) for r in rows) + group["added"]
    line["over_container"] = sum(1 for r in rows
                                 if r["ours"] is not None and r["ours"] > r["container"])
    line["bytes"] = sum(r["bytes"] for r in rows)
    return line


def megabytes(value):
    return "n/a" if value is None else f"{value / 1e6:.3f}"


def ratio(a, b):
    return "n/a" if a is None or b is None or b == 0 else f"{a / b:.2f}"


def print_table(lines):
    head = (f"{'':47} {'files':>6} {'containers':>10} {'ours':>8} {'xdelta3':>8} {'zstd':>8}"
            f" {'best ref':>8} {'ours/best':>9} {'today/ours':>10}")
    log("\nwhat the player downloads, MB (a delta kept only when <= 80% of its container,"
        " new files as containers):")
    log(head)
    for line in lines:
        if line is None:
            log("")
            continue
        best = line["best"]
        files = f"{line['files']}+{line['added_count']}" if line["added_count"] else str(line["files"])
        log(f"{line['name']:47} {files:>6} {megabytes(line['containers']):>10}"
            f" {megabytes(line['ours']):>8} {megabytes(line['xdelta3']):>8}"
            f" {megabytes(line['zstd']):>8} {megabytes(best):>8} {ratio(line['ours'], best):>9}"
            f" {ratio(line['containers'], line['ours']):>10}")
    log("\nraw sums over the changed files, MB (every delta as made, no keep rule, no new files):")
    log(f"{'':47} {'files':>6} {'new bytes':>10} {'ours':>8} {'xdelta3':>8} {'zstd':>8}"
        f" {'ours>cont.':>10}")
    for line in lines:
        if line is None:
            log("")
            continue
        log(f"{line['name']:47} {line['files']:>6} {megabytes(line['bytes']):>10}"
            f" {megabytes(line['raw_ours']):>8} {megabytes(line['raw_xdelta3']):>8}"
            f" {megabytes(line['raw_zstd']):>8} {line['over_container']:>10}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--data", required=True)
    parser.add_argument("--brfpack", required=True)
    parser.add_argument("--brfdelta")
    parser.add_argument("--series", action="append", default=[],
                        help="NAME=VERSION VERSION ...; releases under DATA/series/NAME/VERSION")
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--rows", help="also write every changed file's sizes to this JSON file")
    args = parser.parse_args()
    bench = Bench(args)
    if not args.brfdelta:
        log("== brfdelta is not built yet: only containers and references are measured")

    lines, newest, all_rows = [], [], []
    try:
        for spec in args.series:
            name, versions = spec.split("=", 1)
            versions = versions.split()
            folders = [os.path.join(args.data, "series", name, v) for v in versions]
            newest.append(folders[-1])
            pairs = list(zip(range(len(versions) - 1), range(1, len(versions))))
            if args.quick:
                pairs = pairs[-1:]
            log(f"== {name}")
            summaries = []
            for a, b in pairs:
                group = bench.measure_pair(f"{name} {versions[a]} -> {versions[b]}",
                                           folders[a], folders[b])
                summaries.append(summarise(group))
                all_rows.extend(group["rows"])
                line = summaries[-1]
                log(f"   containers {megabytes(line['containers'])} MB, ours {megabytes(line['ours'])},"
                    f" xdelta3 {megabytes(line['xdelta3'])}, zstd {megabytes(line['zstd'])} (kept)")
            total = {"name": f"{name}, all pairs", "files": 0, "added_count": 0,
                     "over_container": 0}
            for key in ("files", "added_count", "containers", "ours", "xdelta3", "zstd", "best",
                        "raw_ours", "raw_xdelta3", "raw_zstd", "over_container", "bytes"):
                values = [s[key] for s in summaries]
                total[key] = None if any(v is None for v in values) else sum(values)
            lines.extend(summaries)
            if len(summaries) > 1:
                lines.append(total)
            lines.append(None)

        log("== worst cases")
        cases = bench.worst_cases(newest)
        lines.extend(summarise(case) for case in cases)

        print_table(lines)
        if args.rows:
            with open(args.rows, "w") as f:
                json.dump(all_rows, f, indent=0)
        real = [l for l in lines if l is not None]
        log("\ngoal: ours within 1.05x of the best reference per file (the smaller of xdelta3"
            " and zstd, or the container), never more than the containers")
        for line in real:
            if line["ours"] is None:
                continue
            best = line["best"]
            verdict = "ok" if line["ours"] <= 1.05 * best and line["ours"] <= line["containers"] \
                else "MISSED"
            log(f"  {line['name']:47} {line['ours'] / best:5.2f}x  {verdict}")

        if bench.apply_failures:
            log(f"\nDELTAS THAT DO NOT GIVE THE NEW FILE BACK: {len(bench.apply_failures)}")
            for failure in bench.apply_failures[:20]:
                log("  " + failure)

        if args.brfdelta:
            # The largest pair is the big worst case.
            old, new = cases[0]["old"], cases[0]["new"]
            wall, peak, size, same = bench.apply_speed(old, new)
            speed = size / 1e6 / wall
            log(f"\nbrfdelta apply, {cases[0]['name']}: {wall:.3f} s,"
                f" {speed:.0f} MB/s of output (goal >= 100) {'ok' if speed >= 100 else 'MISSED'},"
                f" peak {peak / 1024:.1f} MB (goal <= 32) {'ok' if peak <= 32768 else 'MISSED'}"
                + ("" if same else ", OUTPUT DIFFERS FROM THE NEW FILE"))
    finally:
        shutil.rmtree(bench.scratch, ignore_errors=True)
    return 1 if bench.apply_failures else 0


if __name__ == "__main__":
    sys.exit(main())
