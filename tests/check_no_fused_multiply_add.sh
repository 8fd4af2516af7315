#!/usr/bin/env bash
# Results are defined with a separate rounding after every multiply and add. The vector code paths
# are compiled for units that have fused multiply-add; none of those instructions may appear.
set -euo pipefail
plugin=$1
fused=$(objdump -d --no-show-raw-insn "$plugin" | grep -c -E '\bv?f(n)?m(add|sub)(sub|add)?[0-9]{3}' || true)
if [ "$fused" != "0" ]; then
    echo "$plugin contains $fused fused multiply-add instructions:"
    objdump -d --no-show-raw-insn "$plugin" | grep -E '\bv?f(n)?m(add|sub)(sub|add)?[0-9]{3}' | head
    exit 1
fi
echo "ok: no fused multiply-add in $plugin"
