#!/usr/bin/env python3
"""The file work of the update benchmark (bench/update/run.sh).

  tree SOURCE DEST       lays a release tree of real game data out as a game
                         directory the publisher accepts: every "-" in a name
                         becomes "_" (the version index reads "-" as a path
                         separator), links and empty files are left out (the
                         updater installs no empty file; the links in Debian's
                         packages point into other packages). DEST's files are
                         hard links to SOURCE's.
  expected OLD NEW DEST  the game directory the update must leave behind: the
                         NEW release plus the files only OLD has (the updater
                         deletes nothing), as hard links.
  check EXPECTED GAME    compares a game directory after an update with
                         EXPECTED, byte for byte, leaving out what the updater
                         keeps for itself (_debugg.log, data/servers.dat,
                         patch/, save/); prints the differences, exit 1 when
                         there are any.
  names INDEX            prints the containers a version index lists, in its
                         order.
  progress LABEL FIGURES prints one run's figures (measure_update.py's JSON)
                         on a line; with --code, exits with its exit status;
                         with --tool, the run was not brfupdate's (no action
                         log to expect).
  paths REQUESTS WWW     prints the request targets of the GET requests in a
                         request log of measure_update.py (--requests) that
                         name files below WWW, each once, in the order of
                         their first request: the files a client fetched.
  fetched LIST DIR WWW FIGURES
                         checks that DIR/1, DIR/2, ... have the bytes of the
                         files LIST's targets name below WWW; prints FIGURES
                         (JSON) with the number of files and their bytes
                         added ("files", "file_bytes"), exit 1 on a difference.
  summary ...            prints the table of figures (see run.sh).
"""
import argparse
import filecmp
import json
import os
import statistics
import sys
import urllib.parse


def walk_files(root):
    """Relative path -> absolute path of every file or link below root."""
    found = {}
    for directory, dirs, files in os.walk(root):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(directory, name)
            found[os.path.relpath(path, root)] = path
    return found


def cmd_tree(args):
    taken = {}
    folded = {}
    count = 0
    for rel, path in walk_files(args.source).items():
        if os.path.islink(path) or os.path.getsize(path) == 0:
            continue
        target = rel.replace("-", "_")
        if target in taken:
            sys.exit(f"{rel} and {taken[target]} would both be {target}")
        if target.lower() in folded:
            sys.exit(f"{target} and {folded[target.lower()]} differ only in case")
        taken[target] = rel
        folded[target.lower()] = target
        dest = os.path.join(args.dest, target)
        os.makedirs(os.path.dirname(dest), exist_ok=True)
        os.link(path, dest)
        count += 1
    print(f"{count} files in {args.dest}")


def cmd_expected(args):
    new = walk_files(args.new)
    old = walk_files(args.old)
    for rel, path in list(new.items()) + [(r, p) for r, p in old.items() if r not in new]:
        dest = os.path.join(args.dest, rel)
        os.makedirs(os.path.dirname(dest), exist_ok=True)
        os.link(path, dest)


def updater_own(rel):
    first = rel.split(os.sep, 1)[0]
    return rel in ("_debugg.log", os.path.join("data", "servers.dat")) or first in ("patch", "save")


def cmd_check(args):
    expected = walk_files(args.expected)
    game = {rel: path for rel, path in walk_files(args.game).items() if not updater_own(rel)}
    problems = []
    for rel in sorted(expected):
        if rel not in game:
            problems.append(f"missing: {rel}")
        elif not filecmp.cmp(expected[rel], game[rel], shallow=False):
            problems.append(f"other bytes: {rel}")
    for rel in sorted(set(game) - set(expected)):
        problems.append(f"not expected: {rel}")
    if problems:
        print(f"{len(problems)} difference(s) from {args.expected}:")
        for line in problems[:20]:
            print("  " + line)
        sys.exit(1)


def cmd_names(args):
    with open(args.index, "rb") as index:
        for raw in index:
            line = raw.decode("latin-1").rstrip("\r\n")
            if line.endswith(".upd") and not line.startswith("#"):
                print(line)


def target_file(target, www):
    """The file below www a request target names, or None."""
    if "://" in target:  # absolute form
        target = "/" + target.split("://", 1)[1].partition("/")[2]
    path = urllib.parse.unquote(target.split("?", 1)[0].split("#", 1)[0])
    rel = os.path.normpath(path.lstrip("/"))
    if rel.startswith("..") or os.path.isabs(rel):
        return None
    full = os.path.join(www, rel)
    return full if os.path.isfile(full) else None


def cmd_paths(args):
    seen = set()
    with open(args.requests, encoding="utf-8") as log:
        for line in log:
            fields = line.rstrip("\n").split("\t")
            if len(fields) < 4 or fields[2] != "GET":
                continue
            target = fields[3].replace(" ", "%20")
            if target in seen or target_file(target, args.www) is None:
                continue
            seen.add(target)
            print(target)


def cmd_fetched(args):
    with open(args.list, encoding="utf-8") as listed:
        targets = [line.rstrip("\n") for line in listed if line.strip()]
    problems = []
    total = 0
    for number, target in enumerate(targets, 1):
        source = target_file(target, args.www)
        got = os.path.join(args.dir, str(number))
        if source is None:
            problems.append(f"not on the server: {target}")
        elif not os.path.isfile(got):
            problems.append(f"not fetched: {target}")
        elif not filecmp.cmp(source, got, shallow=False):
            problems.append(f"other bytes: {target}")
        else:
            total += os.path.getsize(got)
    if problems:
        print(f"{len(problems)} of {len(targets)} files not fetched right:", file=sys.stderr)
        for line in problems[:20]:
            print("  " + line, file=sys.stderr)
        sys.exit(1)
    figures = json.loads(args.figures)
    figures["files"] = len(targets)
    figures["file_bytes"] = total
    print(json.dumps(figures))


def cmd_progress(args):
    f = json.loads(args.figures)
    if f["peak_kb"] is None:
        f["peak_kb"] = 0
    text = f"   {args.label:9} wall {f['wall']:7.2f} s, peak {f['peak_kb'] / 1024:5.1f} MB"
    if "gap" in f and not args.tool:
        text += f", last byte at {f['last_byte']:.2f} s, ready at {f['ready']:.2f} s"
    if "requests" in f:
        text += (f", {f['bytes'] / 1048576:.1f} MiB, {f['connections']} connections,"
                 f" {f['requests']} requests")
    if not args.tool and not f["last_line"].startswith("Update finished"):
        text += f" (its last line: {f['last_line']!r})"
    print(text)
    if args.code:
        sys.exit(f["code"])


def read_runs(path):
    if not path or not os.path.exists(path):
        return []
    with open(path) as runs:
        return [json.loads(line) for line in runs if line.strip()]


def cmd_summary(args):
    median = statistics.median
    rows = []  # (label, figure, goal, verdict, note)

    def row(label, figure="", goal="", verdict="", note=""):
        rows.append((label, figure, goal, verdict, note))

    def judged(value, limit):
        return "ok" if value <= limit else "MISSED"

    variants = [("brfupdate", "", True)]
    if args.old_mode:
        variants.append(("brfupdate --decode-at-install", "-dai", False))

    row(f"{args.rate_mib:g} MiB/s line, one bucket for all connections ({args.burst // 1024} KiB burst):")
    if args.relay_check:
        check = json.loads(args.relay_check)
        rate = check["line_rate"] / 1048576
        row("  relay check: curl, largest containers", f"{rate:.2f} MiB/s",
            f">= {0.97 * args.rate_mib:.2f}", "ok" if rate >= 0.97 * args.rate_mib else "MISSED",
            f"{check['bytes'] / 1048576:.1f} MiB in {check['last_byte']:.1f} s")
    for label, suffix, main in variants:
        runs = read_runs(os.path.join(args.work, f"line{suffix}.jsonl"))
        if not runs:
            continue
        gap = median(r["gap"] for r in runs)
        wall = median(r["wall"] for r in runs)
        rate = median(r["line_rate"] for r in runs) / 1048576
        row(f"  {label}: last byte -> ready", f"{gap:.2f} s", "<= 1.00 s", judged(gap, 1.0),
            f"whole run {wall:.2f} s, line busy at {rate:.2f} MiB/s"
            + ("" if main else " (install-phase decoding)"))

    row("unlimited loopback (nginx on 127.0.0.1):")
    curl = median(args.curl)
    decode = median(args.decode)
    base = curl + decode
    row("  curl, every container, one process", f"{curl:.2f} s")
    row("  brfpack decode, one process per file", f"{decode:.2f} s")
    row("  curl + decode", f"{base:.2f} s")
    for label, suffix, main in variants:
        runs = read_runs(os.path.join(args.work, f"loop{suffix}.jsonl"))
        if not runs:
            continue
        wall = median(r["wall"] for r in runs)
        row(f"  {label}", f"{wall:.2f} s")
        row(f"  {label} / (curl + decode)", f"{wall / base:.2f}", "<= 0.50",
            judged(wall / base, 0.5), "" if main else "install-phase decoding")

    row("peak resident memory of brfupdate (highest of the rounds):")
    for label, suffix, main in variants:
        for place in ("line", "loop"):
            runs = read_runs(os.path.join(args.work, f"{place}{suffix}.jsonl"))
            if not runs:
                continue
            peak = max(r["peak_kb"] for r in runs) / 1024
            where = "on the line" if place == "line" else "on loopback"
            row(f"  {label}, {where}", f"{peak:.1f} MB", "<= 48 MB", judged(peak, 48.0))
    rtt_runs = [r for ms in args.rtt_ms for r in read_runs(os.path.join(args.work, f"rtt{ms}.jsonl"))]
    if rtt_runs:
        peak = max(r["peak_kb"] for r in rtt_runs) / 1024
        row("  brfupdate, on the line with round trips", f"{peak:.1f} MB", "<= 48 MB",
            judged(peak, 48.0))

    print(args.title)
    print(f"median of {args.rounds} round(s); MB and MiB are 2^20 bytes")
    width = max(len(r[0]) for r in rows)
    print(f"  {'':{width}}  {'figure':>11}  {'goal':>10}  {'':6}")
    for label, figure, goal, verdict, note in rows:
        if not figure:
            print(f"  {label}")
            continue
        print(f"  {label:{width}}  {figure:>11}  {goal:>10}  {verdict:6}  {note}".rstrip())
    if args.rtt_ms:
        latency_table(args)


def latency_table(args):
    median = statistics.median
    line = args.rate_mib * 1048576

    def figures(name, ms):
        runs = read_runs(os.path.join(args.work, f"{name}{ms}.jsonl"))
        if not runs:
            return None
        return {key: median(r[key] for r in runs)
                for key in ("wall", "bytes", "connections", "requests", "file_bytes", "files")
                if all(key in r for r in runs)}

    print()
    print(f"round trips: the {args.rate_mib:g} MiB/s line above, every chunk held RTT/2 each way, "
          f"a connect one RTT; median of {args.rtt_rounds} round(s) per RTT")
    print("  bytes/line: the bytes brfupdate received through the relay (headers included) "
          "at the line's rate")
    print("  aria2c -j 4 -x1 and one curl process (keeping its connection) fetch the files "
          "brfupdate fetched in that")
    print("  round (the GET requests in the relay's log naming files on the server), through "
          "the same relay")
    print("  goals: brfupdate's whole run <= 1.15 x bytes/line + 2 s, and not slower than "
          "aria2c -j 4")
    print()
    print(f"  {'':6}  {' brfupdate ':-^75}  {' aria2c -j 4 ':-^23}  {' curl, one ':-^23}")
    print(f"  {'RTT':>6}  {'whole run':>9}  {'bytes/line':>10}  {'ratio':>5}  "
          f"{'goal':>9}  {'':6}  {'<= aria2c':9}  {'conns':>5}  {'reqs':>5}  "
          f"{'wall':>9}  {'conns':>5}  {'reqs':>5}  {'wall':>9}  {'conns':>5}  {'reqs':>5}")
    notes = {}  # note -> the round trips it holds for
    for ms in args.rtt_ms:
        own = figures("rtt", ms)
        if own is None:
            continue
        bytes_line = own["bytes"] / line
        limit = 1.15 * bytes_line + 2
        aria = figures("aria2c-", ms)
        curl = figures("curl-", ms)
        text = (f"  {ms:>3} ms  {own['wall']:7.2f} s  {bytes_line:8.2f} s  "
                f"{own['wall'] / bytes_line:5.2f}  {limit:7.2f} s  "
                f"{'ok' if own['wall'] <= limit else 'MISSED':6}  ")
        if aria is None:
            text += f"{'-':9}  "
        else:
            text += f"{'ok' if own['wall'] <= aria['wall'] else 'MISSED':9}  "
        text += f"{own['connections']:5.0f}  {own['requests']:5.0f}  "
        for other in (aria, curl):
            if other is None:
                text += f"{'-':>9}  {'':5}  {'':5}  "
            else:
                text += (f"{other['wall']:7.2f} s  {other['connections']:5.0f}  "
                         f"{other['requests']:5.0f}  ")
        if curl is not None and curl["connections"] > 1:
            notes.setdefault(f"curl needed {curl['connections']:.0f} connections: the server "
                             "ends a kept connection after so many requests (nginx: "
                             "keepalive_requests, 1000)", []).append(ms)
        print(text.rstrip())
        fetched = {(o["files"], o["file_bytes"]) for o in (aria, curl) if o and "files" in o}
        for files, size in sorted(fetched):
            notes.setdefault(f"the files: {files:.0f}, {size / 1048576:.1f} MiB (brfupdate "
                             f"received {own['bytes'] / 1048576:.1f} MiB with headers)",
                             []).append(ms)
    print("  requests: goal at most 4 for a client that needs a whole bundle (counts printed, "
          "not judged)")
    for note, trips in notes.items():
        print(f"  {', '.join(trips)} ms: {note}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     epilog=__doc__.split("\n\n", 1)[1],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("tree")
    p.add_argument("source")
    p.add_argument("dest")
    p = sub.add_parser("expected")
    p.add_argument("old")
    p.add_argument("new")
    p.add_argument("dest")
    p = sub.add_parser("check")
    p.add_argument("expected")
    p.add_argument("game")
    p = sub.add_parser("names")
    p.add_argument("index")
    p = sub.add_parser("paths")
    p.add_argument("requests")
    p.add_argument("www")
    p = sub.add_parser("fetched")
    p.add_argument("list")
    p.add_argument("dir")
    p.add_argument("www")
    p.add_argument("figures")
    p = sub.add_parser("progress")
    p.add_argument("--code", action="store_true")
    p.add_argument("--tool", action="store_true")
    p.add_argument("label")
    p.add_argument("figures")
    p = sub.add_parser("summary")
    p.add_argument("--work", required=True, help="holds line[-dai].jsonl, loop[-dai].jsonl "
                   "and those of the round trips")
    p.add_argument("--title", required=True)
    p.add_argument("--rounds", type=int, required=True)
    p.add_argument("--rate-mib", type=float, required=True)
    p.add_argument("--burst", type=int, required=True)
    p.add_argument("--relay-check", help="measure_update.py's figures for curl through the relay")
    p.add_argument("--old-mode", action="store_true", help="rows for --decode-at-install too")
    p.add_argument("--curl", type=float, nargs="+", required=True)
    p.add_argument("--decode", type=float, nargs="+", required=True)
    p.add_argument("--rtt-ms", nargs="*", default=[],
                   help="round trips measured: rtt<MS>.jsonl, aria2c-<MS>.jsonl, curl-<MS>.jsonl")
    p.add_argument("--rtt-rounds", type=int, default=1)
    args = parser.parse_args()
    {"tree": cmd_tree, "expected": cmd_expected, "check": cmd_check, "names": cmd_names,
     "progress": cmd_progress, "summary": cmd_summary, "paths": cmd_paths,
     "fetched": cmd_fetched}[args.command](args)


if __name__ == "__main__":
    main()
