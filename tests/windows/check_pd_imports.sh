#!/usr/bin/env bash
# The definitions file the import library of pd.dll is made from must list exactly what the
# plug-ins call: a missing entry fails the link, but an unused one would go unnoticed. Both the
# Windows plug-ins' imports from pd.dll and the Linux plug-ins' undefined symbols that Pd
# provides (those without a library version) must be the file's entries.
#   check_pd_imports.sh PD_DEF LINUX_PLUGIN_DIR WINDOWS_PLUGIN_DIR
set -uo pipefail
def=$1 linux_dir=$2 windows_dir=$3
listed=$(awk 'f && NF && $1 !~ /^;/ {print $1} /^EXPORTS/ {f = 1}' "$def" | sort -u)
# The Windows import tables: the entries below "DLL Name: pd.dll", up to the next blank line.
windows=$(for p in "$windows_dir"/*.dll; do
    x86_64-w64-mingw32-objdump -p "$p" | awk '/DLL Name:/ {f = ($3 == "pd.dll"); next}
        f && NF == 0 {f = 0} f && NF == 3 {print $3}'
done | sort -u)
# glibc's and the compiler's symbols carry versions (name@GLIBC_2.2.5); the rest, weak hooks of
# the C runtime aside, are Pd's.
linux=$(for p in "$linux_dir"/*.pd_linux; do
    nm -D --undefined-only "$p" | awk '{print $NF}'
done | grep -v '@' | grep -v -x -E '_ITM_.*|__gmon_start__|__cxa_finalize' | sort -u)
status=0
for side in windows linux; do
    if [ "${!side}" != "$listed" ]; then
        echo "FAIL: the $side plug-ins call other Pd functions than $def lists:"
        diff <(echo "$listed") <(echo "${!side}")
        status=1
    fi
done
[ $status -eq 0 ] && echo "ok: $def lists exactly the $(wc -l <<<"$listed") Pd functions and symbols the plug-ins use"
exit $status
