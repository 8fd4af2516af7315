"""Recordings made by the tests, and the program the module must agree with."""

import csv
import io
import os
import struct
import subprocess

import numpy as np
import pytest

RATE = 44100


def plucks(rate=RATE, seconds=4.0, seed=1):
    """Decaying harmonic tones with a string's comb (plucked at 0.2 to 0.35), one every 0.9 s."""
    rng = np.random.default_rng(seed)
    t = np.arange(int(rate * seconds)) / rate
    x = np.zeros_like(t)
    for start, f0 in zip(np.arange(0.3, seconds - 0.5, 0.9), (196.0, 110.0, 330.0, 440.0, 147.0)):
        beta = rng.uniform(0.2, 0.35)
        on = t >= start
        tt = t[on] - start
        for n in range(1, 16):
            if n * f0 > rate / 2.5:
                break
            comb = np.sin(np.pi * n * beta)
            x[on] += 0.3 / n * comb * np.sin(2 * np.pi * n * f0 * tt) * np.exp(-tt * (2 + n))
    return x


def clipped(rate=RATE):
    """Plucks driven into the rails: samples of exactly -1 and +1."""
    return np.clip(plucks(rate, 3.0, seed=2) * 6.0, -1.0, 1.0)


def silence(rate=RATE):
    return np.zeros(rate * 2)


def write_wav(path, samples, rate, pcm16=False):
    """A mono WAV: 32-bit float, or 16-bit PCM through the standard library's writer."""
    samples = np.asarray(samples)
    if pcm16:
        import wave

        ints = np.clip(np.round(samples * 32768.0), -32768, 32767).astype("<i2")
        with wave.open(str(path), "wb") as w:
            w.setnchannels(1)
            w.setsampwidth(2)
            w.setframerate(rate)
            w.writeframes(ints.tobytes())
        return (ints / 32768.0).astype(np.float32)  # what a reader of the file gets
    data = samples.astype("<f4").tobytes()
    fmt = struct.pack("<HHIIHH", 3, 1, rate, rate * 4, 4, 32)  # IEEE float, mono
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 4 + 8 + len(fmt) + 8 + len(data)) + b"WAVE")
        f.write(b"fmt " + struct.pack("<I", len(fmt)) + fmt)
        f.write(b"data" + struct.pack("<I", len(data)) + data)
    return samples.astype(np.float32)


@pytest.fixture(scope="session")
def program():
    path = os.environ.get("ATTACKSCOPE_BIN")
    if not path or not os.access(path, os.X_OK):
        pytest.skip("set ATTACKSCOPE_BIN to the attackscope program")
    return path


def run_program(program, args):
    """The program's rows as dicts of printed text, and its stderr."""
    done = subprocess.run([program, "--jobs", "1", *args], capture_output=True, text=True)
    return list(csv.DictReader(io.StringIO(done.stdout))), done.stderr, done.returncode
