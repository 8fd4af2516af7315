#!/usr/bin/env python3
"""The pluck-position estimate on sampled instruments.

Writes MIDI files (one note at a time, "alone", and each note ringing into the next,
"ringing") for six plucked General MIDI programs, renders them with the synthesiser and a
General MIDI sound font, runs `attackscope --position` on every render at blocks of 2048 and
64, matches the note rows to the note-ons and prints the tables.

The key gives the truth f0 (equal temperament, A4 = 440 Hz); the sound font's instrument zones
(read from the file here) say which keys play one recording, resampled: those keys share the
pluck point, so their positions should agree. Python 3 standard library only.
"""

import argparse
import csv
import io
import math
import os
import random
import shutil
import struct
import subprocess
import sys
from statistics import median

# (name, 1-based General MIDI program, lowest key, highest key): the usual ranges.
INSTRUMENTS = [
    ("nylon guitar", 25, 40, 83),        # E2 .. B5, 19 frets
    ("steel guitar", 26, 40, 84),        # E2 .. C6, 20 frets
    ("jazz guitar", 27, 40, 86),         # E2 .. D6, 22 frets
    ("clean electric guitar", 28, 40, 86),
    ("acoustic bass", 33, 28, 55),       # E1 .. G3
    ("harp", 47, 24, 103),               # C1 .. G7
]

NOTES_PER_SET = 80
# (name, keys shuffled, note maker), filled in below the makers.
SETS = []
VELOCITY = 100
ALONE_STEP_S, ALONE_HOLD_S = 2.0, 1.0      # a note each 2 s, held 1 s, then silence
RINGING_STEP_S, RINGING_HOLD_S = 0.6, 0.8  # a note each 0.6 s, held 0.2 s into the next
DENSE_STEP_S, DENSE_HOLD_S = 0.5, 1.2      # a note each 0.5 s, held over the next two
TAIL_S = 2.0
MATCH_BEFORE_S, MATCH_AFTER_S = 0.010, 0.060
F0_TOLERANCE = 0.03
POSITION_TOLERANCE = 0.02
# The estimate's range of fundamentals (the tracker's lowest_f0 and highest_f0): the harp's lowest
# and highest keys lie outside it.
LOWEST_F0, HIGHEST_F0 = 40.0, 1500.0
TICKS_PER_QUARTER = 480
US_PER_QUARTER = 500000  # 120 beats a minute: 960 ticks a second
TICKS_PER_S = TICKS_PER_QUARTER * 1e6 / US_PER_QUARTER


# ---------------------------------------------------------------- MIDI writing

def _varlen(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


def midi_bytes(program, notes, end_s):
    """A format-0 file: `notes` are (on_s, off_s, key). Returns (bytes, note-on times in s as
    the file places them, after rounding to ticks)."""
    events = []  # (tick, order, data)
    events.append((0, 0, bytes([0xB0, 91, 0])))  # reverb send off
    events.append((0, 0, bytes([0xB0, 93, 0])))  # chorus send off
    events.append((0, 1, bytes([0xC0, program - 1])))
    onsets = []
    for on_s, off_s, key in notes:
        on_t = round(on_s * TICKS_PER_S)
        off_t = round(off_s * TICKS_PER_S)
        onsets.append(on_t / TICKS_PER_S)
        events.append((on_t, 3, bytes([0x90, key, VELOCITY])))
        events.append((off_t, 2, bytes([0x80, key, 0])))
    # A last, silent event keeps the player (and so the render) going through the release.
    events.append((round(end_s * TICKS_PER_S), 4, bytes([0xB0, 91, 0])))
    events.sort(key=lambda e: (e[0], e[1]))
    track = bytearray()
    track += b"\x00\xff\x51\x03" + US_PER_QUARTER.to_bytes(3, "big")
    last = 0
    for tick, _, data in events:
        track += _varlen(tick - last) + data
        last = tick
    track += b"\x00\xff\x2f\x00"
    header = b"MThd" + struct.pack(">IHHH", 6, 0, 1, TICKS_PER_QUARTER)
    return header + b"MTrk" + struct.pack(">I", len(track)) + bytes(track), onsets


def alone_notes(keys):
    return [(i * ALONE_STEP_S + 0.5, i * ALONE_STEP_S + 0.5 + ALONE_HOLD_S, k)
            for i, k in enumerate(keys)]


def ringing_notes(keys):
    return [(i * RINGING_STEP_S + 0.5, i * RINGING_STEP_S + 0.5 + RINGING_HOLD_S, k)
            for i, k in enumerate(keys)]


def dense_notes(keys):
    return [(i * DENSE_STEP_S + 0.5, i * DENSE_STEP_S + 0.5 + DENSE_HOLD_S, k)
            for i, k in enumerate(keys)]


SETS.extend([("alone", False, alone_notes), ("ringing", True, ringing_notes),
             ("two ringing", True, dense_notes)])


def key_sequence(lo, hi, shuffled, seed):
    """NOTES_PER_SET keys: every key of the range, then the range again, until 80. The alone
    set goes up the range; the ringing set takes each pass in a shuffled order, so a note
    rings into a neighbour or into one far away."""
    rng = random.Random(seed)
    keys = []
    while len(keys) < NOTES_PER_SET:
        one_pass = list(range(lo, hi + 1))
        if shuffled:
            rng.shuffle(one_pass)
        keys.extend(one_pass)
    return keys[:NOTES_PER_SET]


def key_f0(key):
    return 440.0 * 2.0 ** ((key - 69) / 12.0)


# ---------------------------------------------------------------- sound font zones

def _chunks(data, start, end):
    pos = start
    while pos + 8 <= end:
        cid = data[pos:pos + 4]
        size = struct.unpack_from("<I", data, pos + 4)[0]
        yield cid, pos + 8, size
        pos += 8 + size + (size & 1)


def read_pdta(path):
    """The hydra's records: a dict of chunk id to bytes."""
    with open(path, "rb") as f:
        data = f.read()
    if data[0:4] != b"RIFF" or data[8:12] != b"sfbk":
        raise ValueError(f"{path}: not a sound font")
    for cid, body, size in _chunks(data, 12, len(data)):
        if cid == b"LIST" and data[body:body + 4] == b"pdta":
            return {c.decode("ascii"): data[b:b + s]
                    for c, b, s in _chunks(data, body + 4, body + size)}
    raise ValueError(f"{path}: no pdta list")


def _records(raw, size, fmt):
    return [struct.unpack_from(fmt, raw, i * size) for i in range(len(raw) // size)]


def _zones(bags, gens, first_bag, end_bag, terminal):
    """Zones of one preset or instrument: a list of dicts generator -> raw amount, the global
    zone (one without the terminal generator, first) merged into the others."""
    zones = []
    global_zone = {}
    for b in range(first_bag, end_bag):
        g0, g1 = bags[b][0], bags[b + 1][0]
        zone = {oper: amount for oper, amount in gens[g0:g1]}
        if terminal not in zone:
            if b == first_bag:
                global_zone = zone
            continue
        merged = dict(global_zone)
        merged.update(zone)
        zones.append(merged)
    return zones


def _range(zone, oper):
    if oper not in zone:
        return 0, 127
    amount = zone[oper]
    return amount & 0xFF, amount >> 8


def recordings_per_key(pdta, program, velocity=VELOCITY, bank=0):
    """For a 1-based General MIDI program: key -> the tuple of sample indices that sound (one
    recording; a stereo pair counts as one), from the preset's and instruments' key and
    velocity ranges."""
    phdr = _records(pdta["phdr"], 38, "<20sHHHIII")
    pbag = _records(pdta["pbag"], 4, "<HH")
    pgen = _records(pdta["pgen"], 4, "<HH")
    inst = _records(pdta["inst"], 22, "<20sH")
    ibag = _records(pdta["ibag"], 4, "<HH")
    igen = _records(pdta["igen"], 4, "<HH")
    shdr = _records(pdta["shdr"], 46, "<20sIIIIIBbHH")
    found = [i for i in range(len(phdr) - 1)
             if phdr[i][1] == program - 1 and phdr[i][2] == bank]
    if not found:
        raise ValueError(f"no preset for program {program} in bank {bank}")
    p = found[0]
    keys = {}
    for pz in _zones(pbag, pgen, phdr[p][3], phdr[p + 1][3], 41):
        plo, phi = _range(pz, 43)
        pvlo, pvhi = _range(pz, 44)
        if not pvlo <= velocity <= pvhi:
            continue
        i = pz[41]
        for iz in _zones(ibag, igen, inst[i][1], inst[i + 1][1], 53):
            lo, hi = _range(iz, 43)
            vlo, vhi = _range(iz, 44)
            if not vlo <= velocity <= vhi:
                continue
            for k in range(max(lo, plo), min(hi, phi) + 1):
                keys.setdefault(k, set()).add(iz[53])
    names = {s: shdr[s][0].split(b"\0")[0].decode("latin-1") for ks in keys.values() for s in ks}
    return {k: tuple(sorted(v)) for k, v in keys.items()}, names


# ---------------------------------------------------------------- matching and tables

def match(onsets, rows):
    """Note-ons to note rows: each note-on takes the first unused row from 10 ms before it to
    60 ms after. Returns (row or None per note-on, rows left over)."""
    rows = sorted(rows, key=lambda r: r["onset_s"])
    used = [False] * len(rows)
    matched = []
    for on in onsets:
        hit = None
        for j, r in enumerate(rows):
            if used[j]:
                continue
            if on - MATCH_BEFORE_S <= r["onset_s"] <= on + MATCH_AFTER_S:
                hit = j
                break
            if r["onset_s"] > on + MATCH_AFTER_S:
                break
        if hit is not None:
            used[hit] = True
            matched.append(rows[hit])
        else:
            matched.append(None)
    extra = [r for j, r in enumerate(rows) if not used[j]]
    return matched, extra


def parse_rows(text):
    """Note rows of the program's CSV, by file."""
    by_file = {}
    for r in csv.DictReader(io.StringIO(text)):
        if r["outcome"] != "note":
            continue
        by_file.setdefault(r["file"], []).append({
            "onset_s": float(r["onset_s"]),
            "position": float(r["position"]),
            "f0": float(r["position_f0"]),
            "confidence": float(r["confidence"]),
            "other": float(r["other_comb"]),
        })
    return by_file


def f0_right(f0, key):
    return f0 > 0 and abs(f0 / key_f0(key) - 1.0) <= F0_TOLERANCE


def harmonic_error(f0, key):
    """A wrong f0 that is a whole multiple or fraction of the key's (octave, twelfth, ...)."""
    if f0 <= 0:
        return False
    r = f0 / key_f0(key)
    if r < 1:
        r = 1 / r
    return round(r) >= 2 and abs(r / round(r) - 1) <= F0_TOLERANCE


def summarise(notes, recording_of):
    """notes: (key, row or None); a key may be tagged (instrument, key) so that keys of
    different instruments stay apart. The figures of one table row."""
    n = len(notes)
    keys = {k for k, _ in notes}
    estimated = [(k, r) for k, r in notes if r is not None and r["position"] > 0]
    plain = [(k[1] if isinstance(k, tuple) else k, r) for k, r in notes]
    f0_ok = sum(1 for k, r in plain if r is not None and f0_right(r["f0"], k))
    in_range = [(k, r) for k, r in plain if LOWEST_F0 <= key_f0(k) <= HIGHEST_F0]
    f0_ok_in = sum(1 for k, r in in_range if r is not None and f0_right(r["f0"], k))
    f0_harm = sum(1 for k, r in plain if r is not None and harmonic_error(r["f0"], k))
    f0_other = sum(1 for k, r in plain
                   if r is not None and not f0_right(r["f0"], k) and not harmonic_error(r["f0"], k))
    # Zones shared by two keys or more of the played range; agreement among the estimated
    # notes of such zones (a note of a zone with no other estimate cannot be compared).
    zone_keys = {}
    for k in keys:
        zone_keys.setdefault(recording_of[k], set()).add(k)
    by_zone = {}
    for k, r in estimated:
        z = recording_of[k]
        if len(zone_keys[z]) >= 2:
            by_zone.setdefault(z, []).append(r["position"])
    shared = agree = 0
    spreads = []
    for positions in by_zone.values():
        if len(positions) < 2:
            continue
        m = median(positions)
        shared += len(positions)
        agree += sum(1 for p in positions if abs(p - m) <= POSITION_TOLERANCE)
        spreads.extend(abs(p - m) for p in positions)
    conf = [r["confidence"] for _, r in estimated]
    return {
        "notes": n, "keys": len(keys),
        "zones": len(zone_keys),
        "estimated": len(estimated),
        "f0_ok": f0_ok, "f0_harm": f0_harm, "f0_other": f0_other,
        "in_range": len(in_range), "f0_ok_in": f0_ok_in,
        "shared": shared, "agree": agree,
        "spread": median(spreads) if spreads else float("nan"),
        "conf": median(conf) if conf else float("nan"),
    }


def pct(a, b):
    return f"{100.0 * a / b:5.1f}%" if b else "    -"


HEADER = ("| {:<34} | notes | keys | zones | estimated | f0 within 3% | f0 wrong: harm./other "
          "| zone agree (n) | dev. from median | conf. (med) | missed | extra |")
RULE = ("|" + "-" * 36 + "|-------|------|-------|-----------|--------------|----------------------"
        "|----------------|------------------|-------------|--------|-------|")


def table_row(label, s, missed, extra):
    agree = f"{pct(s['agree'], s['shared'])} ({s['shared']:3d})"
    return (f"| {label:<34} | {s['notes']:5d} | {s['keys']:4d} | {s['zones']:5d} | "
            f"{pct(s['estimated'], s['notes']):>9} | {pct(s['f0_ok'], s['notes']):>12} | "
            f"{s['f0_harm']:>11d} / {s['f0_other']:<7d} | "
            f"{agree:>14} | {s['spread']:16.4f} | {s['conf']:11.2f} | {missed:6d} | {extra:5d} |")


# ---------------------------------------------------------------- the renders' own pitch

def read_mono(path):
    """A 16-bit or 32-bit integer WAV as a list of mono floats, and its rate."""
    import array
    import wave
    with wave.open(path) as w:
        rate, ch, width = w.getframerate(), w.getnchannels(), w.getsampwidth()
        raw = w.readframes(w.getnframes())
    a = array.array({2: "h", 4: "i"}[width])
    a.frombytes(raw)
    if sys.byteorder == "big":
        a.byteswap()
    return [sum(a[i:i + ch]) / ch for i in range(0, len(a), ch)], rate


def render_f0(x, rate, start_s, key):
    """The render's own f0 near the key's: the normalised autocorrelation's peak over periods
    within 6% of the key's, 150 ms after the note-on, refined by a parabola. It checks that
    the synthesiser plays the key in tune; it cannot see an octave (it looks near the key)."""
    period = rate / key_f0(key)
    lo, hi = int(period / 1.06), int(period * 1.06) + 1
    n = max(2048, int(3 * period))
    s0 = int((start_s + 0.15) * rate)
    seg = x[s0:s0 + n + hi + 1]
    if len(seg) < n + hi + 1:
        return float("nan")

    def r(lag):
        num = sum(seg[i] * seg[i + lag] for i in range(n))
        den = (sum(v * v for v in seg[:n]) * sum(v * v for v in seg[lag:lag + n])) ** 0.5
        return num / den if den > 0 else 0.0

    values = {lag: r(lag) for lag in range(lo - 1, hi + 2)}
    best = max(range(lo, hi + 1), key=lambda lag: values[lag])
    a, b, c = values[best - 1], values[best], values[best + 1]
    denom = a - 2 * b + c
    shift = 0.5 * (a - c) / denom if denom < 0 else 0.0
    return rate / (best + shift)


def tuning_report(sets):
    """The largest deviation, in cents, of each alone render's own f0 from its keys'."""
    print()
    print("The renders' own pitch (alone, each key once), largest deviation from the key:")
    for name, set_name, wav, keys, onsets, _ in sets:
        if set_name != "alone":
            continue
        x, rate = read_mono(wav)
        seen = {}
        for k, on in zip(keys, onsets):
            if k not in seen:
                f = render_f0(x, rate, on, k)
                seen[k] = 1200.0 * math.log2(f / key_f0(k)) if f == f else float("nan")
        worst = max(seen.items(), key=lambda kv: abs(kv[1]) if kv[1] == kv[1] else -1)
        print(f"  {name}: {len(seen)} keys, at most {abs(worst[1]):.1f} cents (key {worst[0]})")


# ---------------------------------------------------------------- main

def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--cli", required=True, help="the attackscope program")
    ap.add_argument("--soundfont", default="/usr/share/sounds/sf2/default-GM.sf2",
                    help="a General MIDI sound font (default: the system's)")
    ap.add_argument("--synth", default="fluidsynth", help="the synthesiser's command")
    ap.add_argument("--out", required=True, help="folder for the MIDI files and renders")
    ap.add_argument("--blocks", default="2048,64")
    ap.add_argument("--misses", action="store_true", help="list the notes that miss")
    ap.add_argument("--tuning", action="store_true",
                    help="also measure the renders' own pitch (slow: pure Python)")
    args = ap.parse_args()

    if shutil.which(args.synth) is None or not os.path.isfile(args.soundfont):
        print(f"sampled instruments: skipped (the synthesiser's command {args.synth} or the "
              f"General MIDI sound font {args.soundfont} is missing)")
        return 0
    os.makedirs(args.out, exist_ok=True)
    pdta = read_pdta(args.soundfont)

    sets = []  # (instrument, set name, wav, keys, onsets, recording_of)
    zone_names = {}
    for idx, (name, program, lo, hi) in enumerate(INSTRUMENTS):
        recording_of, names = recordings_per_key(pdta, program)
        zone_names[name] = names
        for set_name, shuffled, make in SETS:
            keys = key_sequence(lo, hi, shuffled, seed=idx + 1)
            notes = make(keys)
            end_s = notes[-1][1] + TAIL_S
            data, onsets = midi_bytes(program, notes, end_s)
            stem = os.path.join(args.out, f"gm{program:03d}-{set_name}")
            old = None
            if os.path.isfile(stem + ".mid"):
                with open(stem + ".mid", "rb") as f:
                    old = f.read()
            if old != data:  # a render is made again only when its MIDI file changes
                with open(stem + ".mid", "wb") as f:
                    f.write(data)
            if not os.path.isfile(stem + ".wav") or \
                    os.path.getmtime(stem + ".wav") < os.path.getmtime(stem + ".mid"):
                subprocess.run([args.synth, "-ni", "-q", "-R", "0", "-C", "0", "-r", "44100",
                                "-g", "0.5", "-F", stem + ".wav", args.soundfont, stem + ".mid"],
                               check=True, stdout=subprocess.DEVNULL)
            sets.append((name, set_name, stem + ".wav", keys, onsets, recording_of))

    print("Zones (recordings) over each instrument's range, at velocity", VELOCITY)
    for name, program, lo, hi in INSTRUMENTS:
        rec = recordings_per_key(pdta, program)[0]
        runs = []
        for k in range(lo, hi + 1):
            z = rec.get(k)
            if runs and runs[-1][2] == z:
                runs[-1][1] = k
            else:
                runs.append([k, k, z])
        print(f"  {name} (program {program}, keys {lo}-{hi}): " +
              ", ".join(f"{a}-{b}" if a != b else f"{a}" for a, b, _ in runs))

    if args.tuning:
        tuning_report(sets)

    for block in [int(b) for b in args.blocks.split(",")]:
        out = subprocess.run([args.cli, "--position", "--block", str(block)] +
                             [s[2] for s in sets], check=True, capture_output=True, text=True)
        by_file = parse_rows(out.stdout)
        print()
        print(HEADER.format(f"blocks of {block}"))
        print(RULE)
        totals = {}
        for name, set_name, wav, keys, onsets, recording_of in sets:
            matched, extra = match(onsets, by_file.get(wav, []))
            notes = list(zip(keys, matched))
            missed = sum(1 for r in matched if r is None)
            s = summarise(notes, recording_of)
            print(table_row(f"{name}, {set_name}", s, missed, len(extra)))
            t = totals.setdefault(set_name, [0, 0, [], {}])
            t[0] += missed
            t[1] += len(extra)
            # Keys of different instruments are different recordings: tag them.
            t[2].extend(((name, k), r) for k, r in notes)
            t[3].update({(name, k): (name, recording_of[k]) for k in keys})
            if args.misses:
                for k, on, r in zip(keys, onsets, matched):
                    if r is None:
                        print(f"    missed: key {k} at {on:.3f} s")
                    elif not f0_right(r["f0"], k):
                        print(f"    f0: key {k} at {on:.3f} s: {r['f0']:.2f} Hz "
                              f"(key {key_f0(k):.2f} Hz, position {r['position']:.4f})")
                for r in extra:
                    print(f"    extra: {r['onset_s']:.3f} s, f0 {r['f0']:.2f} Hz")
        in_range = []
        for set_name, _, _ in SETS:
            missed, extra, notes, rec = totals[set_name]
            s = summarise(notes, rec)
            print(table_row(f"all, {set_name}", s, missed, extra))
            in_range.append(f"{set_name} {pct(s['f0_ok_in'], s['in_range']).strip()} of "
                            f"{s['in_range']}")
        print(f"f0 within 3%, keys in the estimate's range ({LOWEST_F0:.0f}-{HIGHEST_F0:.0f} Hz): "
              + ", ".join(in_range))
    return 0


if __name__ == "__main__":
    sys.exit(main())
