"""The analysis of the Pd object attackscope~ on numpy arrays and sound files.

``analyse`` runs the engine over an array of samples, ``analyse_file`` over a sound file, each as
the command-line program ``attackscope`` does, and both return an :class:`Analysis` whose
structured arrays hold, bit for bit, the values the program prints.
"""

from __future__ import annotations

import errno
import os
from dataclasses import dataclass
from typing import Optional

import numpy as np

from . import _attackscope

__all__ = ["Analysis", "analyse", "analyse_file", "EVENT_DTYPE", "NOTE_DTYPE", "ENERGY_DTYPE"]

#: One record per analysed event, as the program's event rows.
EVENT_DTYPE = np.dtype(
    [
        ("onset_block", np.int64),
        ("onset_s", np.float64),
        ("onset_energy", np.float32),
        ("f0", np.float64),
        ("outcome", "U7"),
        ("sent", np.float32),
        ("ratio", np.float64),
    ]
)
#: One record per note of the pluck-position estimate.
NOTE_DTYPE = np.dtype(
    [
        ("onset_s", np.float64),
        ("onset_block", np.int64),
        ("position", np.float64),
        ("f0", np.float64),
        ("confidence", np.float64),
        ("other_comb", np.float64),
    ]
)
#: One record per measured (gate) block.
ENERGY_DTYPE = np.dtype([("block", np.int64), ("onset_s", np.float64), ("energy", np.float32)])

# In the order of the extension's outcome codes.
_OUTCOMES = np.array(["ratio", "dropped", "clip", "none"], dtype="U7")


@dataclass(frozen=True)
class Analysis:
    """What one analysis found.

    events: one record per event row of the program (EVENT_DTYPE): ``onset_block``, ``onset_s``
        (the onset block's first sample, s), ``onset_energy`` (float32, energy x 100 of the onset
        block), ``f0`` (Hz), ``outcome`` ("ratio", "dropped" above 1500 Hz, "clip"), ``sent``
        (float32, the shape-ratio outlet's value) and ``ratio`` (the accepted shape ratio); NaN in
        ``sent`` and ``ratio`` unless the outcome is "ratio".
    notes: with position=True, one record per note (NOTE_DTYPE): ``onset_s`` (the release, s),
        ``onset_block``, ``position`` (fraction of the length from the nearer end), ``f0`` (Hz),
        ``confidence`` (0 to 1) and ``other_comb`` (a second comb, 0 when none); else empty.
    energies: with energies=True, one record per measured block (ENERGY_DTYPE): ``block``,
        ``onset_s`` and ``energy`` (float32, energy x 100); else empty.
    sample_rate: the rate of the analysed stream, Hz (44100 after resampling).
    source_rate: the rate of the input, Hz.
    audio_seconds: the length of the analysed stream, s.
    """

    events: np.ndarray
    notes: np.ndarray
    energies: np.ndarray
    sample_rate: int
    source_rate: int
    audio_seconds: float

    @property
    def resampled(self) -> bool:
        """Whether the input was resampled to 44100 Hz."""
        return self.sample_rate != self.source_rate

    def to_pandas(self):
        """The events, notes and energies as three pandas DataFrames (needs pandas)."""
        import pandas as pd

        return tuple(pd.DataFrame(a) for a in (self.events, self.notes, self.energies))


def _records(columns: dict, dtype: np.dtype) -> np.ndarray:
    n = len(next(iter(columns.values())))
    out = np.empty(n, dtype=dtype)
    for name, values in columns.items():
        out[name] = _OUTCOMES[values] if name == "outcome" else values
    return out


def _analysis(raw: dict) -> Analysis:
    return Analysis(
        events=_records(raw["events"], EVENT_DTYPE),
        notes=_records(raw["notes"], NOTE_DTYPE),
        energies=_records(raw["energies"], ENERGY_DTYPE),
        sample_rate=raw["rate"],
        source_rate=raw["source_rate"],
        audio_seconds=raw["audio_seconds"],
    )


def _number(value) -> str:
    # repr gives the shortest decimal that reads back to the same double, as the program reads it.
    return repr(float(value))


def _whole(value) -> str:
    # Anything but an integer goes as its text, for the program's parser to refuse as it would.
    return str(int(value)) if isinstance(value, (int, np.integer)) else str(value)


def _arguments(block, onset_factor, peak_factor, floor, holdoff, filter, two_valued, position,
               pickup, energies, resample, channel=None) -> list:
    args = ["--block", _whole(block)]
    for name, value in (("--onset-factor", onset_factor), ("--peak-factor", peak_factor),
                        ("--floor", floor), ("--holdoff", holdoff), ("--filter", filter)):
        args += [name, _number(value)]
    if two_valued:
        args.append("--two-valued")
    if position:
        args.append("--position")
    if pickup is not None:
        args += ["--pickup", _number(pickup)]
    if energies:
        args.append("--energies")
    if not resample:
        args.append("--no-resample")
    if channel is not None:
        args += ["--channel", _whole(channel)]
    return args


def analyse(samples: np.ndarray, sample_rate: int, *, block: int = 2048,
            onset_factor: float = 10, peak_factor: float = 8, floor: float = 0,
            holdoff: float = 5, filter: float = 1, two_valued: bool = False,
            position: bool = False, pickup: Optional[float] = None, energies: bool = False,
            resample: bool = True) -> Analysis:
    """Runs the engine of attackscope~ over a mono recording, as the program runs over a file.

    samples: a 1-D numpy array of float32 or float64 (float64 is rounded once to float32, the
        samples the engine takes); copied before the analysis, which releases the GIL.
    sample_rate: its rate, Hz. At another rate than 44100 Hz the samples are resampled to 44100
        Hz first (libsoxr, high quality, as the program does) unless resample=False; the position
        estimate runs at the rate of the analysed stream.
    block: samples per block, 1 to 2048 (the subpatch's block~).
    onset_factor, peak_factor, floor, holdoff, filter: the values of the object's inlets 1 to 5
        (stored as Pd stores a typed number: the decimal as a double, then single precision).
    two_valued: the two-valued ratio output (inlet 6 set to 1).
    position: also estimate each note's pluck position (the notes array).
    pickup: a known pickup position, above 0 and at most 0.5 (needs position=True).
    energies: also a record for every measured block (the energies array).
    resample: False analyses the samples at their own rate as they stand.

    The stream is cut into whole blocks from its first sample; the samples after the last whole
    block are not analysed. Raises ValueError for an array of another shape or dtype, a bad
    sample rate, or a bad option (with the reason the program prints).
    """
    _check_rate(sample_rate)
    args = _arguments(block, onset_factor, peak_factor, floor, holdoff, filter, two_valued,
                      position, pickup, energies, resample)
    if not isinstance(samples, np.ndarray):
        raise ValueError(f"samples must be a 1-D numpy array, got {type(samples).__name__}")
    raw = _attackscope.analyse_samples(samples, int(sample_rate), args)
    if raw["error"]:
        raise ValueError(raw["error"])
    return _analysis(raw)


def analyse_file(path, *, block: int = 2048, onset_factor: float = 10, peak_factor: float = 8,
                 floor: float = 0, holdoff: float = 5, filter: float = 1,
                 two_valued: bool = False, position: bool = False,
                 pickup: Optional[float] = None, energies: bool = False, resample: bool = True,
                 channel: Optional[int] = None) -> Analysis:
    """Runs the engine of attackscope~ over a sound file, as the program ``attackscope`` does.

    path: a file libsndfile reads (WAV, AIFF, FLAC, Ogg/Vorbis, ...), as str, bytes or a path.
    channel: analyse channel K only, counting from 1; None (default) takes the mean of all
        channels (summed in double precision, rounded once to a float sample).
    The other options are those of :func:`analyse`. A file at another rate than 44100 Hz is
    resampled to it with libsoxr unless resample=False.

    Raises FileNotFoundError for a missing file, OSError with libsndfile's reason for one that
    cannot be opened or decoded, ValueError for a bad option (with the program's reason).
    """
    args = _arguments(block, onset_factor, peak_factor, floor, holdoff, filter, two_valued,
                      position, pickup, energies, resample, channel)
    name = os.fsencode(path)
    raw = _attackscope.analyse_file(name, args)
    if raw["error"]:
        if not os.path.exists(name):
            raise FileNotFoundError(errno.ENOENT, raw["error"], os.fsdecode(name))
        raise OSError(f"{os.fsdecode(name)}: {raw['error']}")
    return _analysis(raw)


def _check_rate(sample_rate) -> None:
    if isinstance(sample_rate, bool) or not isinstance(sample_rate, (int, np.integer)):
        raise ValueError(f"sample_rate must be a whole number of Hz, got {sample_rate!r}")
    if not 1 <= sample_rate <= 2**31 - 1:
        raise ValueError(f"sample_rate must be 1 to 2147483647 Hz, got {sample_rate}")
