#!/usr/bin/env bash
# Installs what is missing, builds into build/, starts a throwaway PostgreSQL 15 cluster on a
# loopback port and runs every test with ctest. The output ends with ctest's summary.
#   ./test.sh              all tests
#   ./test.sh --sanitize   the same with address and undefined-behaviour sanitizers (build-asan/)
#   ./test.sh -R REGEX     only the tests whose name matches (passed on to ctest)
set -uo pipefail
cd "$(dirname "$0")"

build_dir=build
cmake_extra=()
ctest_extra=()
while [ $# -gt 0 ]; do
    case "$1" in
        --sanitize) build_dir=build-asan; cmake_extra+=(-DRQC_SANITIZE=ON -DRQC_BUILD_BENCH=OFF) ;;
        *) ctest_extra+=("$1") ;;
    esac
    shift
done

bash scripts/install_deps.sh || { echo "installing dependencies failed" >&2; exit 1; }
echo "Building into $build_dir/ ..."
bash scripts/build.sh "$build_dir" -- "${cmake_extra[@]}" || exit 1

pg_dir=$(mktemp -d /tmp/rqc-pg-XXXXXX)
pg_url=""
for attempt in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 30000))
    if pg_url=$(tests/pg_cluster.sh start "$pg_dir" "$port" 2>/dev/null); then break; fi
    pg_url=""
done
if [ -z "$pg_url" ]; then
    echo "could not start the throwaway PostgreSQL cluster (log: $pg_dir/sock/pg.log)" >&2
    exit 1
fi
stop_pg() { tests/pg_cluster.sh stop "$pg_dir" >/dev/null 2>&1; rm -rf "$pg_dir"; }
trap stop_pg EXIT

export RQC_TEST_PG_URL="$pg_url" RQC_REQUIRE_PG=1 QT_QPA_PLATFORM=offscreen
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizer.supp"
(cd "$build_dir" && ctest --output-on-failure -j2 --timeout 900 "${ctest_extra[@]}") > "$build_dir/ctest.log" 2>&1
rc=$?
stop_pg
trap - EXIT
cat "$build_dir/ctest.log"
exit $rc
