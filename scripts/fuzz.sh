#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer, and
# runs each for the given time (default 60 s), one after the other, starting from a copy of the
# committed corpus. Fails on any crash, sanitizer report, timeout or broken invariant; the input
# that caused it is left in build/fuzz/artifacts/.
#   fuzz.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
case $seconds in
'' | *[!0-9]*) echo "usage: $0 [seconds]" >&2; exit 2 ;;
esac

scripts/install-deps.sh test
CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DATTACKSCOPE_FUZZ=ON \
    -DATTACKSCOPE_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/fuzz -j2 --target fuzz_object fuzz_dsp fuzz_position

# Longest inputs: a few hundred operations for the object, one routine call for the dsp target.
declare -A max_len=([object]=2048 [dsp]=4096 [position]=2048)
status=0
for target in object dsp position; do
    work=build/fuzz/work/$target
    artifacts=build/fuzz/artifacts
    rm -rf "$work"
    mkdir -p "$work" "$artifacts"
    cp fuzz/corpus/$target/* "$work"/
    log=build/fuzz/$target.log
    echo "fuzz_$target: ${seconds} s from $(ls "$work" | wc -l) corpus files (log: $log)"
    if ./build/fuzz/fuzz/fuzz_$target -max_total_time="$seconds" -max_len="${max_len[$target]}" \
        -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/$target-" "$work" >"$log" 2>&1; then
        grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true
        grep -E '^stat::(number_of_executed_units|average_exec_per_sec)' "$log" || true
    else
        echo "fuzz_$target FAILED:" >&2
        grep -E 'invariant violated|ERROR:|runtime error|Test unit written' "$log" | head -8 >&2
        echo "--- the end of $log:" >&2
        tail -40 "$log" >&2
        status=1
    fi
done
exit $status
