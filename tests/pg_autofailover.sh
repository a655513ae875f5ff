#!/usr/bin/env bash
# A pg_auto_failover formation on loopback ports, for tests and ./run.sh --cluster: a monitor
# and nodes that it promotes and demotes by itself. Timeouts are the ones docs/deployment.md
# recommends (a dead primary replaced within a few seconds).
#   tests/pg_autofailover.sh monitor DIR PORT            -> prints the monitor's URI
#   tests/pg_autofailover.sh node DIR PORT MONITOR NAME  -> a node, returned once it is primary
#                                                           or secondary
#   tests/pg_autofailover.sh uri MONITOR_DIR             -> the formation's multi-host URL
#   tests/pg_autofailover.sh wait MONITOR_DIR NAME STATE -> until node NAME reports STATE
#   tests/pg_autofailover.sh kill DIR                    -> SIGKILL of the node's keeper and
#                                                           PostgreSQL, as a machine lost
#   tests/pg_autofailover.sh run DIR                     -> the keeper started again
#   tests/pg_autofailover.sh stop DIR                    -> keeper and PostgreSQL stopped
set -euo pipefail
PGBIN=/usr/lib/postgresql/15/bin
cmd=${1:?usage: pg_autofailover.sh monitor|node|uri|wait|kill|run|stop DIR ...}
dir=$(realpath -m "${2:?directory}")
as_pg() {
    local env=(env "XDG_CONFIG_HOME=$dir/xdg/config" "XDG_DATA_HOME=$dir/xdg/data"
        "XDG_RUNTIME_DIR=$dir/xdg/run" "PG_AUTOCTL_DEBUG=")
    if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "${env[@]}" "$@"; else "${env[@]}" "$@"; fi
}
prepare_dir() {
    mkdir -p "$dir/xdg/config" "$dir/xdg/data" "$dir/xdg/run"
    chmod 700 "$dir/xdg/run"
    [ "$(id -u)" = 0 ] && chown -R postgres:postgres "$dir"
    return 0
}
# The keeper runs in a session of its own, so that kill reaches it and everything it started.
start_keeper() {
    as_pg setsid pg_autoctl run --pgdata "$dir/data" >>"$dir/keeper.log" 2>&1 </dev/null &
}
keeper_session() {
    ps -eo sid=,args= | awk -v want="pg_autoctl run --pgdata $dir/data" \
        'index($0, want) && $2 == "pg_autoctl" {print $1; exit}'
}
# The reported state of node NAME, asked through the monitor or node in $dir; empty while the
# node has not registered yet.
state_of() {
    as_pg pg_autoctl show state --pgdata "$dir/data" 2>/dev/null |
        awk -F'|' -v n="$1" '{gsub(/ /, "", $1); gsub(/ /, "", $6)} $1 == n {print $6}' || true
}
case "$cmd" in
monitor)
    port=${3:?port}
    prepare_dir
    as_pg pg_autoctl create monitor --pgdata "$dir/data" --pgport "$port" --hostname 127.0.0.1 \
        --listen 127.0.0.1 --auth trust --no-ssl --pgctl "$PGBIN/pg_ctl" >"$dir/create.log" 2>&1 ||
        { cat "$dir/create.log" >&2; exit 1; }
    start_keeper
    uri="postgres://autoctl_node@127.0.0.1:$port/pg_auto_failover?sslmode=disable"
    for _ in $(seq 1 150); do psql -X -q "$uri" -c "SELECT 1" >/dev/null 2>&1 && break; sleep 0.1; done
    # Notice a dead node within about 2 s, and promote its standby 3 s later.
    as_pg psql -X -q -h 127.0.0.1 -p "$port" -U postgres -d pg_auto_failover \
        -c "ALTER SYSTEM SET pgautofailover.health_check_period = 1000" \
        -c "ALTER SYSTEM SET pgautofailover.health_check_timeout = 1000" \
        -c "ALTER SYSTEM SET pgautofailover.health_check_max_retries = 1" \
        -c "ALTER SYSTEM SET pgautofailover.health_check_retry_delay = 500" \
        -c "ALTER SYSTEM SET pgautofailover.node_considered_unhealthy_timeout = 2000" \
        -c "ALTER SYSTEM SET pgautofailover.primary_demote_timeout = 3000" \
        -c "SELECT pg_reload_conf()" >/dev/null
    echo "$uri"
    ;;
node)
    port=${3:?port}
    monitor=${4:?monitor URI}
    name=${5:?node name}
    prepare_dir
    as_pg pg_autoctl create postgres --pgdata "$dir/data" --pgport "$port" --hostname 127.0.0.1 \
        --listen 127.0.0.1 --name "$name" --dbname suite --auth trust --no-ssl \
        --pgctl "$PGBIN/pg_ctl" --monitor "$monitor" >"$dir/create.log" 2>&1 ||
        { cat "$dir/create.log" >&2; exit 1; }
    # A primary that cannot reach the monitor nor its standby demotes itself after 3 s, before
    # the monitor promotes the standby: never two primaries.
    as_pg pg_autoctl config set --pgdata "$dir/data" timeout.network_partition_timeout 3 >/dev/null
    start_keeper
    for _ in $(seq 1 600); do
        case "$(state_of "$name")" in single | primary | secondary) exit 0 ;; esac
        sleep 0.1
    done
    echo "node $name did not become primary or secondary (see $dir/keeper.log)" >&2
    exit 1
    ;;
uri)
    as_pg pg_autoctl show uri --pgdata "$dir/data" --formation default
    ;;
wait)
    name=${3:?node name}
    want=${4:?state}
    for _ in $(seq 1 1200); do
        [ "$(state_of "$name")" = "$want" ] && exit 0
        sleep 0.1
    done
    echo "node $name is $(state_of "$name"), not $want" >&2
    exit 1
    ;;
kill)
    sid=$(keeper_session || true)
    [ -n "$sid" ] && pkill -KILL -s "$sid" || true
    [ -f "$dir/data/postmaster.pid" ] && kill -KILL "$(head -n1 "$dir/data/postmaster.pid")" 2>/dev/null || true
    ;;
run)
    start_keeper
    ;;
stop)
    sid=$(keeper_session || true)
    if [ -n "$sid" ]; then
        pkill -TERM -s "$sid" || true
        for _ in $(seq 1 100); do [ -z "$(keeper_session || true)" ] && break; sleep 0.1; done
        sid=$(keeper_session || true)
        [ -n "$sid" ] && pkill -KILL -s "$sid" || true
    fi
    if [ -f "$dir/data/postmaster.pid" ]; then
        as_pg "$PGBIN/pg_ctl" -D "$dir/data" -m immediate -w -t 30 stop >/dev/null 2>&1 || true
    fi
    ;;
*) echo "unknown command $cmd" >&2; exit 2 ;;
esac
