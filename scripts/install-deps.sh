#!/usr/bin/env bash
# Installs the Debian packages a task needs, only those missing.
#   install-deps.sh [build|test|bench|plot]...   (default: build)
set -euo pipefail
build=(cmake ninja-build g++ puredata-core puredata-dev
       libsndfile1-dev libsoxr-dev nlohmann-json3-dev libcli11-dev)
test=("${build[@]}" googletest libgtest-dev clang libclang-rt-14-dev valgrind binutils)
bench=("${build[@]}" libbenchmark-dev libfftw3-dev puredata-extra)
plot=(python3-matplotlib)

wanted=()
for group in "${@:-build}"; do
    case $group in
    build) wanted+=("${build[@]}") ;;
    test) wanted+=("${test[@]}") ;;
    bench) wanted+=("${bench[@]}") ;;
    plot) wanted+=("${plot[@]}") ;;
    *) echo "unknown group: $group" >&2; exit 2 ;;
    esac
done

missing=()
for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi
