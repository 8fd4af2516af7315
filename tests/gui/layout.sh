#!/usr/bin/env bash
# Opens a patch in Pd with its real GUI on a virtual X server, every subpatch window open, and
# checks from what the GUI draws that no box or comment lies over another or outside its window.
#   layout.sh PLUGIN_DIR PATCH [--expect FINDINGS] [--shot OUT.png [--dsp-ms MS]]
# Passes when there is no finding, or with --expect when the findings are exactly those of the
# file. --shot then saves the patch's window as a PNG, after MS milliseconds with DSP on if
# --dsp-ms is given (it needs the import tool: scripts/install-deps.sh screenshot). Exits 77 (a
# skip) only when no X server can start.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
plugin_dir=$1 patch=$2
shift 2
expect="" shot="" dsp_ms=0
while [ $# -gt 0 ]; do
    case $1 in
    --expect) expect=$2; shift 2 ;;
    --shot) shot=$(realpath -m "$2"); shift 2 ;;
    --dsp-ms) dsp_ms=$2; shift 2 ;;
    *) echo "layout.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
pd_bin=${PD_BIN:-pd}

tmp=$(mktemp -d)
xvfb_pid="" pd_pid=""
cleanup() {
    [ -n "$pd_pid" ] && kill "$pd_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT

if ! command -v Xvfb >/dev/null; then
    echo "SKIP: no X server can start here: Xvfb is not installed (scripts/install-deps.sh gui)"
    exit 77
fi
# Xvfb picks a free display number itself and writes it to the descriptor it is given.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$tmp/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
done
display=$(head -n1 "$tmp/display" 2>/dev/null)
if [ -z "$display" ]; then
    echo "SKIP: no X server can start here; Xvfb said:"
    cat "$tmp/xvfb.log"
    exit 77
fi

# A home of its own: no preferences, recent files or plug-ins of the user's.
mkdir -p "$tmp/home"
cd "$(dirname "$patch")" || exit 1
env DISPLAY=:"$display" HOME="$tmp/home" ATTACKSCOPE_LAYOUT_REPORT="$tmp/report" \
    ${shot:+ATTACKSCOPE_LAYOUT_SHOT="$shot"} ATTACKSCOPE_LAYOUT_DSP_MS="$dsp_ms" \
    timeout "${PD_TIMEOUT:-60}" "$pd_bin" -nrt -noaudio -nomidi -noprefs -stderr \
    -path "$plugin_dir" -path "$here" -open "$(basename "$patch")" >"$tmp/pd.log" 2>&1 &
pd_pid=$!
wait "$pd_pid"
rc=$?
pd_pid=""

status=0
fail() { echo "FAIL: $*"; status=1; }
[ $rc -eq 0 ] || fail "pd exited with status $rc (124: timeout)"
grep -q "couldn't create" "$tmp/pd.log" && fail "an object could not be created"
if ! grep -qx done "$tmp/report" 2>/dev/null; then
    fail "the GUI wrote no complete report"
    echo "--- pd printed:"; cat "$tmp/pd.log"
    exit 1
fi
# The layout is measured in Pd's default font on Debian; another one measures another layout.
grep -qx "font: DejaVu Sans Mono .*" "$tmp/report" ||
    fail "the GUI does not use DejaVu Sans Mono (Debian's fonts-dejavu-core): $(grep '^font:' "$tmp/report")"
grep -q "^error:" "$tmp/report" && fail "$(grep '^error:' "$tmp/report")"
# Every subpatch has its own window: one window more than the patch has subpatches.
subpatches=$(grep -c -E '^#X restore .* pd [^ ;]+' "$(basename "$patch")")
windows=$(grep -c '^window:' "$tmp/report")
[ "$windows" -eq $((subpatches + 1)) ] ||
    fail "$windows windows checked for $subpatches subpatches and the patch"

grep -E '^(window|font):' "$tmp/report"
grep -E '^(overlap|outside):' "$tmp/report" >"$tmp/findings"
if [ -n "$expect" ]; then
    diff -u "$expect" "$tmp/findings" >"$tmp/diff" ||
        { fail "the findings differ from $expect:"; cat "$tmp/diff"; }
elif [ -s "$tmp/findings" ]; then
    fail "$(wc -l <"$tmp/findings") findings:"
    cat "$tmp/findings"
fi
[ $status -eq 0 ] && echo "ok: $(basename "$patch")"
exit $status
