#!/usr/bin/env bash
# Installs what is missing, builds the plug-ins and runs the demo patch in Pd without a sound card.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release
cd demo
exec pd -nrt -nogui -noaudio -batch -stderr -path ../build/release/pd -open demo.pd
