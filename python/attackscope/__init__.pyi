"""The analysis of the Pd object attackscope~ on numpy arrays and sound files."""

import os
from typing import Any, Optional, Tuple, Union

import numpy as np
import numpy.typing as npt

EVENT_DTYPE: np.dtype
NOTE_DTYPE: np.dtype
ENERGY_DTYPE: np.dtype

class Analysis:
    """What one analysis found: events, notes and energies as structured arrays."""

    events: np.ndarray
    """onset_block i8, onset_s f8, onset_energy f4, f0 f8, outcome U7, sent f4, ratio f8"""
    notes: np.ndarray
    """onset_s f8, onset_block i8, position f8, f0 f8, confidence f8, other_comb f8"""
    energies: np.ndarray
    """block i8, onset_s f8, energy f4"""
    sample_rate: int
    """the rate of the analysed stream, Hz (44100 after resampling)"""
    source_rate: int
    """the rate of the input, Hz"""
    audio_seconds: float
    """the length of the analysed stream, s"""
    def __init__(
        self,
        events: np.ndarray,
        notes: np.ndarray,
        energies: np.ndarray,
        sample_rate: int,
        source_rate: int,
        audio_seconds: float,
    ) -> None: ...
    @property
    def resampled(self) -> bool: ...
    def to_pandas(self) -> Tuple[Any, Any, Any]:
        """The events, notes and energies as three pandas DataFrames (needs pandas)."""

def analyse(
    samples: Union[npt.NDArray[np.float32], npt.NDArray[np.float64]],
    sample_rate: int,
    *,
    block: int = 2048,
    onset_factor: float = 10,
    peak_factor: float = 8,
    floor: float = 0,
    holdoff: float = 5,
    filter: float = 1,
    two_valued: bool = False,
    position: bool = False,
    pickup: Optional[float] = None,
    energies: bool = False,
    resample: bool = True,
) -> Analysis:
    """Runs the engine of attackscope~ over a 1-D float32 or float64 array at sample_rate Hz."""

def analyse_file(
    path: Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"],
    *,
    block: int = 2048,
    onset_factor: float = 10,
    peak_factor: float = 8,
    floor: float = 0,
    holdoff: float = 5,
    filter: float = 1,
    two_valued: bool = False,
    position: bool = False,
    pickup: Optional[float] = None,
    energies: bool = False,
    resample: bool = True,
    channel: Optional[int] = None,
) -> Analysis:
    """Runs the engine of attackscope~ over a sound file, as the program attackscope does."""
