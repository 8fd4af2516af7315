#!/usr/bin/env bash
# Unpacks a deken package into an empty folder as Pd's package manager would, checks what it
# holds, and runs both help patches' tests in pd with pd's path set to the unpacked library alone.
#   package_check.sh DEK      (env: PD_BIN, as for run_patch.sh)
set -uo pipefail
dek=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
if [ "$(cat "$dek.sha256")" != "$(sha256sum "$dek" | cut -d' ' -f1)" ]; then
    echo "FAIL: $dek.sha256 does not match the package"; status=1
fi
python3 -m zipfile -e "$dek" "$work" || { echo "FAIL: $dek does not unpack"; exit 1; }
want="attackscope/LICENSE attackscope/README.md attackscope/attackscope-meta.pd
attackscope/attackscope~-help.pd attackscope/attackscope~.pd_linux attackscope/beatspan-help.pd
attackscope/beatspan.pd_linux attackscope/plucks.wav attackscope/strings.wav"
have=$(cd "$work" && find . -type f | sed 's|^\./||' | sort | tr '\n' ' ')
if [ "$have" != "$(echo $want | tr ' ' '\n' | sort | tr '\n' ' ')" ]; then
    echo "FAIL: the package holds: $have"; status=1
fi
for t in attackscope beatspan; do
    "$here/pd/run_patch.sh" "$work/attackscope" "$here/pd/help_$t.pd" \
        "$here/pd/help_$t.expected" || status=1
done
[ $status -eq 0 ] && echo "ok: $(basename "$dek") unpacks and loads"
exit $status
