#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test:
#   1. unit, object and patch tests (the real pd binary) in a normal build, with the 64-bit ARM
#      cross-build's plug-ins in Debian's arm64 pd under qemu, the 64-bit Windows cross-build's in
#      the test host under Wine, and the program built with ThreadSanitizer running files on four
#      threads;
#   2. the same under AddressSanitizer and UndefinedBehaviorSanitizer (any report fails);
#   3. valgrind memcheck over the in-process object tests;
#   4. each fuzz target for a bounded time from the committed corpus (FUZZ_SECONDS, default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test gui python arm64 windows
log=$(mktemp)
trap 'rm -f "$log"' EXIT

run_suite() { # build folder, extra cmake options...
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DATTACKSCOPE_TESTS=ON "$@" >/dev/null
    cmake --build "$dir"
    ctest --test-dir "$dir" --output-on-failure -j2 | tee -a "$log"
}

echo "== 64-bit ARM cross-build"
cmake -S . -B build/arm64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake >/dev/null
cmake --build build/arm64
echo "== 64-bit Windows cross-build"
cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake >/dev/null
cmake --build build/windows
echo "== the program under ThreadSanitizer"
cmake -S . -B build/tsan -G Ninja -DATTACKSCOPE_SANITIZE=thread >/dev/null
cmake --build build/tsan --target attackscope_cli
echo "== tests"
run_suite build/test -DATTACKSCOPE_ARM64_BUILD="$PWD/build/arm64" \
    -DATTACKSCOPE_ARM64_PD="$PWD/build/arm64-pd/root/usr/bin/puredata" \
    -DATTACKSCOPE_TSAN_BUILD="$PWD/build/tsan" -DATTACKSCOPE_WINDOWS_BUILD="$PWD/build/windows"
echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 run_suite build/asan \
    -DATTACKSCOPE_SANITIZE=address,undefined
if [ -x scripts/memcheck.sh ]; then
    echo "== valgrind memcheck"
    scripts/memcheck.sh build/test
fi
if [ -x scripts/fuzz.sh ]; then
    echo "== fuzzing"
    scripts/fuzz.sh "${FUZZ_SECONDS:-60}"
fi

passed=$(awk '/tests passed, .* tests failed out of/ {
    total += $NF; failed += $4 } END { print total - failed, failed }' "$log")
echo "${passed% *} passed, ${passed#* } failed"
