#!/usr/bin/env bash
# Runs a Windows program under Debian's wine64 in the given prefix, quietly:
#   wine-run.sh PREFIX PROGRAM [ARGS...]
# A prefix per build folder keeps builds and tests apart from each other and from ~/.wine. It is
# made on first use (some 6 s), under a lock, so that programs started at once do not make it
# twice; its messages go nowhere. Wine's optional .NET and HTML engines are left out: nothing
# here needs them, and without this the first run offers to download them.
set -euo pipefail
prefix=$1
shift
mkdir -p "$prefix"
export WINEPREFIX
WINEPREFIX=$(cd "$prefix" && pwd)
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    (
        flock 9
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
            /usr/lib/wine/wineserver -w
        fi
    ) 9>"$WINEPREFIX/.creating"
fi
exec /usr/lib/wine/wine64 "$@"
