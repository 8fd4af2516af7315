#!/usr/bin/env bash
# Installs the Debian packages a task needs, only those missing.
#   install-deps.sh [build|test|bench|plot|sampled|python|gui|screenshot|arm64|windows]...
#   (default: build)
# gui: a virtual X server, Pd's GUI and Debian's default font, for the layout test of the help
# patches; screenshot: those and a screen-capture tool (import), for the help patches' pictures.
# arm64: the cross compiler, qemu-user, and Debian's arm64 pd with the arm64 libraries it runs on
# (dpkg multiarch). That pd is unpacked into build/arm64-pd/root, not installed: puredata-core
# cannot be installed for two architectures at once, and installing the arm64 one removes the
# host's pd.
set -euo pipefail
cd "$(dirname "$0")/.."
build=(cmake ninja-build g++ pkg-config puredata-core puredata-dev python3
       libsndfile1-dev libsoxr-dev nlohmann-json3-dev libcli11-dev)
test=("${build[@]}" googletest libgtest-dev clang libclang-rt-14-dev valgrind binutils
    puredata-extra)
bench=("${build[@]}" libbenchmark-dev libfftw3-dev puredata-extra)
plot=(python3-matplotlib)
# sampled: the synthesiser and General MIDI sound font the position evaluation renders notes with.
sampled=(fluidsynth fluid-soundfont-gm)
# The Python module: built by pip from Debian's setuptools and pybind11 in a venv, no network.
python=("${build[@]}" python3-dev python3-pybind11 pybind11-dev python3-numpy python3-venv
    python3-setuptools python3-wheel python3-pip python3-pytest python3-matplotlib)
gui=(xvfb puredata-gui tcl fonts-dejavu-core)
screenshot=("${gui[@]}" imagemagick)
arm64=(g++-aarch64-linux-gnu binutils-aarch64-linux-gnu qemu-user libc6:arm64 libstdc++6:arm64
    libasound2:arm64 libjack-jackd2-0:arm64 libportaudio2:arm64)
arm64_pd_root=build/arm64-pd/root
# windows: the cross compiler and its binutils (dlltool, objdump), Wine to run the build's tools and
# tests, and file(1) for the package check.
windows=(g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine64 file)

wanted=()
with_arm64=false
for group in "${@:-build}"; do
    case $group in
    build) wanted+=("${build[@]}") ;;
    test) wanted+=("${test[@]}") ;;
    bench) wanted+=("${bench[@]}") ;;
    arm64) wanted+=("${arm64[@]}"); with_arm64=true ;;
    plot) wanted+=("${plot[@]}") ;;
    sampled) wanted+=("${sampled[@]}") ;;
    python) wanted+=("${python[@]}") ;;
    gui) wanted+=("${gui[@]}") ;;
    screenshot) wanted+=("${screenshot[@]}") ;;
    windows) wanted+=("${windows[@]}") ;;
    *) echo "unknown group: $group" >&2; exit 2 ;;
    esac
done

sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
updated=false
if $with_arm64 && ! dpkg --print-foreign-architectures | grep -qx arm64; then
    $sudo dpkg --add-architecture arm64
    $sudo apt-get update -qq
    updated=true
fi
missing=()
for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    $updated || $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi
if $with_arm64 && [ ! -x "$arm64_pd_root/usr/bin/puredata" ]; then
    echo "unpacking Debian's arm64 pd into $arm64_pd_root"
    debs=$(mktemp -d)
    (cd "$debs" && apt-get download -qq puredata-core:arm64 puredata-extra:arm64 2>/dev/null)
    mkdir -p "$arm64_pd_root"
    for deb in "$debs"/*.deb; do
        dpkg-deb -x "$deb" "$arm64_pd_root"
    done
    rm -rf "$debs"
fi
