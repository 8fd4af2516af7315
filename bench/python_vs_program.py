#!/usr/bin/env python3
"""The Python module beside the program on one recording, both on one core.

    python_vs_program.py --program BUILD/bin/attackscope --recording FILE.wav [--runs N]
        [--block N] [--position] [--core K]

Run it with the interpreter of the venv the module is installed in (scripts/bench.sh builds the
ten-minute recording, BUILD/bench/stream/ten_minutes_16bit.wav). Each run times the program as a
user starts it (process start and decoding included, rows to /dev/null, --jobs 1) and
analyse_file on the same file in this process (rows into arrays); the two alternate, so a busy
moment of the machine falls on both. Prints the medians and the module's time as a share of the
program's; exits 1 when the module is more than 10% slower or their row counts differ.
"""

import argparse
import os
import statistics
import subprocess
import sys
import time

import attackscope


def time_program(program, args):
    start = time.perf_counter()
    done = subprocess.run([program, "--jobs", "1", *args], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start, done.stdout


def time_module(path, options):
    start = time.perf_counter()
    result = attackscope.analyse_file(path, **options)
    return time.perf_counter() - start, result


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--recording", required=True)
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--block", type=int, default=2048)
    parser.add_argument("--position", action="store_true")
    parser.add_argument("--core", type=int, help="the core to run on (default: the last)")
    a = parser.parse_args()

    core = a.core if a.core is not None else max(os.sched_getaffinity(0))
    os.sched_setaffinity(0, {core})  # the program inherits it
    options = dict(block=a.block, position=a.position)
    args = ["--block", str(a.block)] + (["--position"] * a.position) + [a.recording]

    _, text = time_program(a.program, args)  # warm the file cache and the code
    _, result = time_module(a.recording, options)
    program_rows = text.decode().count("\n") - 1
    module_rows = len(result.events) + len(result.notes)
    if program_rows != module_rows:
        print(f"rows differ: program {program_rows}, module {module_rows}", file=sys.stderr)
        return 1

    program_times, module_times = [], []
    for _ in range(a.runs):
        program_times.append(time_program(a.program, args)[0])
        module_times.append(time_module(a.recording, options)[0])
    p, m = statistics.median(program_times), statistics.median(module_times)
    seconds = result.audio_seconds
    print(f"recording: {a.recording} ({seconds:.1f} s of audio), blocks of {a.block}"
          f"{', position' if a.position else ''}, core {core}, {a.runs} runs, {module_rows} rows")
    for name, times in (("program", program_times), ("module", module_times)):
        median = statistics.median(times)
        print(f"{name:9} median {median * 1000:8.1f} ms  (min {min(times) * 1000:.1f})"
              f"  {seconds / median:7.0f}x real time")
    print(f"module / program: {m / p:.3f} ({'within' if m <= 1.1 * p else 'NOT within'} 10%)")
    return 0 if m <= 1.1 * p else 1


if __name__ == "__main__":
    sys.exit(main())
