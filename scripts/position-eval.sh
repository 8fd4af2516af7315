#!/usr/bin/env bash
# Builds (Release) and runs the accuracy evaluation of the pluck-position estimate: the tables on
# modelled strings (finger, stiffness, body, pickup, noise, a ringing string), then the ideal
# strings kept as a regression. About two minutes. Arguments go to the modelled evaluation
# (--seed S --count N --misses).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh bench sampled
cmake -S . -B build/bench -G Ninja -DATTACKSCOPE_BENCH=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/bench -j2 --target position_eval position_model_eval
build/bench/bench/position_model_eval "$@"
# Seeds kept apart from the method's shaping (its last changes were checked on them, never
# tuned to them): what to expect of strings it has not seen.
for seed in 4 5 6 7 8 9 10 11 12 13 14 15; do
    echo
    build/bench/bench/position_model_eval --brief --seed "$seed"
done
build/bench/bench/position_eval

# Sampled instruments: a General MIDI sound font rendered by the synthesiser (both as Debian
# ships them, installed above); the evaluation says so and skips them when either is missing. Renders go to
# build/bench/sampled.
cmake --build build/bench -j2 --target attackscope_cli
python3 bench/position/test_sampled_eval.py
python3 bench/position/test_compare_notes.py
python3 bench/position/sampled_eval.py --cli build/bench/bin/attackscope --out build/bench/sampled
