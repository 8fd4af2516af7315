#!/usr/bin/env bash
# Reads the disassembly of a Windows plug-in:
# - no fused multiply-add: results are defined with a separate rounding after every multiply and
#   add, and the AVX2 and AVX-512 builds of the hot loops are compiled for units that have it;
# - no aligned move of a 32- or 64-byte register to or from the stack: Windows aligns the stack to
#   16 bytes only, so such a move could fault in the vector builds;
# - and both vector builds are there (ymm and zmm registers), or the first two prove nothing.
#   check_disassembly.sh PLUGIN.dll
set -uo pipefail
plugin=$1
code=$(x86_64-w64-mingw32-objdump -d --no-show-raw-insn "$plugin") || { echo "FAIL: objdump"; exit 1; }
status=0
fused=$(grep -E '\bv?f(n)?m(add|sub)(sub|add)?[0-9]{3}' <<<"$code")
if [ -n "$fused" ]; then
    echo "FAIL: $plugin contains $(wc -l <<<"$fused") fused multiply-add instructions:"
    head <<<"$fused"; status=1
fi
aligned=$(grep -E '\svmov(ap[sd]|dqa(32|64)?)\s' <<<"$code" | grep -E '%[yz]mm' | grep -E '\(%r[sb]p\)')
if [ -n "$aligned" ]; then
    echo "FAIL: $plugin moves wide registers to or from the stack with aligned moves:"
    head <<<"$aligned"; status=1
fi
for reg in ymm zmm; do
    grep -q "%$reg" <<<"$code" || { echo "FAIL: no $reg register in $plugin"; status=1; }
done
[ $status -eq 0 ] && echo "ok: $plugin: $(wc -l <<<"$code") lines of code with AVX2 and AVX-512 builds, no fused multiply-add, no aligned wide moves on the stack"
exit $status
