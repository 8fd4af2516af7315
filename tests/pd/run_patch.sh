#!/usr/bin/env bash
# Runs a patch in the real pd binary (batch mode, no audio device) and checks what it prints.
#   run_patch.sh PLUGIN_DIR PATCH EXPECTED [ALLOWED_ERRORS_REGEX]
# Fails on a timeout, on "couldn't create", on any error line not matched by the regex, and on
# printed lines that differ from EXPECTED (Pd's own "verbose(...)" chatter is ignored).
set -uo pipefail
plugin_dir=$1 patch=$2 expected=$3 allowed=${4:-'^$'}
pd_bin=${PD_BIN:-pd}
out=$(mktemp)
trap 'rm -f "$out"' EXIT

cd "$(dirname "$patch")" || exit 1
timeout "${PD_TIMEOUT:-120}" "$pd_bin" -nrt -nogui -noaudio -batch -stderr -path "$plugin_dir" \
    -open "$(basename "$patch")" >"$out" 2>&1
rc=$?
status=0
if [ $rc -ne 0 ]; then
    echo "FAIL: pd exited with status $rc (124: timeout)"; status=1
fi
if grep -q "couldn't create" "$out"; then
    echo "FAIL: an object could not be created"; status=1
fi
errors=$(grep -i -E 'error|fail|watchdog' "$out" | grep -v -E "$allowed" || true)
if [ -n "$errors" ]; then
    echo "FAIL: unexpected error lines:"; echo "$errors"; status=1
fi
if ! diff -u "$expected" <(grep -v -E '^verbose\(|^$' "$out") >/tmp/run_patch_diff.$$; then
    echo "FAIL: printed lines differ from $expected:"; cat /tmp/run_patch_diff.$$; status=1
fi
rm -f /tmp/run_patch_diff.$$
[ $status -eq 0 ] && echo "ok: $(basename "$patch")" || { echo "--- pd printed:"; cat "$out"; }
exit $status
