#!/usr/bin/env bash
# Installs what is missing, builds everything with the tests and runs them all.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
cmake -S . -B build/test -G Ninja -DATTACKSCOPE_TESTS=ON >/dev/null
cmake --build build/test
ctest --test-dir build/test --output-on-failure -j2
