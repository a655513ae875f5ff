#!/usr/bin/env bash
# Installs what is missing, builds, and runs the product on its embedded default: the demo
# SQLite database var/rqc.db, rqc-appserver on 127.0.0.1:4100, and the host with the screen
# "Consolidação de Solicitação" open. Without a display the host runs offscreen, saves a
# screenshot under var/ and exits.
#   ./run.sh            server + host
#   ./run.sh --server   the server alone, in the foreground
set -euo pipefail
cd "$(dirname "$0")"
mode=${1:-all}
port=${RQC_PORT:-4100}

bash scripts/install_deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
echo "Building into build/ ..."
if ! cmake --build build -j"$(nproc)" > build/build.log 2>&1; then
    grep -E -A5 "error|Error" build/build.log | head -n 60
    echo "build failed (full log: build/build.log)" >&2
    exit 1
fi

mkdir -p var
if [ ! -f var/rqc.db ]; then
    build/bin/rqc-suitedb init --db var/rqc.db --demo
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
    QT_QPA_PLATFORM=offscreen build/bin/suite --config var/suite.ini --demo-run "$PWD/var"
fi
