#!/usr/bin/env bash
# Configures and builds one build folder; the one build step of run.sh, test.sh and bench/run.sh.
#   scripts/build.sh DIR [TARGET...] [-- CMAKE_OPTION...]
# Without targets it builds everything configured. The compiler's output goes to DIR/build.log;
# on failure the errors are printed and the status is non-zero.
set -uo pipefail
cd "$(dirname "$0")/.."

dir=${1:?usage: scripts/build.sh DIR [TARGET...] [-- CMAKE_OPTION...]}
shift
targets=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    targets+=(--target "$1")
    shift
done
[ "${1:-}" = "--" ] && shift

mkdir -p "$dir"
if ! cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" > "$dir/configure.log" 2>&1; then
    cat "$dir/configure.log" >&2
    echo "cmake configuration failed" >&2
    exit 1
fi
start=$(date +%s)
if ! cmake --build "$dir" -j"$(nproc)" "${targets[@]}" > "$dir/build.log" 2>&1; then
    grep -E -A5 "error|Error" "$dir/build.log" | head -n 80
    echo "build failed (full log: $dir/build.log)" >&2
    exit 1
fi
grep -E "warning:" "$dir/build.log" | sort -u | head -n 40
echo "Built $dir/ in $(( $(date +%s) - start )) s"
