#!/usr/bin/env bash
# Runs the values program of this build over its plug-ins and the one of the Windows build over
# the .dll plug-ins under Wine, on the same recordings, and requires the two outputs to be the
# same bytes: every value sent, with its float bits, and every console line.
#   values_check.sh NATIVE_VALUES NATIVE_PLUGIN_DIR WINDOWS_VALUES WINDOWS_PLUGIN_DIR RECORDING...
#   (env: WINE_RUN, scripts/wine-run.sh; WINE_PREFIX)
set -uo pipefail
native=$1 native_dir=$2 windows=$3 windows_dir=$4
shift 4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Wine sees this machine's files on drive Z:.
windows_recordings=()
for r in "$@"; do windows_recordings+=("Z:$(realpath "$r")"); done

status=0
"$native" "$native_dir" .pd_linux "$@" >"$work/linux.out" || { echo "FAIL: $native"; status=1; }
"${WINE_RUN:?}" "${WINE_PREFIX:?}" "$windows" "Z:$(realpath "$windows_dir")" .dll \
    "${windows_recordings[@]}" >"$work/windows.out" || { echo "FAIL: $windows under Wine"; status=1; }

# A comparison of outputs that sent nothing would prove nothing: every run must have sent
# energies, every run at 512 or 2048 shape ratios, and every -position run estimates.
awk '$1 == "sent" {
        runs++
        if ($10 == 0 || ($4 >= 512 && $8 == 0) || ($6 == 1 && $12 == 0)) {
            print "FAIL: too little sent: " $0; bad = 1
        }
    }
    END { if (runs == 0) { print "FAIL: no runs"; bad = 1 } exit bad }' "$work/linux.out" || status=1
if ! cmp -s "$work/linux.out" "$work/windows.out"; then
    echo "FAIL: the Windows build sent other values than the Linux build:"
    diff "$work/linux.out" "$work/windows.out" | head -20
    status=1
fi
if [ $status -eq 0 ]; then
    echo "ok: $(wc -l <"$work/linux.out") lines the same on both builds:"
    grep '^sent' "$work/linux.out"
fi
exit $status
