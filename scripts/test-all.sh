#!/usr/bin/env bash
# Builds and runs every test: native (with the hfsutils/macutils/Perl
# interop and corpus tests), native under AddressSanitizer and
# UndefinedBehaviorSanitizer, the Windows cross build under Wine, the 32-bit
# Windows build (compiled only: this machine cannot run 32-bit code), the
# end-to-end scenarios of the Windows program, and a short run of each
# fuzzer (image, write side, codecs). Installs what it needs on Debian 12.
# Usage: scripts/test-all.sh [FUZZ_SECONDS]   (per fuzzer; default 20)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/deps.sh
need_packages cmake ninja-build g++ googletest libgtest-dev pkg-config \
    mingw-w64 wine64 wine hfsutils macutils libconvert-binhex-perl \
    clang libclang-rt-14-dev gzip ca-certificates strace \
    xvfb xdotool imagemagick x11-utils fonts-liberation

jobs=$(nproc)
fuzz_seconds=${1:-20}
start=$(date +%s)
step() { echo; echo "=== $* ($(( $(date +%s) - start ))s)"; }

step "native build and tests"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVERRIN_TESTS=ON >/dev/null
ninja -C build -j"$jobs"
(cd build && ctest -j"$jobs" --output-on-failure)

step "AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVERRIN_SANITIZE=ON -DVERRIN_TESTS=ON \
      -DCMAKE_CXX_FLAGS=-O1 >/dev/null
ninja -C build-asan -j"$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    VERRIN_SANITIZED=1 ctest -j"$jobs" --output-on-failure)

step "Windows x86_64 cross build, tests under Wine"
cmake -S . -B build-win -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DVERRIN_TESTS=ON >/dev/null
ninja -C build-win -j"$jobs"
# gzip cannot run under Wine: unpack the compressed corpus images for it.
unpacked="$root/build-win/corpus-unpacked"
mkdir -p "$unpacked"
if [ -d "$root/../shared/corpus/hfs" ]; then
    for f in "$root"/../shared/corpus/*/*.gz; do
        [ -e "$f" ] || continue
        out="$unpacked/$(basename "${f%.gz}")"
        [ -f "$out" ] || gzip -dc "$f" > "$out"
    done
fi
(cd build-win && VERRIN_UNPACKED_CORPUS="$unpacked" ctest --output-on-failure)

step "end-to-end: verrin.exe under Wine in Xvfb, driven by keys and clicks"
tests/e2e/run.sh build-win build/verrin-cli build-win/e2e

step "Windows i686 cross build (compile only)"
cmake -S . -B build-win32 -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVERRIN_TESTS=OFF \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake >/dev/null
ninja -C build-win32 -j"$jobs"

step "fuzzers, ${fuzz_seconds}s each"
scripts/fuzz.sh "$fuzz_seconds" 2>&1 | tail -3

step "all passed"
