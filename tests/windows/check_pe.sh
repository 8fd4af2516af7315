#!/usr/bin/env bash
# A Windows plug-in must be a 64-bit x86 DLL that exports its setup entry and nothing else, and
# imports Pd's API from pd.dll and everything else from Windows' own libraries: the compiler's
# runtime is linked in, so no other DLL has to be found beside it.
#   check_pe.sh PLUGIN.dll SETUP_ENTRY
set -uo pipefail
plugin=$1 entry=$2
status=0
kind=$(file -b "$plugin")
case $kind in
"PE32+ executable (DLL)"*x86-64*) ;;
*) echo "FAIL: $plugin is $kind, not a PE32+ x86-64 DLL"; status=1 ;;
esac
headers=$(x86_64-w64-mingw32-objdump -p "$plugin") || { echo "FAIL: objdump $plugin"; exit 1; }
exported=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" | awk '$1 == "[" && NF == 3 {print $3}')
if [ "$exported" != "$entry" ]; then
    echo "FAIL: expected only $entry exported from $plugin, found:"; echo "$exported"; status=1
fi
dlls=$(awk '/DLL Name:/ {print $3}' <<<"$headers" | sort)
if ! grep -q -x pd.dll <<<"$dlls"; then
    echo "FAIL: $plugin does not import from pd.dll"; status=1
fi
others=$(grep -v -x -i -E 'pd\.dll|kernel32\.dll|msvcrt\.dll' <<<"$dlls")
if [ -n "$others" ]; then
    echo "FAIL: $plugin needs other DLLs:"; echo "$others"; status=1
fi
[ $status -eq 0 ] && echo "ok: $plugin is a PE32+ x86-64 DLL exporting only $entry, importing from" $dlls
exit $status
