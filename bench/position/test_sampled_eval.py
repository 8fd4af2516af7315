#!/usr/bin/env python3
"""Tests of the sampled-instrument evaluation's parts: the MIDI writer, the sound font's
zones, the matching of rows to note-ons and the figures. `python3 -m unittest` from this
folder, or `python3 bench/position/test_sampled_eval.py`."""

import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sampled_eval as se  # noqa: E402


def read_varlen(data, pos):
    value = 0
    while True:
        b = data[pos]
        pos += 1
        value = (value << 7) | (b & 0x7F)
        if not b & 0x80:
            return value, pos


def midi_events(data):
    """(absolute tick, status, data bytes) of a format-0 file from the writer."""
    assert data[:4] == b"MThd"
    assert data[14:18] == b"MTrk"
    length = struct.unpack(">I", data[18:22])[0]
    track = data[22:22 + length]
    assert len(track) == length
    pos, tick, out = 0, 0, []
    while pos < len(track):
        delta, pos = read_varlen(track, pos)
        tick += delta
        status = track[pos]
        if status == 0xFF:
            kind, size = track[pos + 1], track[pos + 2]
            out.append((tick, (0xFF, kind), track[pos + 3:pos + 3 + size]))
            pos += 3 + size
        else:
            n = 2 if status & 0xF0 in (0x80, 0x90, 0xB0) else 1
            out.append((tick, status, track[pos + 1:pos + 1 + n]))
            pos += 1 + n
    return out


def chunk(cid, body):
    pad = b"\0" if len(body) & 1 else b""
    return cid + struct.pack("<I", len(body)) + body + pad


def tiny_soundfont():
    """A sound font with one preset (program 25, bank 0) over one instrument of three zones:
    keys 0-50 sample 0, 51-127 sample 1 at velocity 0-80 and sample 2 at 81-127; a global
    instrument zone first; and a second preset (program 26) that must not be read."""
    def gen(oper, amount):
        return struct.pack("<HH", oper, amount)

    def rng(lo, hi):
        return lo | (hi << 8)

    phdr = (struct.pack("<20sHHHIII", b"first", 24, 0, 0, 0, 0, 0) +
            struct.pack("<20sHHHIII", b"second", 25, 0, 1, 0, 0, 0) +
            struct.pack("<20sHHHIII", b"EOP", 0, 0, 2, 0, 0, 0))
    pbag = struct.pack("<HH", 0, 0) + struct.pack("<HH", 1, 0) + struct.pack("<HH", 2, 0)
    pgen = gen(41, 0) + gen(41, 1) + gen(0, 0)
    inst = (struct.pack("<20sH", b"one", 0) + struct.pack("<20sH", b"two", 4) +
            struct.pack("<20sH", b"EOI", 5))
    ibag = b"".join(struct.pack("<HH", g, 0) for g in (0, 1, 3, 6, 8, 9))
    igen = (gen(52, 3) +                                  # global zone: fine tune only
            gen(43, rng(0, 50)) + gen(53, 0) +
            gen(43, rng(51, 127)) + gen(44, rng(0, 80)) + gen(53, 1) +
            gen(44, rng(81, 127)) + gen(53, 2) +          # no key range: every key
            gen(53, 0) +                                  # instrument "two"
            gen(0, 0))
    shdr = b"".join(struct.pack("<20sIIIIIBbHH", name, 0, 10, 0, 10, 44100, 60, 0, 0, 1)
                    for name in (b"low", b"soft", b"loud", b"EOS"))
    pdta = b"pdta" + b"".join(chunk(c, d) for c, d in (
        (b"phdr", phdr), (b"pbag", pbag), (b"pmod", b"\0" * 10), (b"pgen", pgen),
        (b"inst", inst), (b"ibag", ibag), (b"imod", b"\0" * 10), (b"igen", igen),
        (b"shdr", shdr)))
    body = (b"sfbk" + chunk(b"LIST", b"INFO" + chunk(b"ifil", struct.pack("<HH", 2, 1))) +
            chunk(b"LIST", b"sdta") + chunk(b"LIST", pdta))
    return b"RIFF" + struct.pack("<I", len(body)) + body


class MidiWriter(unittest.TestCase):
    def test_varlen(self):
        for value in (0, 1, 127, 128, 480, 16383, 16384, 0x0FFFFFFF):
            encoded = se._varlen(value)
            self.assertEqual(read_varlen(encoded, 0), (value, len(encoded)))

    def test_notes_program_and_times(self):
        notes = [(0.5, 1.5, 40), (2.5, 3.5, 41)]
        data, onsets = se.midi_bytes(25, notes, 6.0)
        events = midi_events(data)
        self.assertEqual(onsets, [0.5, 2.5])
        prog = [e for e in events if e[1] == 0xC0]
        self.assertEqual(prog, [(0, 0xC0, bytes([24]))])  # 1-based 25 is 24 on the wire
        ons = [(t / se.TICKS_PER_S, d[0]) for t, st, d in events if st == 0x90]
        offs = [(t / se.TICKS_PER_S, d[0]) for t, st, d in events if st == 0x80]
        self.assertEqual(ons, [(0.5, 40), (2.5, 41)])
        self.assertEqual(offs, [(1.5, 40), (3.5, 41)])
        # Reverb and chorus sends are zero before the first note; the file lasts to end_s.
        sends = [d for t, st, d in events if st == 0xB0 and t == 0]
        self.assertIn(bytes([91, 0]), sends)
        self.assertIn(bytes([93, 0]), sends)
        self.assertEqual(events[-1][1], (0xFF, 0x2F))
        self.assertEqual(events[-1][0], round(6.0 * se.TICKS_PER_S))

    def test_note_off_of_one_key_before_its_next_on_at_the_same_tick(self):
        # Two notes of one key, the second starting as the first ends: off must come first,
        # or the synthesiser would end the new note at once.
        data, _ = se.midi_bytes(25, [(0.5, 1.0, 40), (1.0, 1.5, 40)], 3.0)
        at_one = [st for t, st, d in midi_events(data) if t == round(se.TICKS_PER_S)]
        self.assertEqual(at_one, [0x80, 0x90])

    def test_sets(self):
        keys = se.key_sequence(40, 83, False, 1)
        self.assertEqual(len(keys), se.NOTES_PER_SET)
        self.assertEqual(keys[:44], list(range(40, 84)))
        shuffled = se.key_sequence(24, 103, True, 6)
        self.assertEqual(sorted(shuffled), list(range(24, 104)))
        ringing = se.ringing_notes([40, 41])
        self.assertGreater(ringing[0][1], ringing[1][0])   # rings into the next
        alone = se.alone_notes([40, 41])
        self.assertLess(alone[0][1], alone[1][0])          # silence before the next


class SoundFontZones(unittest.TestCase):
    def setUp(self):
        import tempfile
        fd, self.path = tempfile.mkstemp(suffix=".sf2")
        with os.fdopen(fd, "wb") as f:
            f.write(tiny_soundfont())

    def tearDown(self):
        os.unlink(self.path)

    def test_zones_by_key_and_velocity(self):
        pdta = se.read_pdta(self.path)
        rec, names = se.recordings_per_key(pdta, 25, velocity=100)
        self.assertEqual(rec[0], (0, 2))      # the velocity-only zone covers every key
        self.assertEqual(rec[50], (0, 2))
        self.assertEqual(rec[51], (2,))       # the soft zone is out of velocity
        self.assertEqual(rec[127], (2,))
        soft, _ = se.recordings_per_key(pdta, 25, velocity=60)
        self.assertEqual(soft[50], (0,))
        self.assertEqual(soft[51], (1,))
        self.assertEqual(names[2], "loud")

    def test_other_program(self):
        pdta = se.read_pdta(self.path)
        rec, _ = se.recordings_per_key(pdta, 26)
        self.assertEqual(set(rec.values()), {(0,)})
        with self.assertRaises(ValueError):
            se.recordings_per_key(pdta, 27)

    def test_not_a_soundfont(self):
        with open(self.path, "wb") as f:
            f.write(b"RIFF\0\0\0\0WAVE")
        with self.assertRaises(ValueError):
            se.read_pdta(self.path)


class Matching(unittest.TestCase):
    def row(self, t, f0=100.0, pos=0.2):
        return {"onset_s": t, "position": pos, "f0": f0, "confidence": 0.5, "other": 0.0}

    def test_window_missed_and_extra(self):
        rows = [self.row(1.005), self.row(2.07), self.row(2.995), self.row(3.5)]
        matched, extra = se.match([1.0, 2.0, 3.0], rows)
        self.assertEqual(matched[0]["onset_s"], 1.005)
        self.assertIsNone(matched[1])                 # 70 ms late: missed, and the row extra
        self.assertEqual(matched[2]["onset_s"], 2.995)  # 5 ms early still counts
        self.assertEqual(sorted(r["onset_s"] for r in extra), [2.07, 3.5])

    def test_one_row_per_note(self):
        matched, extra = se.match([1.0, 1.03], [self.row(1.04)])
        self.assertEqual(matched[0]["onset_s"], 1.04)
        self.assertIsNone(matched[1])
        self.assertEqual(extra, [])

    def test_rows_out_of_order(self):
        matched, extra = se.match([1.0, 2.0], [self.row(2.01), self.row(1.01)])
        self.assertEqual([r["onset_s"] for r in matched], [1.01, 2.01])
        self.assertEqual(extra, [])

    def test_parse_rows(self):
        text = ("file,onset_block,onset_s,onset_energy,f0,outcome,sent,ratio,position,"
                "position_f0,confidence,other_comb\n"
                "a.wav,5,0.23,34.8,198.6,ratio,108.9,0.45,,,,\n"
                "a.wav,6,0.25,,,note,,,0.2,110.5,0.4,0.1\n")
        rows = se.parse_rows(text)
        self.assertEqual(list(rows), ["a.wav"])
        self.assertEqual(rows["a.wav"][0]["f0"], 110.5)


class Figures(unittest.TestCase):
    def test_f0_and_harmonics(self):
        a = se.key_f0(69)
        self.assertAlmostEqual(a, 440.0)
        self.assertTrue(se.f0_right(440.0 * 1.029, 69))
        self.assertFalse(se.f0_right(440.0 * 0.96, 69))
        self.assertFalse(se.f0_right(880.0, 69))
        self.assertTrue(se.harmonic_error(880.0, 69))
        self.assertTrue(se.harmonic_error(440.0 / 3, 69))
        self.assertFalse(se.harmonic_error(440.0 * 0.96, 69))
        self.assertFalse(se.harmonic_error(440.0 * 1.5, 69))
        self.assertFalse(se.harmonic_error(0.0, 69))

    def test_zone_agreement(self):
        def r(pos, f0):
            return {"onset_s": 0, "position": pos, "f0": f0, "confidence": 0.3, "other": 0}
        rec = {40: "A", 41: "A", 42: "A", 43: "B"}
        notes = [(40, r(0.20, se.key_f0(40))), (41, r(0.21, se.key_f0(41))),
                 (42, r(0.30, 2 * se.key_f0(42))), (43, r(0.4, se.key_f0(43))),
                 (40, None), (41, r(0.0, se.key_f0(41)))]  # a miss and an unmeasured row
        s = se.summarise(notes, rec)
        self.assertEqual(s["notes"], 6)
        self.assertEqual(s["keys"], 4)
        self.assertEqual(s["zones"], 2)
        self.assertEqual(s["estimated"], 4)
        self.assertEqual(s["f0_ok"], 3 + 1)   # the unmeasured row still has its rough f0
        self.assertEqual(s["f0_harm"], 1)
        self.assertEqual(s["f0_other"], 0)
        # Zone A: 0.20, 0.21, 0.30, median 0.21: two within 0.02; B has one key only.
        self.assertEqual(s["shared"], 3)
        self.assertEqual(s["agree"], 2)

    def test_instruments_apart(self):
        def r(pos):
            return {"onset_s": 0, "position": pos, "f0": 100.0, "confidence": 0, "other": 0}
        notes = [(("a", 40), r(0.1)), (("a", 41), r(0.1)),
                 (("b", 40), r(0.4)), (("b", 41), r(0.4))]
        rec = {("a", 40): ("a", 1), ("a", 41): ("a", 1),
               ("b", 40): ("b", 1), ("b", 41): ("b", 1)}
        s = se.summarise(notes, rec)
        self.assertEqual((s["shared"], s["agree"]), (4, 4))


class RenderPitch(unittest.TestCase):
    def tone(self, f0, rate=44100, seconds=0.5, start_s=0.1):
        import math
        x = [0.0] * int(start_s * rate)
        x += [sum(math.sin(2 * math.pi * h * f0 * i / rate) / h for h in range(1, 8))
              for i in range(int(seconds * rate))]
        return x

    def test_in_tune_and_detuned(self):
        for key, detune in ((45, 1.0), (45, 1.02), (69, 0.985), (28, 1.0)):
            f0 = se.key_f0(key) * detune
            got = se.render_f0(self.tone(f0), 44100, 0.1, key)
            self.assertAlmostEqual(got / f0, 1.0, delta=2e-4, msg=(key, detune))

    def test_too_short(self):
        import math
        # 150 ms after the note-on there is too little of the note left: no f0.
        self.assertTrue(math.isnan(se.render_f0(self.tone(110.0, seconds=0.1), 44100, 0.1, 45)))

    def test_read_mono(self):
        import tempfile
        import wave
        fd, path = tempfile.mkstemp(suffix=".wav")
        os.close(fd)
        try:
            with wave.open(path, "wb") as w:
                w.setnchannels(2)
                w.setsampwidth(2)
                w.setframerate(44100)
                w.writeframes(struct.pack("<4h", 100, 300, -1000, -3000))
            x, rate = se.read_mono(path)
            self.assertEqual((x, rate), ([200.0, -2000.0], 44100))
        finally:
            os.unlink(path)


if __name__ == "__main__":
    unittest.main()
