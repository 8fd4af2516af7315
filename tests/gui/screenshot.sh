#!/usr/bin/env bash
# Redraws the help patches' pictures in docs/ from a build's plug-ins and help patches, in the
# same virtual-X run that checks their layout:
#   tests/gui/screenshot.sh [BUILD_DIR]   (default: build)
# The attackscope~ help is taken while its example plays, on the third of the ideal strings.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
scripts/install-deps.sh screenshot
tests/gui/layout.sh "$build/pd" "$build/pd/attackscope~-help.pd" \
    --shot docs/attackscope-help.png --dsp-ms 2600
tests/gui/layout.sh "$build/pd" "$build/pd/beatspan-help.pd" --shot docs/beatspan-help.png
ls -l docs/attackscope-help.png docs/beatspan-help.png
