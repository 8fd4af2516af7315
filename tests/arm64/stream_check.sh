#!/usr/bin/env bash
# Plays the plucked recording through attackscope~ in the host's pd with the host's plug-ins and
# in the arm64 pd (under qemu) with the arm64 plug-ins, and requires every energy and shape ratio
# sent to be the same float, bit for bit, at blocks of 2048 and 512 samples.
#   stream_check.sh HOST_PLUGIN_DIR ARM64_PLUGIN_DIR     (env: ARM64_PD; HOST_PD, default pd)
set -uo pipefail
host_plugins=$1 arm_plugins=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run() { # name pd-command plugin-dir
    mkdir -p "$work/$1"
    cp "$here/stream_values.pd" "$host_plugins/plucks.wav" "$work/$1/"
    (cd "$work/$1" && timeout 300 $2 -nrt -nogui -noaudio -batch -stderr -path "$3" \
        -open stream_values.pd) 2>&1 | grep -v -E '^verbose\(|^$' >"$work/$1.out"
}
run host "${HOST_PD:-pd}" "$host_plugins"
run arm64 "$here/qemu_pd.sh" "$arm_plugins"

status=0
for side in host arm64; do
    if grep -q -i -E "error|couldn't create|fail" "$work/$side.out"; then
        echo "FAIL: $side pd reported:"; cat "$work/$side.out"; status=1
    fi
done
if ! diff -u "$work/host.out" "$work/arm64.out"; then
    echo "FAIL: the two pd printed different counts"; status=1
fi
# Every stream must have sent something, or the comparison proves nothing.
for name in energies-2048 ratios-2048 energies-512 ratios-512; do
    count=$(awk -v n="$name" '$1 == "count:" && $2 == n {print $3}' "$work/host.out")
    if [ -z "$count" ] || [ "$count" -eq 0 ]; then
        echo "FAIL: no $name sent"; status=1
    fi
    if ! cmp "$work/host/$name.wav" "$work/arm64/$name.wav"; then
        echo "FAIL: $name differ between the x86-64 and the arm64 build"; status=1
    fi
done
[ $status -eq 0 ] && { echo "ok: the same floats on both builds:"; grep '^count:' "$work/host.out"; }
exit $status
