#!/usr/bin/env bash
# Makes the three deken packages from release builds, for 64-bit Intel/AMD and 64-bit ARM Linux
# and 64-bit Intel/AMD Windows:
#   build/packages/attackscope[v<version>](Linux-amd64-32).dek
#   build/packages/attackscope[v<version>](Linux-arm64-32).dek
#   build/packages/attackscope[v<version>](Windows-amd64-32).dek
# each with its .sha256 and .txt (the objects list deken uploads beside it). They are made by
# scripts/dek.py, which writes what `deken package --no-sign-gpg` writes: Debian's deken cannot
# run without the network (see scripts/dek.py). Upload them with `deken upload` where it runs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build arm64 windows
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j2 --target dek
cmake -S . -B build/release-arm64 -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake >/dev/null
cmake --build build/release-arm64 -j2 --target dek
cmake -S . -B build/release-windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake >/dev/null
cmake --build build/release-windows -j2 --target dek
rm -rf build/packages
mkdir -p build/packages
cp build/release/dek/*.dek* build/release-arm64/dek/*.dek* build/release-windows/dek/*.dek* \
    build/packages/
ls -l build/packages
