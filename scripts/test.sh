#!/usr/bin/env bash
# Sets up, builds and runs every test: a plain build, the same suites under AddressSanitizer and
# UndefinedBehaviorSanitizer, the sound suites under ThreadSanitizer, and, where clang and its
# libFuzzer are present, a short run of every fuzz target from its seed corpus.
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
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp \
    ctest --test-dir build-tsan --output-on-failure -L sound

# The fuzz targets need clang's libFuzzer: a machine without them skips this part.
fuzz_runs=${VORMEL_FUZZ_RUNS:-50000}
probe=$(mktemp -d)
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' \
    >"$probe/probe.cpp"
if command -v clang++ >/dev/null &&
    clang++ -fsanitize=fuzzer "$probe/probe.cpp" -o "$probe/probe" 2>/dev/null; then
    echo "== fuzz targets ($fuzz_runs runs each)"
    cmake -S . -B build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DVORMEL_SANITIZE=fuzzer-no-link,address,undefined -DVORMEL_FUZZ=ON \
        -DVORMEL_BENCHMARKS=OFF >/dev/null
    cmake --build build-fuzz -j"$jobs" --target fuzz_targets
    for target in build-fuzz/tests/fuzz/fuzz_*; do
        name=$(basename "$target")
        # A scratch copy of the seeds: what a run adds to its corpus is not kept.
        corpus="$probe/$name"
        mkdir -p "$corpus"
        cp -r "tests/fuzz/corpus/$name/." "$corpus/" 2>/dev/null || true
        if ! "$target" -runs="$fuzz_runs" -max_len=4096 -artifact_prefix="$probe/" "$corpus" \
            >"$probe/$name.log" 2>&1; then
            tail -n 40 "$probe/$name.log"
            echo "fuzz: $name failed; the input is in $(ls "$probe"/crash-* "$probe"/leak-* \
                "$probe"/timeout-* 2>/dev/null | head -1)"
            exit 1
        fi
        echo "$name: $fuzz_runs runs, no failure"
    done
else
    echo "== fuzz targets skipped: clang with libFuzzer is not installed"
fi
rm -rf "$probe"
