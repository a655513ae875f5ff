#!/usr/bin/env bash
# Throwaway PostgreSQL 15 clusters on loopback ports, for tests, benchmarks and ./run.sh.
#   tests/pg_cluster.sh start DIR PORT            -> creates DIR, starts the server, prints its URL
#   tests/pg_cluster.sh stop DIR                  -> stops the server started in DIR (by its pid)
# Replication (a primary with one synchronous standby, as docs/deployment.md sets it up):
#   tests/pg_cluster.sh primary DIR PORT [NAME]   -> like start, waiting for standby NAME's
#                                                    commit acknowledgement (default rqc_standby)
#   tests/pg_cluster.sh standby DIR PORT PRIMARY_PORT [NAME]
#                                                 -> pg_basebackup -R of the primary into DIR,
#                                                    started, returns once it replicates in sync
#   tests/pg_cluster.sh promote DIR               -> the standby in DIR becomes a primary
#   tests/pg_cluster.sh rewind DIR PORT SOURCE_PORT [NAME]
#                                                 -> the stopped old primary in DIR, rewound to
#                                                    the server on SOURCE_PORT, starts as its standby
#   tests/pg_cluster.sh restart DIR               -> fast restart of the server in DIR
#   tests/pg_cluster.sh kill DIR                  -> SIGKILL of the server in DIR and its backends
set -euo pipefail
PGBIN=/usr/lib/postgresql/15/bin
cmd=${1:?usage: pg_cluster.sh start|stop|primary|standby|promote|rewind|restart|kill DIR ...}
dir=${2:?directory}
run_pg() { if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
prepare_dir() {
    mkdir -p "$dir/data" "$dir/sock"
    [ "$(id -u)" = 0 ] && chown -R postgres:postgres "$dir"
    chmod 700 "$dir/data"
}
# A self-signed certificate for 127.0.0.1, so that clients may use TLS (and tests may see a
# client refuse a certificate it cannot verify).
make_cert() {
    [ -f "$dir/data/server.crt" ] && return 0
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 \
        -addext subjectAltName=IP:127.0.0.1 -keyout "$dir/data/server.key" \
        -out "$dir/data/server.crt" >/dev/null 2>&1
    chmod 600 "$dir/data/server.key"
    [ "$(id -u)" = 0 ] && chown postgres:postgres "$dir/data/server.key" "$dir/data/server.crt"
    return 0
}
# Throwaway settings: no fsync; replicated clusters keep full pages and hint bits for pg_rewind.
start_pg() {
    local port=$1 extra=$2
    make_cert
    extra="-c ssl=on $extra"
    run_pg "$PGBIN/pg_ctl" -D "$dir/data" -l "$dir/sock/pg.log" -w -t 60 \
        -o "-c listen_addresses=127.0.0.1 -p $port -k $dir/sock -c fsync=off -c max_connections=200 -c shared_buffers=256MB $extra" \
        start >/dev/null
}
psql_at() { run_pg "$PGBIN/psql" -X -q -At -h 127.0.0.1 -p "$1" -U postgres -d postgres -c "$2"; }
# Waits (bounded) until the primary on port $1 replicates to standby $2 synchronously.
wait_sync() {
    for _ in $(seq 1 300); do
        [ "$(psql_at "$1" "SELECT sync_state FROM pg_stat_replication WHERE application_name = '$2'" 2>/dev/null)" = sync ] && return 0
        sleep 0.1
    done
    echo "standby $2 does not replicate synchronously from port $1" >&2
    return 1
}
postmaster_pid() { [ -f "$dir/data/postmaster.pid" ] && head -n1 "$dir/data/postmaster.pid"; }
case "$cmd" in
start | primary)
    port=${3:?port}
    prepare_dir
    if [ ! -f "$dir/data/PG_VERSION" ]; then
        run_pg "$PGBIN/initdb" -D "$dir/data" -U postgres -A trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1
    fi
    if [ "$cmd" = primary ]; then
        # In the configuration file, which the standby's base backup copies and pg_rewind's
        # recovery reads.
        if ! grep -q '^wal_log_hints' "$dir/data/postgresql.conf"; then
            printf '%s\n' "synchronous_commit = on" "full_page_writes = on" "wal_log_hints = on" \
                "wal_keep_size = 256MB" "synchronous_standby_names = '${4:-rqc_standby}'" \
                >>"$dir/data/postgresql.conf"
        fi
        start_pg "$port" ""
    else
        start_pg "$port" "-c synchronous_commit=off -c full_page_writes=off"
    fi
    echo "postgresql://postgres@127.0.0.1:$port/postgres"
    ;;
standby)
    port=${3:?port}
    primary=${4:?primary port}
    name=${5:-rqc_standby}
    prepare_dir
    run_pg "$PGBIN/pg_basebackup" -D "$dir/data" -R -X stream -c fast \
        -d "host=127.0.0.1 port=$primary user=postgres application_name=$name" >"$dir/basebackup.log" 2>&1
    # The primary's naming of its synchronous standby stays out of the copy until it is promoted.
    sed -i '/^synchronous_standby_names/d' "$dir/data/postgresql.conf"
    start_pg "$port" ""
    wait_sync "$primary" "$name"
    echo "postgresql://postgres@127.0.0.1:$port/postgres"
    ;;
promote)
    run_pg "$PGBIN/pg_ctl" -D "$dir/data" -w -t 60 promote >/dev/null
    ;;
rewind)
    port=${3:?port}
    source=${4:?source port}
    name=${5:-rqc_standby}
    # Right after a promotion the source's control file names its new timeline only after a
    # checkpoint.
    psql_at "$source" "CHECKPOINT" >/dev/null
    run_pg "$PGBIN/pg_rewind" --target-pgdata="$dir/data" -R \
        --source-server="host=127.0.0.1 port=$source user=postgres application_name=$name" >"$dir/rewind.log" 2>&1
    sed -i '/^synchronous_standby_names/d' "$dir/data/postgresql.conf"
    start_pg "$port" ""
    psql_at "$source" "ALTER SYSTEM SET synchronous_standby_names = '$name'" >/dev/null
    psql_at "$source" "SELECT pg_reload_conf()" >/dev/null
    wait_sync "$source" "$name"
    ;;
restart)
    run_pg "$PGBIN/pg_ctl" -D "$dir/data" -l "$dir/sock/pg.log" -m fast -w -t 60 restart >/dev/null
    ;;
kill)
    if pid=$(postmaster_pid); then
        children=$(cat /proc/"$pid"/task/*/children 2>/dev/null || true)
        kill -KILL "$pid" $children 2>/dev/null || true
        for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    fi
    ;;
stop)
    if pid=$(postmaster_pid); then
        run_pg "$PGBIN/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >/dev/null || kill "$pid" 2>/dev/null || true
    fi
    ;;
*) echo "unknown command $cmd" >&2; exit 2 ;;
esac
