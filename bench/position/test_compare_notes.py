#!/usr/bin/env python3
"""Tests of the note-by-note comparison: streams, the shares it averages, what it calls a change.
`python3 bench/position/test_compare_notes.py`."""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import compare_notes as cn  # noqa: E402

HEADER = "block,beta,output,gamma,noise,ringing,f0,est,position,est_f0,confidence,rows"


def notes_file(folder, seed, rows):
    with open(os.path.join(folder, f"seed{seed}.txt"), "w") as f:
        f.write("Modelled strings: a title line\n" + HEADER + "\n")
        for r in rows:
            f.write(",".join(str(v) for v in r) + "\n")


# (block, beta, output, gamma, noise, ringing, f0, est, position, est_f0, confidence, rows)
BEFORE = [(64, 0.3, 0, 0.1, -60, 1, 100, 1, 0.30, 100, 0.9, 1),   # right
          (64, 0.2, 0, 0.1, -60, 2, 200, 1, 0.25, 200, 0.1, 1),   # wrong, same stream
          (64, 0.1, 2, 0.2, -400, 0, 300, 1, 0.20, 300, 0.5, 1),  # pickup beyond: not counted
          (64, 0.4, 1, 0.1, -45, 0, 400, 0, 0.0, 0, 0.0, 2)]      # no estimate, two rows


class CompareNotes(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.before = os.path.join(self.dir.name, "before")
        self.after = os.path.join(self.dir.name, "after")
        os.makedirs(self.before)
        os.makedirs(self.after)
        after = list(BEFORE)
        after[1] = (64, 0.2, 0, 0.1, -60, 2, 200, 1, 0.21, 200, 0.6, 1)  # now right
        after[0] = (64, 0.3, 0, 0.1, -60, 1, 100, 1, 0.35, 100, 0.9, 1)  # now wrong
        for seed in (1, 4):
            notes_file(self.before, seed, BEFORE)
            notes_file(self.after, seed, after if seed == 4 else BEFORE)

    def tearDown(self):
        self.dir.cleanup()

    def test_streams_shares_and_changes(self):
        notes = cn.read_notes(os.path.join(self.before, "seed1.txt"))
        self.assertEqual([n["stream"] for n in notes], [0, 0, 1, 2])
        self.assertAlmostEqual(cn.share(notes, "64"), 100.0 / 3)  # 1 of 3 resolvable
        lines = cn.compare(self.before, self.after, [1, 4])
        self.assertIn("1-3 33.33  4-9 33.33  4-15 33.33  notes with more than one "
                      "row 2", lines[0])
        changed = [x for x in lines if x.startswith("seed")]
        self.assertEqual(len(changed), 2)
        self.assertTrue(changed[0].startswith("seed 4 block 64 stream 0") and
                        changed[0].endswith("LOSS"))
        self.assertTrue(changed[1].endswith("GAIN"))


if __name__ == "__main__":
    unittest.main()
