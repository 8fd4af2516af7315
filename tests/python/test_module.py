"""The module against the program: the same rows, the same errors, threads and the float mode."""

import errno
import threading

import numpy as np
import pytest

import attackscope
from conftest import RATE, clipped, plucks, run_program, silence, write_wav


def single(v):
    return "%.9g" % float(v)


def double(v):
    return "%.17g" % float(v)


def printed(result):
    """The module's records as the program prints them, per kind of row."""
    events = [
        {
            "onset_block": str(e["onset_block"]),
            "onset_s": double(e["onset_s"]),
            "onset_energy": single(e["onset_energy"]),
            "f0": double(e["f0"]),
            "outcome": str(e["outcome"]),
            "sent": single(e["sent"]) if e["outcome"] == "ratio" else "",
            "ratio": double(e["ratio"]) if e["outcome"] == "ratio" else "",
        }
        for e in result.events
    ]
    notes = [
        {
            "onset_block": str(n["onset_block"]),
            "onset_s": double(n["onset_s"]),
            "position": double(n["position"]),
            "position_f0": double(n["f0"]),
            "confidence": double(n["confidence"]),
            "other_comb": double(n["other_comb"]),
        }
        for n in result.notes
    ]
    energies = [
        {
            "onset_block": str(g["block"]),
            "onset_s": double(g["onset_s"]),
            "sent": single(g["energy"]),
        }
        for g in result.energies
    ]
    return events, notes, energies


def program_rows(program, path, args):
    rows, err, status = run_program(program, [*args, str(path)])
    assert status == 0, err
    pick = lambda row, keys: {k: row[k] for k in keys}
    events = [pick(r, printed_event_keys) for r in rows if r["outcome"] not in ("note", "energy")]
    notes = [pick(r, printed_note_keys) for r in rows if r["outcome"] == "note"]
    energy_keys = ("onset_block", "onset_s", "sent")
    energies = [pick(r, energy_keys) for r in rows if r["outcome"] == "energy"]
    return events, notes, energies


printed_event_keys = ("onset_block", "onset_s", "onset_energy", "f0", "outcome", "sent", "ratio")
printed_note_keys = (
    "onset_block", "onset_s", "position", "position_f0", "confidence", "other_comb"
)


def same_records(a, b):
    for name in ("events", "notes", "energies"):
        x, y = getattr(a, name), getattr(b, name)
        assert x.dtype == y.dtype and len(x) == len(y), name
        assert x.tobytes() == y.tobytes(), name  # NaN included, bit for bit


RECORDINGS = {
    "plucks": (plucks, RATE, False),
    "plucks_pcm16": (plucks, RATE, True),
    "clip": (clipped, RATE, True),  # -32768 reads back as exactly -1
    "silence": (silence, RATE, False),
    "plucks_48k": (lambda: plucks(48000), 48000, False),
}


@pytest.mark.parametrize("block", [64, 512, 2048])
@pytest.mark.parametrize("name", list(RECORDINGS))
def test_rows_equal_the_programs(program, tmp_path, name, block):
    make, rate, pcm16 = RECORDINGS[name]
    path = tmp_path / f"{name}.wav"
    samples = write_wav(path, make(), rate, pcm16)
    options = dict(block=block, position=True, energies=block == 512)
    args = ["--block", str(block), "--position"] + (["--energies"] if block == 512 else [])

    from_file = attackscope.analyse_file(path, **options)
    assert printed(from_file) == program_rows(program, path, args)
    same_records(attackscope.analyse(samples, rate, **options), from_file)
    assert from_file.sample_rate == RATE and from_file.source_rate == rate
    if name.startswith("plucks"):  # blocks of 64 are too short for a shape ratio
        assert (from_file.events["outcome"] == "ratio").any() == (block > 64)
        assert len(from_file.notes) > 0
    if name == "clip" and block > 64:  # at 64 every event is dropped before the clip check
        assert (from_file.events["outcome"] == "clip").any()


@pytest.mark.parametrize(
    "options, args, rate",
    [
        (dict(onset_factor=4.5, peak_factor=3, floor=0.25, holdoff=2, filter=0),
         "--onset-factor 4.5 --peak-factor 3 --floor 0.25 --holdoff 2 --filter 0", RATE),
        (dict(onset_factor=0.1 + 0.2), "--onset-factor 0.30000000000000004", RATE),
        (dict(two_valued=True, filter=2), "--two-valued --filter 2", RATE),
        (dict(position=True, pickup=0.05), "--position --pickup 0.05", RATE),
        (dict(resample=False), "--no-resample", 48000),
    ],
)
def test_options_reach_the_engine_as_the_programs(program, tmp_path, options, args, rate):
    path = tmp_path / "plucks.wav"
    write_wav(path, plucks(rate), rate)
    result = attackscope.analyse_file(path, **options, block=512)
    assert printed(result) == program_rows(program, path, ["--block", "512", *args.split()])
    assert result.sample_rate == rate and not result.resampled


def test_a_float64_array_is_rounded_once_to_float32():
    x = plucks()
    as_float32 = attackscope.analyse(x.astype(np.float32), RATE, block=512)
    same_records(attackscope.analyse(x, RATE, block=512), as_float32)
    # a strided view is read as the values it shows
    y = np.repeat(x.astype(np.float32), 2)[::2]
    same_records(attackscope.analyse(y, RATE, block=512), as_float32)


@pytest.mark.parametrize(
    "samples, rate, words",
    [
        (np.zeros((2, 100), np.float32), RATE, "1-D"),
        (np.zeros(100, np.int16), RATE, "int16"),
        (np.zeros(100, np.float16), RATE, "float16"),
        ([0.0] * 100, RATE, "list"),
        (np.zeros(100, np.float32), 0, "0"),
        (np.zeros(100, np.float32), 44100.0, "44100.0"),
    ],
)
def test_bad_samples_are_refused_by_name(samples, rate, words):
    with pytest.raises(ValueError, match=words):
        attackscope.analyse(samples, rate)


@pytest.mark.parametrize(
    "options, args",
    [
        (dict(block=0), ["--block", "0"]),
        (dict(block=4096), ["--block", "4096"]),
        (dict(floor=float("nan")), ["--floor", "nan"]),
        (dict(onset_factor=float("inf")), ["--onset-factor", "inf"]),
        (dict(position=True, pickup=0.7), ["--position", "--pickup", "0.7"]),
        (dict(pickup=0.2), ["--pickup", "0.2"]),
        (dict(channel=0), ["--channel", "0"]),
    ],
)
def test_bad_options_give_the_programs_reason(program, tmp_path, options, args):
    path = tmp_path / "silence.wav"
    write_wav(path, silence(), RATE)
    _, err, status = run_program(program, [*args, str(path)])
    assert status == 2
    with pytest.raises(ValueError) as raised:
        attackscope.analyse_file(path, **options)
    assert "attackscope: " + str(raised.value) == err.splitlines()[0]
    if "channel" not in options:
        with pytest.raises(ValueError, match=str(raised.value).split(":")[0]):
            attackscope.analyse(silence(), RATE, **options)


def test_unreadable_files_raise_oserror_with_the_readers_reason(program, tmp_path):
    missing = tmp_path / "missing.wav"
    with pytest.raises(FileNotFoundError) as raised:
        attackscope.analyse_file(missing)
    assert raised.value.errno == errno.ENOENT and raised.value.filename == str(missing)

    for path, content in ((tmp_path / "text.wav", "not a sound"), (tmp_path / "mono.wav", None)):
        if content is None:
            write_wav(path, silence(), RATE)
            extra = dict(channel=3)
        else:
            path.write_text(content)
            extra = {}
        _, err, status = run_program(program, ["--channel", "3"] * bool(extra) + [str(path)])
        assert status == 1
        with pytest.raises(OSError) as raised:
            attackscope.analyse_file(path, **extra)
        assert not isinstance(raised.value, FileNotFoundError)
        assert err.splitlines()[0] == "attackscope: " + str(raised.value)


def test_two_threads_give_what_each_gives_alone(tmp_path):
    paths = [tmp_path / "a.wav", tmp_path / "b.wav"]
    write_wav(paths[0], plucks(seconds=8, seed=3), RATE)
    write_wav(paths[1], plucks(48000, seconds=8, seed=4), 48000)
    options = dict(block=256, position=True, energies=True)
    alone = [attackscope.analyse_file(p, **options) for p in paths]
    together = [None, None]

    def work(i):
        together[i] = attackscope.analyse_file(paths[i], **options)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for a, b in zip(alone, together):
        same_records(a, b)


def test_the_callers_float_mode_is_kept():
    core = attackscope._attackscope
    tiny = np.float32(1e-38)
    for call in (lambda: attackscope.analyse(plucks(seconds=2), RATE, block=512, position=True),
                 lambda: attackscope.analyse(np.zeros(10, np.float32), RATE)):
        before = core._mxcsr()
        call()
        assert core._mxcsr() & 0xFFC0 == before & 0xFFC0  # control bits; the low six are flags
        assert tiny / np.float32(10) != 0  # numpy still computes subnormals


def test_events_mark_what_the_program_leaves_empty():
    result = attackscope.analyse(clipped(), RATE, block=512)
    measured = result.events["outcome"] == "ratio"
    assert np.isnan(result.events["sent"][~measured]).all()
    assert np.isnan(result.events["ratio"][~measured]).all()
    assert not np.isnan(result.events["sent"][measured]).any()
    assert len(result.notes) == 0 and len(result.energies) == 0
