#!/usr/bin/env bash
# A plug-in must export its setup entry and nothing else (linker-defined symbols aside).
set -euo pipefail
plugin=$1 entry=$2
exported=$(nm -D --defined-only "$plugin" | awk '{print $3}' |
    grep -v -x -E '_init|_fini|_edata|_end|__bss_start' || true)
if [ "$exported" != "$entry" ]; then
    echo "expected only $entry exported from $plugin, found:"; echo "$exported"; exit 1
fi
echo "ok: $plugin exports only $entry"
