#!/usr/bin/env bash
# Installs what is missing, builds the benchmarks (Release) and runs them. The tables at the end
# give our transform's time as a ratio to FFTW's and the pitch estimate's share of a block.
# Arguments go to the benchmark binary (default: medians of 5 repetitions).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh bench
cmake -S . -B build/bench -G Ninja -DATTACKSCOPE_BENCH=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/bench -j2 --target attackscope_bench
if [ $# -eq 0 ]; then
    set -- --benchmark_repetitions=5 --benchmark_display_aggregates_only=true
fi
exec build/bench/bench/attackscope_bench "$@"
