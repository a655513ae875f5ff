#!/usr/bin/env bash
# Installs what is missing, builds, and runs the product on its embedded default: the demo
# SQLite database var/rqc.db, rqc-appserver on 127.0.0.1:4100, and the host with the screen
# "Consolidação de Solicitação" open. Without a display the host runs offscreen, saves a
# screenshot under var/ and exits.
#   ./run.sh            server + host
#   ./run.sh --server   the server alone, in the foreground
#   ./run.sh --cluster  three servers behind haproxy on port 4100, on a throwaway
#                       pg_auto_failover formation (a monitor, a primary and its secondary)
set -euo pipefail
cd "$(dirname "$0")"
mode=${1:-all}
port=${RQC_PORT:-4100}

bash scripts/install_deps.sh
# Only the programs and screen modules: the tests and benchmarks are ./test.sh's and bench/run.sh's.
echo "Building the programs into build/ ..."
bash scripts/build.sh build product || exit 1

mkdir -p var
if [ ! -f var/rqc.db ]; then
    build/bin/rqc-suitedb init --db var/rqc.db --demo
else
    # A demo database made by an older version is upgraded in place (nothing when current).
    build/bin/rqc-suitedb migrate --db var/rqc.db
fi
# Operators log in; the demo data has this one (the login dialog asks for it). The runs
# without a window and the tools started here take it from the environment.
echo "Demo login: operator COMP001, password rqc04100"
export RQC_OPERATOR=${RQC_OPERATOR:-COMP001} RQC_PASSWORD=${RQC_PASSWORD:-rqc04100}

if [ "$mode" = "--cluster" ]; then
    # A throwaway pg_auto_failover formation (a monitor and two nodes) with the demo data,
    # servers on the next ports (health answers 10 ports above, metrics 20 above), haproxy in
    # front on $port;
    # everything is stopped by its pid on exit.
    mkdir -p var/cluster
    formation=$(mktemp -d)
    chmod 755 "$formation"
    pids=()
    stop_cluster() {
        for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill -TERM "${pids[i]}" 2>/dev/null || true; done
        for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
        for d in node1 node2 monitor; do tests/pg_autofailover.sh stop "$formation/$d" >/dev/null 2>&1 || true; done
        rm -rf "$formation"
    }
    trap stop_cluster EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    pg_port=${RQC_PG_PORT:-$((port + 1000))}
    monitor=$(tests/pg_autofailover.sh monitor "$formation/monitor" "$pg_port") ||
        { echo "the pg_auto_failover monitor did not start" >&2; exit 1; }
    for n in 1 2; do
        tests/pg_autofailover.sh node "$formation/node$n" $((pg_port + n)) "$monitor" "node$n" ||
            { echo "PostgreSQL node $n did not start" >&2; exit 1; }
    done
    tests/pg_autofailover.sh wait "$formation/monitor" node2 secondary
    tests/pg_autofailover.sh wait "$formation/monitor" node1 primary
    # The servers follow whichever node accepts writes.
    pg_url="postgresql://postgres@127.0.0.1:$((pg_port + 1)),127.0.0.1:$((pg_port + 2))/suite?target_session_attrs=read-write"
    build/bin/rqc-suitedb init --db "$pg_url" --demo >/dev/null
    # The desktop reads the look-ups as its own read-only role, never as the servers' role.
    RQC_PASSWORD=rqc-desktop build/bin/rqc-suitedb desktop-role --db "$pg_url" rqc_desktop >/dev/null
    backends=""
    fallbacks=""
    for n in 1 2 3; do
        p=$((port + n))
        rm -f "var/cluster/appserver-$n.port"
        build/bin/rqc-appserver --db "$pg_url" --listen "127.0.0.1:$p" --threads 4 \
            --log-file "var/cluster/appserver-$n.log" --port-file "var/cluster/appserver-$n.port" \
            --health-listen "127.0.0.1:$((p + 10))" --metrics-listen "127.0.0.1:$((p + 20))" \
            --trusted-proxies 127.0.0.1 \
            2>>"var/cluster/appserver-$n.log" &
        pids+=($!)
        backends+="    server s$n 127.0.0.1:$p port $((p + 10)) send-proxy-v2"$'\n'
        fallbacks+="    server s$n-fallback 127.0.0.1:$p backup no-check send-proxy-v2"$'\n'
    done
    for n in 1 2 3; do
        for _ in $(seq 1 200); do [ -s "var/cluster/appserver-$n.port" ] && break; sleep 0.05; done
        [ -s "var/cluster/appserver-$n.port" ] || { cat "var/cluster/appserver-$n.log"; echo "server $n did not start" >&2; exit 1; }
    done
    cat > var/cluster/haproxy.cfg <<CFG
global
    maxconn 4000
    stats socket $PWD/var/cluster/haproxy.sock mode 600 level admin
defaults
    mode tcp
    timeout connect 5s
    timeout client 30m
    timeout server 30m
    timeout check 2s
    retries 3
    option redispatch
frontend rqc
    bind 127.0.0.1:$port
    default_backend appservers
backend appservers
    balance leastconn
    # Each server's readiness (GET /ready): 200 while its database accepts writes.
    option httpchk GET /ready
    http-check expect status 200
    default-server check inter 500ms fall 2 rise 1
$backends
    # No server passing its check (no database): the same servers unchecked, to say why.
    option allbackups
$fallbacks
CFG
    PATH="$PATH:/usr/sbin:/sbin" haproxy -f var/cluster/haproxy.cfg -db > var/cluster/haproxy.log 2>&1 &
    pids+=($!)
    for _ in $(seq 1 100); do
        build/bin/rqc-call --server "127.0.0.1:$port" Rqc04100.rdmConsolidaSolicita GetParaCmpSup r:0001 \
            >/dev/null 2>&1 && break
        sleep 0.1
    done
    echo "haproxy on 127.0.0.1:$port in front of rqc-appserver on ports $((port + 1))-$((port + 3))"
    echo "PostgreSQL (demo data): pg_auto_failover monitor on port $pg_port, nodes on $((pg_port + 1)) and $((pg_port + 2))"
    echo "  lose the primary: tests/pg_autofailover.sh kill $formation/node1 (the monitor promotes node2)"
    echo "  bring it back:    tests/pg_autofailover.sh run $formation/node1 (it rejoins as secondary)"
    echo "Metrics: http://127.0.0.1:$((port + 21))/metrics, $((port + 22)), $((port + 23)) (docs/operations.md)"
    echo "Logs and haproxy.cfg in var/cluster/"
    echo "Try: RQC_PASSWORD=rqc04100 build/bin/rqc-call --server 127.0.0.1:$port --operator COMP001 Rqc04100.rdmConsolidaSolicita GetParaCmpSup r:0001"
    cat > var/cluster/suite.ini <<INI
[Filial]
Processamento=0001
Fixa=false

[Servidor]
Host=127.0.0.1
Porta=$port

[Banco]
Engine=postgres
Host=127.0.0.1
Porta=$((pg_port + 1))
Nome=suite
Usuario=rqc_desktop
Senha=rqc-desktop
INI
    if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
        build/bin/suite --config var/cluster/suite.ini --open RQC04100
    else
        echo "Ctrl+C stops everything (the screen: build/bin/suite --config var/cluster/suite.ini)"
        wait "${pids[@]}"
    fi
    exit 0
fi

if [ "$mode" = "--server" ]; then
    echo "rqc-appserver on 127.0.0.1:$port (Ctrl+C stops it)"
    exec build/bin/rqc-appserver --db var/rqc.db --listen "127.0.0.1:$port"
fi

cat > var/suite.ini <<INI
[Filial]
Processamento=0001
Fixa=false

[Servidor]
Host=127.0.0.1
Porta=$port

[Banco]
Engine=sqlite
Caminho=rqc.db
INI

rm -f var/appserver.port
build/bin/rqc-appserver --db var/rqc.db --listen "127.0.0.1:$port" \
    --port-file var/appserver.port 2> var/appserver.log &
server_pid=$!
stop_server() {
    kill -TERM "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
}
trap stop_server EXIT
for _ in $(seq 1 200); do
    [ -s var/appserver.port ] && break
    kill -0 "$server_pid" 2>/dev/null || { cat var/appserver.log; echo "the server did not start" >&2; exit 1; }
    sleep 0.05
done
echo "rqc-appserver listening on 127.0.0.1:$port (log: var/appserver.log)"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    build/bin/suite --config var/suite.ini --open RQC04100
else
    # No display: open the screen offscreen and run one consolidation through it, as a user's
    # clicks would, saving screenshots of the screen, a picker and the result under var/.
    shot="$PWD/var/screenshot-$(date +%Y%m%d-%H%M%S).png"
    QT_QPA_PLATFORM=offscreen build/bin/suite --config var/suite.ini --open RQC04100 \
        --screenshot "$shot"
    echo "No display: the screen ran offscreen; screenshot saved to $shot"
    QT_QPA_PLATFORM=offscreen build/bin/rqc-demo-run --config var/suite.ini "$PWD/var"
fi
