#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (folder build-fuzz/ of the repository, or $1) and
# runs each on its seed corpus for a bounded time (RQC_FUZZ_SECONDS per target, default 30).
# Skips with a message, and success, when clang or libFuzzer is missing.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="$(realpath -m "${1:-$root/build-fuzz}")"
seconds="${RQC_FUZZ_SECONDS:-30}"

compiler="$(command -v clang++ || command -v clang++-14 || true)"
if [[ -z "$compiler" ]]; then
    echo "run_fuzz.sh: clang++ not found; skipping the fuzz targets (apt-get install clang libclang-rt-14-dev)"
    exit 0
fi
if ! echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' |
    "$compiler" -x c++ -fsanitize=fuzzer -o /dev/null - 2>/dev/null; then
    echo "run_fuzz.sh: $compiler cannot link libFuzzer; skipping the fuzz targets (apt-get install libclang-rt-14-dev)"
    exit 0
fi

cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 >/dev/null

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
for target in decoder dispatcher proxy_header; do
    work="$(mktemp -d)"
    cp "$here/corpus/$target"/* "$work/"
    echo "fuzz_$target: ${seconds}s"
    status=0
    (cd "$work" && "$build/fuzz_$target" -max_total_time="$seconds" -max_len=65536 \
        -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$work" 2>"$work/log") || status=$?
    grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$work/log" || true
    if [[ $status -ne 0 ]]; then
        tail -60 "$work/log"
        echo "fuzz_$target: FAILED (crash input kept in $work)"
        exit 1
    fi
    rm -rf "$work"
done
echo "fuzz: every target ran clean"
