#!/usr/bin/env bash
# Sets up, builds and runs every test: a plain build, the same suites under AddressSanitizer and
# UndefinedBehaviorSanitizer, and the sound suites under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

jobs=$(nproc)
configure() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -DVORMEL_WERROR=ON "$@" >/dev/null
}

echo "== plain build"
configure build
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
configure build-asan -DVORMEL_SANITIZE=address,undefined -DVORMEL_BENCHMARKS=OFF
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== ThreadSanitizer (sound)"
configure build-tsan -DVORMEL_SANITIZE=thread -DVORMEL_BENCHMARKS=OFF
cmake --build build-tsan -j"$jobs" --target sound_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --test-dir build-tsan --output-on-failure -L sound
