#!/usr/bin/env bash
# Unpacks the Windows deken package as Pd's package manager would and checks it: the files of the
# Linux package, the same bytes, with the .dll plug-ins in place of the .pd_linux ones; each .dll
# as check_pe.sh wants it; and both load and compute from the unpacked folder in the Windows
# values program under Wine.
#   package_check.sh WINDOWS_DEK LINUX_DEK VALUES_EXE     (env: WINE_RUN, WINE_PREFIX)
set -uo pipefail
dek=$1 linux_dek=$2 values=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
if [ "$(cat "$dek.sha256")" != "$(sha256sum "$dek" | cut -d' ' -f1)" ]; then
    echo "FAIL: $dek.sha256 does not match the package"; status=1
fi
python3 -m zipfile -e "$dek" "$work/windows" || { echo "FAIL: $dek does not unpack"; exit 1; }
python3 -m zipfile -e "$linux_dek" "$work/linux" || { echo "FAIL: $linux_dek does not unpack"; exit 1; }
lib=$work/windows/attackscope
have=$(cd "$work/windows" && find . -type f | sed 's|^\./||' | sort)
want=$(cd "$work/linux" && find . -type f | sed 's|^\./||; s|\.pd_linux$|.dll|' | sort)
if [ "$have" != "$want" ]; then
    echo "FAIL: the package holds other files than the Linux one:"; diff <(echo "$want") <(echo "$have")
    status=1
fi
for f in $(cd "$work/linux/attackscope" && ls | grep -v '\.pd_linux$'); do
    cmp -s "$work/linux/attackscope/$f" "$lib/$f" || { echo "FAIL: $f differs from Linux's"; status=1; }
done
if ! cmp -s "$dek.txt" "${linux_dek}.txt"; then
    echo "FAIL: the objects list differs from Linux's"; status=1
fi
"$here/check_pe.sh" "$lib/attackscope~.dll" attackscope_tilde_setup || status=1
"$here/check_pe.sh" "$lib/beatspan.dll" beatspan_setup || status=1
out=$("${WINE_RUN:?}" "${WINE_PREFIX:?}" "$values" "Z:$lib" .dll) || { echo "FAIL: $values"; status=1; }
if ! grep -q -x 'beatspan beats 0x40800000 4 tempo 0x42f00000 120 -> 0x422c4400 43.0664062' <<<"$out"; then
    echo "FAIL: beatspan from the package did not send 43.0664062 for 4 beats at 120:"; echo "$out"
    status=1
fi
[ $status -eq 0 ] && echo "ok: $(basename "$dek") holds the Linux package's files with plug-ins that load"
exit $status
