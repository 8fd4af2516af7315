#!/usr/bin/env python3
"""Compares the modelled-string evaluation of two builds note by note.

    python3 bench/position/compare_notes.py collect BIN DIR [--seeds 1-15]
        runs `BIN --seed S --notes` for each seed (two at a time) into DIR/seedS.txt
    python3 bench/position/compare_notes.py compare BEFORE AFTER [--seeds 1-15]
        the share within 0.02 of each group of seeds (the mean of the seeds' shares, over the
        resolvable notes), the notes with more than one row, and every note whose first
        estimate or row count changed: GAIN (now within 0.02), LOSS (no longer), or changed.

The groups are the seeds the method was shaped on (1-3), the held-out ones (4-9, 10-15), and
those kept for a last check of a change (16-27, run with --seeds 16-27).
"""

import argparse
import os
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

GROUPS = (("1-3", 1, 3), ("4-9", 4, 9), ("10-15", 10, 15), ("4-15", 4, 15), ("16-27", 16, 27))
TOLERANCE = 0.02


def seed_range(text):
    lo, _, hi = text.partition("-")
    return list(range(int(lo), int(hi or lo) + 1))


def read_notes(path):
    """The note rows of one `--notes` output, each with its stream's index; a note released
    under a ringing one (ringing 2) shares the stream of the note before it."""
    notes, header, stream = [], None, {}
    with open(path) as f:
        for line in f:
            line = line.strip()
            if line.startswith("block,"):
                header = line.split(",")
                continue
            if header is None or not line[:1].isdigit():
                continue
            row = dict(zip(header, line.split(",")))
            block = row["block"]
            if row["ringing"] != "2":
                stream[block] = stream.get(block, -1) + 1
            row["stream"] = stream[block]
            notes.append(row)
    return notes


def resolvable(n):
    # A pickup farther from the end than the pluck is the mirror case, which needs --pickup.
    return not (n["output"] == "2" and float(n["gamma"]) > float(n["beta"]))


def right(n):
    return int(n["est"]) > 0 and abs(float(n["position"]) - float(n["beta"])) <= TOLERANCE


def share(notes, block):
    r = [n for n in notes if n["block"] == block and resolvable(n)]
    return 100.0 * sum(map(right, r)) / len(r) if r else float("nan")


def group_means(by_seed, block):
    out = {}
    for name, lo, hi in GROUPS:
        s = [share(by_seed[k], block) for k in by_seed if lo <= k <= hi]
        if s:  # a group none of whose seeds was run is left out
            out[name] = sum(s) / len(s)
    return out


def changes(seed, before, after):
    keys = ("est", "position", "est_f0", "rows")
    for b, a in zip(before, after):
        if tuple(b[k] for k in keys) == tuple(a[k] for k in keys):
            continue
        tag = "GAIN" if right(a) and not right(b) else "LOSS" if right(b) and not right(a) else "changed"
        if not resolvable(b):
            tag += " (not resolvable)"
        yield (f"seed {seed} block {b['block']} stream {b['stream']} f0 {b['f0']} beta {b['beta']} "
               f"noise {b['noise']} ringing {b['ringing']} output {b['output']}: "
               f"{b['position']} ({b['rows']} rows, conf {b['confidence']}) -> "
               f"{a['position']} ({a['rows']} rows, conf {a['confidence']}) {tag}")


def compare(before_dir, after_dir, seeds):
    before = {s: read_notes(os.path.join(before_dir, f"seed{s}.txt")) for s in seeds}
    after = {s: read_notes(os.path.join(after_dir, f"seed{s}.txt")) for s in seeds}
    lines = []
    for block in sorted({n["block"] for s in seeds for n in before[s]}, key=int):
        for label, runs in (("before", before), ("after", after)):
            means = group_means(runs, block)
            multi = sum(int(n["rows"]) > 1 for s in seeds for n in runs[s] if n["block"] == block)
            lines.append(f"blocks of {block:>4} {label:>6}: " +
                         "  ".join(f"{k} {v:.2f}" for k, v in means.items()) +
                         f"  notes with more than one row {multi}")
    for s in seeds:
        if len(before[s]) != len(after[s]):
            lines.append(f"seed {s}: {len(before[s])} notes before, {len(after[s])} after")
        lines.extend(changes(s, before[s], after[s]))
    return lines


def collect(binary, out_dir, seeds):
    os.makedirs(out_dir, exist_ok=True)

    def run(seed):
        with open(os.path.join(out_dir, f"seed{seed}.txt"), "w") as f:
            subprocess.run([binary, "--seed", str(seed), "--notes"], stdout=f, check=True)

    with ThreadPoolExecutor(max_workers=2) as pool:  # the machines here have two cores
        list(pool.map(run, seeds))


def main(argv):
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    sub = p.add_subparsers(dest="command", required=True)
    c = sub.add_parser("collect")
    c.add_argument("binary")
    c.add_argument("dir")
    d = sub.add_parser("compare")
    d.add_argument("before")
    d.add_argument("after")
    for q in (c, d):
        q.add_argument("--seeds", type=seed_range, default=seed_range("1-15"))
    args = p.parse_args(argv)
    if args.command == "collect":
        collect(args.binary, args.dir, args.seeds)
    else:
        print("\n".join(compare(args.before, args.after, args.seeds)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
