#!/usr/bin/env bash
# Builds (Release) and runs the accuracy evaluation of the pluck-position estimate: tables of
# position error, f0 error, latency and confidence on generated notes. About a minute.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh bench
cmake -S . -B build/bench -G Ninja -DATTACKSCOPE_BENCH=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/bench -j2 --target position_eval
exec build/bench/bench/position_eval "$@"
