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
                         on a line; with --code, exits with its exit status.
  summary ...            prints the table of figures (see run.sh).
"""
import argparse
import filecmp
import json
import os
import statistics
import sys


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


def cmd_progress(args):
    f = json.loads(args.figures)
    if f["peak_kb"] is None:
        f["peak_kb"] = 0
    text = f"   {args.label:9} wall {f['wall']:7.2f} s, peak {f['peak_kb'] / 1024:5.1f} MB"
    if "gap" in f:
        text += f", last byte at {f['last_byte']:.2f} s, ready at {f['ready']:.2f} s"
    if not f["last_line"].startswith("Update finished"):
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

    print(args.title)
    print(f"median of {args.rounds} round(s); MB and MiB are 2^20 bytes")
    width = max(len(r[0]) for r in rows)
    print(f"  {'':{width}}  {'figure':>11}  {'goal':>10}  {'':6}")
    for label, figure, goal, verdict, note in rows:
        if not figure:
            print(f"  {label}")
            continue
        print(f"  {label:{width}}  {figure:>11}  {goal:>10}  {verdict:6}  {note}".rstrip())


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
    p = sub.add_parser("progress")
    p.add_argument("--code", action="store_true")
    p.add_argument("label")
    p.add_argument("figures")
    p = sub.add_parser("summary")
    p.add_argument("--work", required=True, help="holds line[-dai].jsonl and loop[-dai].jsonl")
    p.add_argument("--title", required=True)
    p.add_argument("--rounds", type=int, required=True)
    p.add_argument("--rate-mib", type=float, required=True)
    p.add_argument("--burst", type=int, required=True)
    p.add_argument("--relay-check", help="measure_update.py's figures for curl through the relay")
    p.add_argument("--old-mode", action="store_true", help="rows for --decode-at-install too")
    p.add_argument("--curl", type=float, nargs="+", required=True)
    p.add_argument("--decode", type=float, nargs="+", required=True)
    args = parser.parse_args()
    {"tree": cmd_tree, "expected": cmd_expected, "check": cmd_check, "names": cmd_names,
     "progress": cmd_progress, "summary": cmd_summary}[args.command](args)


if __name__ == "__main__":
    main()
