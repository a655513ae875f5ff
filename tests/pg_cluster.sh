#!/usr/bin/env bash
# Throwaway PostgreSQL 15 cluster on a loopback port, for tests and benchmarks.
#   tests/pg_cluster.sh start DIR PORT   -> creates DIR, starts the server, prints its URL
#   tests/pg_cluster.sh stop DIR         -> stops the server started in DIR (by its pid)
set -euo pipefail
PGBIN=/usr/lib/postgresql/15/bin
cmd=${1:?usage: pg_cluster.sh start DIR PORT | stop DIR}
dir=${2:?directory}
run_pg() { if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
case "$cmd" in
start)
    port=${3:?port}
    mkdir -p "$dir/data" "$dir/sock"
    [ "$(id -u)" = 0 ] && chown -R postgres:postgres "$dir"
    chmod 700 "$dir/data"
    if [ ! -f "$dir/data/PG_VERSION" ]; then
        run_pg "$PGBIN/initdb" -D "$dir/data" -U postgres -A trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1
    fi
    run_pg "$PGBIN/pg_ctl" -D "$dir/data" -l "$dir/sock/pg.log" -w -t 60 \
        -o "-c listen_addresses=127.0.0.1 -p $port -k $dir/sock -c fsync=off -c synchronous_commit=off -c full_page_writes=off -c max_connections=200 -c shared_buffers=256MB" \
        start >/dev/null
    echo "postgresql://postgres@127.0.0.1:$port/postgres"
    ;;
stop)
    if [ -f "$dir/data/postmaster.pid" ]; then
        pid=$(head -n1 "$dir/data/postmaster.pid")
        run_pg "$PGBIN/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >/dev/null || kill "$pid" 2>/dev/null || true
    fi
    ;;
*) echo "unknown command $cmd" >&2; exit 2 ;;
esac
