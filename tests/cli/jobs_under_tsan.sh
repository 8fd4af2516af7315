#!/usr/bin/env bash
# The program built with ThreadSanitizer analyses several files on four threads, with the
# position estimate on: no report, exit status 0, and the rows of --jobs 1.
#   jobs_under_tsan.sh TSAN_PROGRAM RECORDINGS_DIR
set -uo pipefail
program=$1 recordings=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
files=()
for i in 1 2 3; do
    for name in plucks strings; do
        cp "$recordings/$name.wav" "$work/$name-$i.wav"
        files+=("$work/$name-$i.wav")
    done
done
export TSAN_OPTIONS="halt_on_error=1 exitcode=66"
"$program" --jobs 4 --position "${files[@]}" >"$work/four.csv" 2>"$work/four.err"
rc=$?
if [ $rc -ne 0 ] || grep -q ThreadSanitizer "$work/four.err"; then
    echo "FAIL: --jobs 4 exited with status $rc"
    cat "$work/four.err"
    exit 1
fi
"$program" --jobs 1 --position "${files[@]}" >"$work/one.csv" 2>/dev/null
if ! cmp -s "$work/one.csv" "$work/four.csv"; then
    echo "FAIL: --jobs 4 printed other rows than --jobs 1"
    diff "$work/one.csv" "$work/four.csv" | head -20
    exit 1
fi
echo "ok: $(($(wc -l <"$work/four.csv") - 1)) rows from ${#files[@]} files on four threads, no report"
