#!/usr/bin/env bash
# Builds the benchmarks in their own folder, build-bench/ (build/ and its logs are left as they
# are), and runs them, printing their figures. A throwaway PostgreSQL cluster is started on a
# loopback port for the PostgreSQL figures and stopped at the end.
#   bench/run.sh            every benchmark
#   bench/run.sh NAME...    only these (e.g. bench_paracmpsup)
#   bench/run.sh NAME... -- ARG...   passing ARGs to each (e.g. --benchmark_filter=SQLite)
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_deps.sh
out=build-bench
bash scripts/build.sh "$out" benchmarks -- -DRQC_BUILD_BENCH=ON -DRQC_BUILD_TESTS=OFF >/dev/null ||
    exit 1

pg_dir=$(mktemp -d /tmp/rqc-benchpg-XXXXXX)
for attempt in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 30000))
    if url=$(tests/pg_cluster.sh start "$pg_dir" "$port" 2>/dev/null); then break; fi
    url=""
done
trap 'tests/pg_cluster.sh stop "$pg_dir" >/dev/null 2>&1; rm -rf "$pg_dir"' EXIT
export RQC_BENCH_PG_URL="$url" RQC_BIN_DIR="$PWD/$out/bin" QT_QPA_PLATFORM=offscreen

names=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    names+=("$1")
    shift
done
[ "${1:-}" = "--" ] && shift
if [ ${#names[@]} -eq 0 ]; then
    for b in "$out"/bench/bench_*; do [ -f "$b" ] && [ -x "$b" ] && names+=("$(basename "$b")"); done
fi
for n in "${names[@]}"; do
    echo "=== $n"
    "$out/bench/$n" "$@" || echo "($n failed with status $?)"
done
