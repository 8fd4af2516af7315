#!/usr/bin/python3
"""Tests of scripts/plot-events.py: which rows become notes in either output of the program, how
files are placed on one time axis, and a whole run on a stand-in program."""
import importlib.util
import json
import os
import struct
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPT = os.path.join(ROOT, "scripts", "plot-events.py")
found = importlib.util.spec_from_file_location("plot_events", SCRIPT)
plot_events = importlib.util.module_from_spec(found)
found.loader.exec_module(plot_events)


def energy(t, sent, file="a.wav"):
    return {"file": file, "onset_s": t, "outcome": "energy", "sent": sent}


def event(t, outcome="ratio", position=None, confidence=None, file="a.wav"):
    return {"file": file, "onset_s": t, "outcome": outcome, "ratio": 0.4, "position": position,
            "position_f0": None, "confidence": confidence}


def note(t, position, confidence, other=0.0, file="a.wav"):
    return {"file": file, "onset_s": t, "outcome": "note", "position": position,
            "position_f0": 110.0, "confidence": confidence, "other_comb": other}


class SplitRows(unittest.TestCase):
    def test_notes_come_from_note_rows_and_events_leave_them_out(self):
        rows = [energy(0.0, 1.0), event(0.5), note(0.48, 0.2, 0.7, 0.05), energy(0.05, 2.0),
                event(1.0, "dropped"), note(1.01, 0.33, 0.6)]
        energies, events, notes = plot_events.split_rows(rows)
        self.assertEqual(energies, [(0.0, 1.0), (0.05, 2.0)])
        self.assertEqual([e["outcome"] for e in events], ["ratio", "dropped"])
        self.assertEqual(notes, [{"t": 0.48, "position": 0.2, "confidence": 0.7, "other": 0.05},
                                 {"t": 1.01, "position": 0.33, "confidence": 0.6, "other": 0.0}])

    def test_without_note_rows_the_filled_event_rows_are_the_notes(self):
        rows = [event(0.5, position=0.02, confidence=0.4), event(1.0, "dropped"),
                event(1.5, "dropped", position=0.19, confidence=0.35)]
        _, events, notes = plot_events.split_rows(rows)
        self.assertEqual(len(events), 3)
        self.assertEqual([(n["t"], n["position"], n["confidence"], n["other"]) for n in notes],
                         [(0.5, 0.02, 0.4, None), (1.5, 0.19, 0.35, None)])

    def test_note_rows_win_over_filled_event_rows(self):
        rows = [event(0.5, position=0.02, confidence=0.4), note(0.45, 0.2, 0.8)]
        self.assertEqual([n["t"] for n in plot_events.split_rows(rows)[2]], [0.45])


class PlaceFiles(unittest.TestCase):
    def test_each_file_starts_where_the_one_before_ends(self):
        rows = [energy(0.0, 1.0, "a.wav"), note(0.5, 0.2, 0.7, file="a.wav"),
                energy(0.0, 1.0, "b.wav"), event(0.25, file="b.wav"), event(0.1, file="c.wav")]
        placed = plot_events.place_files(rows, [("a.wav", 4.0), ("b.wav", 7.0)])
        self.assertEqual([(r["file"], r["onset_s"]) for r in placed],
                         [("a.wav", 0.0), ("a.wav", 0.5), ("b.wav", 4.0), ("b.wav", 4.25)])
        self.assertEqual(rows[3]["onset_s"], 0.25, "the rows given stay as they were")

    def test_a_file_lasts_its_samples_else_its_energy_blocks(self):
        rows = [energy(0.0, 1.0), energy(0.5, 1.0), energy(1.0, 1.0), event(1.2)]
        cases = [((list(range(22050)), 44100), 0.5), (None, 1.5)]
        for wave, seconds in cases:
            self.assertAlmostEqual(plot_events.file_seconds(rows, "a.wav", wave), seconds)
        self.assertAlmostEqual(plot_events.file_seconds([event(1.2)], "a.wav", None), 1.2)


def write_wav(path, seconds, rate=8000):
    frames = int(seconds * rate)
    data = struct.pack("<%dh" % frames, *([1000, -1000] * (frames // 2) + [0] * (frames % 2)))
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVE")
        f.write(b"fmt " + struct.pack("<IHHIIHH", 16, 1, 1, rate, rate * 2, 2, 16))
        f.write(b"data" + struct.pack("<I", len(data)) + data)


STAND_IN = """#!{python}
import json, sys
files = [a for a in sys.argv[1:] if a.endswith(".wav")]
at = sys.argv.index("--block")
assert sys.argv[at + 1] == "1024" and sys.argv[-len(files):] == files, sys.argv
for f in files:
    for k in range(20):
        print(json.dumps({{"file": f, "onset_s": k * 0.05, "outcome": "energy", "sent": 1.0 + k}}))
    print(json.dumps({{"file": f, "onset_s": 0.3, "outcome": "ratio", "ratio": 0.4,
                      "position": None, "confidence": None}}))
    if "--position" in sys.argv:
        print(json.dumps({{"file": f, "onset_s": 0.28, "outcome": "note", "position": 0.2,
                          "position_f0": 110.0, "confidence": 0.7, "other_comb": 0.05}}))
"""


def have_matplotlib():
    return subprocess.run([SCRIPT_PYTHON, "-c", "import matplotlib"],
                          capture_output=True).returncode == 0


with open(SCRIPT) as f:
    SCRIPT_PYTHON = f.readline()[2:].strip()


@unittest.skipUnless(have_matplotlib(), "matplotlib is not installed (scripts/install-deps.sh plot)")
class WholeRun(unittest.TestCase):
    def test_position_adds_a_panel_and_several_files_make_one_picture(self):
        with tempfile.TemporaryDirectory() as tmp:
            program = os.path.join(tmp, "stand-in")
            with open(program, "w") as f:
                f.write(STAND_IN.format(python=SCRIPT_PYTHON))
            os.chmod(program, 0o755)
            waves = [os.path.join(tmp, n) for n in ("a.wav", "b.wav")]
            for w in waves:
                write_wav(w, 1.0)
            heights = {}
            for flags in ([], ["--position"]):
                out = os.path.join(tmp, "out%d.png" % len(flags))
                run = subprocess.run([SCRIPT, "--program", program, "-o", out] + flags + waves +
                                     ["--", "--block", "1024"], capture_output=True, text=True)
                self.assertEqual(run.returncode, 0, run.stderr)
                with open(out, "rb") as f:
                    png = f.read(24)
                self.assertEqual(png[:8], b"\x89PNG\r\n\x1a\n")
                heights[len(flags)] = struct.unpack(">I", png[20:24])[0]
            self.assertGreater(heights[1], heights[0] + 100, "the position panel is drawn")


if __name__ == "__main__":
    unittest.main()
