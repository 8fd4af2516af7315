#!/usr/bin/python3
"""Draws what attackscope finds in sound files: the waveform, the block energy, the onsets and
each event's shape ratio, and with --position each note's pluck position coloured by its
confidence, into a PNG.

    scripts/plot-events.py FILE... [-o OUT.png] [--program PATH] [--position] [-- OPTIONS...]

Several files are drawn one after another on one time axis, each analysed from its own start.
OPTIONS after "--" go to attackscope as they are (e.g. -- --block 1024 --floor 20). The program
is taken from --program, else build/release/bin/attackscope, else the PATH. matplotlib (Debian
python3-matplotlib) is installed by scripts/install-deps.sh when missing.
"""
import argparse
import json
import os
import shutil
import struct
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def need_matplotlib():
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        subprocess.run([os.path.join(ROOT, "scripts", "install-deps.sh"), "plot"], check=True)
    import matplotlib
    matplotlib.use("Agg")


def find_program(given):
    if given:
        return given
    built = os.path.join(ROOT, "build", "release", "bin", "attackscope")
    if os.access(built, os.X_OK):
        return built
    found = shutil.which("attackscope")
    if not found:
        sys.exit("plot-events: no attackscope program; build it or give --program")
    return found


def read_wav(path):
    """Mean of the channels of a PCM or float WAV as a numpy array and its rate; None for any
    other kind of file (the plot then has no waveform)."""
    import numpy as np
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        return None
    at, fmt, samples = 12, None, None
    while at + 8 <= len(data):
        chunk, size = data[at:at + 4], struct.unpack("<I", data[at + 4:at + 8])[0]
        body = data[at + 8:at + 8 + size]
        if chunk == b"fmt ":
            tag, channels, rate = struct.unpack("<HHI", body[:8])
            bits = struct.unpack("<H", body[14:16])[0]
            if tag == 0xFFFE:
                tag = struct.unpack("<H", body[24:26])[0]
            fmt = (tag, channels, rate, bits)
        elif chunk == b"data":
            samples = body
        at += 8 + size + (size & 1)
    if not fmt or samples is None:
        return None
    tag, channels, rate, bits = fmt
    if tag == 3 and bits in (32, 64):
        x = np.frombuffer(samples[:len(samples) // (bits // 8) * (bits // 8)],
                          dtype="<f4" if bits == 32 else "<f8").astype(np.float64)
    elif tag == 1 and bits == 16:
        x = np.frombuffer(samples[:len(samples) // 2 * 2], dtype="<i2") / 32768.0
    elif tag == 1 and bits == 24:
        b = np.frombuffer(samples[:len(samples) // 3 * 3], dtype=np.uint8).reshape(-1, 3)
        v = b[:, 0].astype(np.int32) | (b[:, 1].astype(np.int32) << 8) | (b[:, 2].astype(np.int32) << 16)
        x = np.where(v >= 1 << 23, v - (1 << 24), v) / float(1 << 23)
    elif tag == 1 and bits == 32:
        x = np.frombuffer(samples[:len(samples) // 4 * 4], dtype="<i4") / 2147483648.0
    else:
        return None
    x = x[:len(x) // channels * channels].reshape(-1, channels).mean(axis=1)
    return x, rate


def split_rows(rows):
    """The program's rows as (energies, events, notes): energies as (time, sent) pairs, events as
    the rows of the designed analysis, notes as dicts of time, position, confidence and other
    comb. Notes are the program's own note rows; a program without them fills the position
    columns of the event rows instead, and those rows then stand for the notes."""
    energy = [(r["onset_s"], r["sent"]) for r in rows if r["outcome"] == "energy"]
    events = [r for r in rows if r["outcome"] not in ("energy", "note")]
    note_rows = [r for r in rows if r["outcome"] == "note"]
    if not note_rows:
        note_rows = [r for r in events if r.get("position") is not None]
    notes = [{"t": r["onset_s"], "position": r.get("position"),
              "confidence": r.get("confidence"), "other": r.get("other_comb")}
             for r in note_rows]
    return energy, events, notes


def place_files(rows, durations):
    """Shifts the times of each file's rows by the durations of the files before it, in the order
    of `durations` (a list of (file, seconds)); rows of other files are left out."""
    start, at = {}, 0.0
    for name, seconds in durations:
        start[name] = at
        at += seconds
    placed = []
    for r in rows:
        if r.get("file") in start:
            placed.append(dict(r, onset_s=r["onset_s"] + start[r["file"]]))
    return placed


def file_seconds(rows, name, wave):
    """A file's length: from its samples when it is a WAV, else from its last energy block."""
    if wave is not None:
        return len(wave[0]) / wave[1]
    times = [r["onset_s"] for r in rows if r.get("file") == name and r["outcome"] == "energy"]
    if len(times) > 1:
        return times[-1] + (times[-1] - times[-2])
    return max((r["onset_s"] for r in rows if r.get("file") == name), default=0.0)


def draw_positions(ax, notes, plt):
    """Each note's pluck position as a point coloured by its confidence; the other comb, where
    there is one, as a small ring; a note without an estimate (position 0) as a grey cross."""
    measured = [n for n in notes if n["position"]]
    empty = [n for n in notes if not n["position"]]
    if measured:
        points = ax.scatter([n["t"] for n in measured], [n["position"] for n in measured],
                            c=[n["confidence"] or 0.0 for n in measured], cmap="viridis",
                            vmin=0.0, vmax=1.0, s=36, edgecolors="k", linewidths=0.5,
                            zorder=3, label="position")
        bar = plt.colorbar(points, cax=ax.inset_axes([1.01, 0.0, 0.012, 1.0]))
        bar.set_label("confidence")
    others = [n for n in notes if n["other"]]
    if others:
        ax.scatter([n["t"] for n in others], [n["other"] for n in others], s=16,
                   facecolors="none", edgecolors="0.4", linewidths=0.8, label="other comb")
    if empty:
        ax.plot([n["t"] for n in empty], [0.0] * len(empty), "x", color="tab:gray",
                label="no estimate")
    ax.set_ylim(-0.02, 0.52)
    ax.set_ylabel("pluck position")
    if others or empty:
        ax.legend(loc="upper left", fontsize="small", ncol=3)


def main():
    parser = argparse.ArgumentParser(usage=__doc__)
    parser.add_argument("files", nargs="+", metavar="FILE")
    parser.add_argument("-o", "--output", help="PNG to write (default: the first FILE with .png)")
    parser.add_argument("--program")
    parser.add_argument("--position", action="store_true", help="draw the position estimate too")
    argv = sys.argv[1:]
    extra = argv[argv.index("--") + 1:] if "--" in argv else []
    args = parser.parse_args(argv[:argv.index("--")] if "--" in argv else argv)
    need_matplotlib()
    import matplotlib.pyplot as plt
    import numpy as np

    command = [find_program(args.program), "--format", "jsonl", "--energies", "--jobs", "1"]
    command += (["--position"] if args.position else []) + extra + args.files
    run = subprocess.run(command, capture_output=True, text=True)
    sys.stderr.write(run.stderr)
    if run.returncode != 0:
        sys.exit(run.returncode)
    rows = [json.loads(line) for line in run.stdout.splitlines()]
    # The program names each file as it was given; its rows are placed one file after another.
    waves = [read_wav(f) for f in args.files]
    durations = [(f, file_seconds(rows, f, w)) for f, w in zip(args.files, waves)]
    rows = place_files(rows, durations)
    energy, events, notes = split_rows(rows)
    block_s = energy[1][0] - energy[0][0] if len(energy) > 1 else 0.0464

    panels = 4 if args.position else 3
    fig, axes = plt.subplots(panels, 1, sharex=True, figsize=(10, 1.9 * panels + 0.6),
                             height_ratios=[1.2, 1, 1] + [1] * (panels - 3))
    ax = axes[0]
    if all(w is not None for w in waves) and len({w[1] for w in waves}) == 1:
        x, rate = np.concatenate([w[0] for w in waves]), waves[0][1]
        # Min and max over short stretches: a faithful outline at any length.
        step = max(1, len(x) // 4000)
        n = len(x) // step * step
        t = np.arange(n // step) * step / rate
        ax.fill_between(t, x[:n].reshape(-1, step).min(axis=1), x[:n].reshape(-1, step).max(axis=1),
                        color="0.35", linewidth=0)
    else:
        ax.text(0.5, 0.5, "waveform drawn for WAV files of one rate only", transform=ax.transAxes, ha="center")
    ax.set_ylabel("waveform")
    ax.set_title(" + ".join(os.path.basename(f) for f in args.files))
    for at in np.cumsum([d for _, d in durations])[:-1]:
        for a in axes:
            a.axvline(at, color="k", lw=0.8, ls=":")

    ax = axes[1]
    if energy:
        t, e = zip(*[(s, v if v is not None else np.nan) for s, v in energy])
        e = np.array(e, dtype=float)
        # Silent blocks (energy 0) have no place on a log scale: they are left as gaps.
        ax.step(t, np.where(e > 0, e, np.nan), where="post", color="tab:blue", lw=1)
        ax.set_yscale("log")
    ax.set_ylabel("block energy\n(x100)")

    ax = axes[2]
    styles = {"ratio": ("o", "tab:green"), "dropped": ("x", "tab:gray"), "clip": ("s", "tab:red"),
              "none": ("x", "tab:gray")}
    shown = set()
    for r in events:
        onset = r["onset_s"]
        for a in axes[:2]:
            a.axvline(onset, color="tab:orange", lw=0.8, alpha=0.7)
        marker, colour = styles.get(r["outcome"], ("x", "k"))
        y = r["ratio"] if r["outcome"] == "ratio" else 0.0
        label = r["outcome"] if r["outcome"] not in shown else None
        shown.add(r["outcome"])
        if r["outcome"] == "ratio":
            ax.vlines(onset, 0, y, color=colour, lw=1)
        ax.plot(onset, y, marker, color=colour, label=label)
    ax.set_ylim(-0.03, 0.53)
    ax.set_ylabel("shape ratio")
    if shown:
        ax.legend(loc="upper right", fontsize="small", ncol=len(shown))

    if args.position:
        draw_positions(axes[3], notes, plt)
    axes[-1].set_xlabel("time (s); one step of the energy is one block of %.1f ms" % (block_s * 1000))
    fig.tight_layout()
    out = args.output or os.path.splitext(args.files[0])[0] + ".png"
    fig.savefig(out, dpi=80, bbox_inches="tight")
    print(out)


if __name__ == "__main__":
    main()
