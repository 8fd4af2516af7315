#!/usr/bin/env bash
# The aarch64 compiler fuses multiply and add by default; the build turns that off, since results
# are defined with a separate rounding after every multiply and add. None of the scalar (fmadd,
# fmsub, fnmadd, fnmsub) or vector (fmla, fmls) fused instructions may appear.
set -euo pipefail
plugin=$1
pattern='\s(fmadd|fmsub|fnmadd|fnmsub|fmla|fmls)\s'
fused=$(aarch64-linux-gnu-objdump -d --no-show-raw-insn "$plugin" | grep -c -E "$pattern" || true)
if [ "$fused" != "0" ]; then
    echo "$plugin contains $fused fused multiply-add instructions:"
    aarch64-linux-gnu-objdump -d --no-show-raw-insn "$plugin" | grep -E "$pattern" | head
    exit 1
fi
echo "ok: no fused multiply-add in $plugin"
