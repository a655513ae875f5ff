#!/usr/bin/env bash
# docs/install.md followed on a Debian root booted with systemd: the server package installed
# (as the previous version), PostgreSQL set up for desktops on other machines, TLS, the unit
# started; a desktop on another address (this test's side of the bridge) runs a consolidation
# through the screen; then the package is upgraded in place (the instance restarted on the new
# program, database and configuration kept), removed (no server left) and purged.
# The server machine is a throwaway one (machines.sh).
#   tests/tools/install_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$(cd "${1:?usage: install_test.sh BUILD_DIR SOURCE_DIR}" && pwd)
source_dir=$(cd "${2:?usage: install_test.sh BUILD_DIR SOURCE_DIR}" && pwd)
# shellcheck source=machines.sh
source "$(dirname "$0")/machines.sh" "$0" "$@"
tmp=$machines_tmp
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
step() { echo "[$SECONDS s] $*"; }
die() { echo "FAIL: $*"; exit 1; }

# The packages: this build's, and the same repacked as the version before it.
(cd "$build" && cpack --config CPackConfig.cmake -B "$tmp/out") > "$tmp/cpack.log" 2>&1 ||
    { cat "$tmp/cpack.log"; die "cpack"; }
new_deb=$(ls "$tmp"/out/rqc-appserver_*.deb)
version=$(dpkg-deb -f "$new_deb" Version)
dpkg-deb -R "$new_deb" "$tmp/old"
sed -i "s/^Version: .*/Version: 0.0.1/" "$tmp/old/DEBIAN/control"
dpkg-deb -b "$tmp/old" "$tmp/out/rqc-appserver_0.0.1_amd64.deb" > /dev/null || die "repacking the previous version"

step "The server machine"
for p in /usr/bin/rqc-appserver /etc/rqc/appserver.conf; do
    [ -e "$p" ] && die "$p is already on this machine: the test needs a root without the package"
done
machines_net 10.231.7.1/24
machine_boot appserver 10.231.7.2/24
machines_hosts '10.231.7.2 appserver.example.net'
cp "$tmp"/out/rqc-appserver_*.deb "$tmp/appserver/root/root/"
ct() { on appserver "$@"; }
ctsh() { onsh appserver "cd /root; $1"; }

step "1. Install (the previous version)"
ctsh "apt-get install -y ./rqc-appserver_0.0.1_amd64.deb" > "$tmp/apt.log" 2>&1 || { cat "$tmp/apt.log"; die "apt-get install"; }
[ "$(ct stat -c %U:%G:%a /etc/rqc/appserver.conf)" = root:rqc:640 ] || fail "appserver.conf is not root:rqc 640"

step "3. The certificate (section 2a needs it first), as typed"
ctsh 'cd /etc/rqc
    openssl req -x509 -newkey rsa:3072 -nodes -days 3650 -subj "/CN=rqc CA" -keyout ca.key -out ca.pem
    openssl req -newkey rsa:3072 -nodes -subj "/CN=appserver.example.net" -keyout appserver.key -out appserver.csr
    printf "subjectAltName=DNS:appserver.example.net\n" > appserver.ext
    openssl x509 -req -days 825 -in appserver.csr -CA ca.pem -CAkey ca.key -CAcreateserial -extfile appserver.ext -out appserver.crt
    chown root:rqc appserver.key
    chmod 640 appserver.key
    chmod 600 ca.key' > "$tmp/cert.log" 2>&1 || { cat "$tmp/cert.log"; die "the certificate commands"; }

step "2a. PostgreSQL for desktops on other machines; the company's network is the bridge's"
db_pw=senha-do-banco-1
desk_pw=senha-do-desktop-1
ana_pw=senha-da-ana-1
ctsh "[ -d /etc/postgresql/15/main ] || pg_createcluster 15 main --start
    systemctl start postgresql@15-main
    printf '$db_pw\n$db_pw\n' | runuser -u postgres -- createuser --pwprompt rqc
    runuser -u postgres -- createdb --owner rqc suite
    cat >> /etc/postgresql/15/main/postgresql.conf <<'EOF'
listen_addresses = '*'
ssl = on
ssl_cert_file = '/etc/postgresql/15/main/server.crt'
ssl_key_file = '/etc/postgresql/15/main/server.key'
EOF
    install -o postgres -m 644 /etc/rqc/appserver.crt /etc/postgresql/15/main/server.crt
    install -o postgres -m 600 /etc/rqc/appserver.key /etc/postgresql/15/main/server.key
    cat >> /etc/postgresql/15/main/pg_hba.conf <<'EOF'
host     suite  rqc          127.0.0.1/32    scram-sha-256
hostssl  suite  rqc_desktop  10.231.7.0/24   scram-sha-256
EOF
    systemctl restart postgresql@15-main
    printf 'localhost:5432:suite:rqc:$db_pw\n' > /var/lib/rqc/.pgpass
    chown rqc /var/lib/rqc/.pgpass
    chmod 600 /var/lib/rqc/.pgpass
    sed -i 's|^db = .*|db = postgresql://rqc@localhost/suite|' /etc/rqc/appserver.conf
    runuser -u rqc -- rqc-suitedb init --db postgresql://rqc@localhost/suite --empty
    RQC_PASSWORD=$desk_pw runuser -u postgres -- rqc-suitedb desktop-role --db postgresql:///suite rqc_desktop" \
    > "$tmp/pg.log" 2>&1 || { cat "$tmp/pg.log"; die "section 2a"; }

step "2b. The first operator; the company's data from its feed (the example files, dated today)"
today=$(date +%d/%m/%Y)
mkdir -p "$tmp/appserver/root/srv/feed"
for f in "$source_dir"/packaging/exemplos/*.csv; do
    sed -E "2,\$s#[0-9]{2}/[0-9]{2}/20[0-9]{2}#$today#g" "$f" > "$tmp/appserver/root/srv/feed/$(basename "$f")"
done
chmod -R a+rX "$tmp/appserver/root/srv/feed"
ctsh "export RQC_PASSWORD=$ana_pw
    runuser -u rqc -- rqc-suitedb operator add --db postgresql://rqc@localhost/suite ANA --name 'Ana Lima'
    runuser -u rqc -- rqc-suitedb operator grant --db postgresql://rqc@localhost/suite ANA Rqc04100.rdmConsolidaSolicita
    runuser -u rqc -- rqc-suitedb import --db postgresql://rqc@localhost/suite /srv/feed/*.csv" \
    > "$tmp/operator.log" 2>&1 || { cat "$tmp/operator.log"; die "section 2b and the import"; }

step "3 (end) and 4. TLS on, every address, the unit started"
ctsh "sed -i 's|^# *tls-cert|tls-cert|; s|^# *tls-key|tls-key|' /etc/rqc/appserver.conf
    echo 'RQC_HOST=0.0.0.0' > /etc/default/rqc-appserver
    systemctl daemon-reload
    systemctl enable --now rqc-appserver@4100" > "$tmp/start.log" 2>&1 ||
    { cat "$tmp/start.log"; ct journalctl -u rqc-appserver@4100 --no-pager | tail -20; die "systemctl enable --now"; }

step "5. A first call from the server itself"
ct env RQC_PASSWORD=$ana_pw rqc-call --server appserver.example.net:4100 --operator ANA \
    --ca-file /etc/rqc/ca.pem Rqc04100.rdmConsolidaSolicita GetParaCmpSup r:0001 > "$tmp/call.out" 2>&1
grep -q '^IDUTPRODPREF' "$tmp/call.out" || { cat "$tmp/call.out"; fail "the first call"; }

step "6. The desktop, on this side of the bridge: the server and the database by name, over TLS"
cp "$tmp/appserver/root/etc/rqc/ca.pem" "$tmp/ca.pem"
cat > "$tmp/suite.ini" <<EOF
[Filial]
Processamento=0001
[Servidor]
Host=appserver.example.net
Porta=4100
CertificadoCA=$tmp/ca.pem
[Banco]
Engine=postgres
Host=appserver.example.net
Nome=suite
Usuario=rqc_desktop
Senha=$desk_pw
ModoSSL=verify-full
CertificadoCA=$tmp/ca.pem
EOF
desktop() {
    RQC_OPERATOR=ANA RQC_PASSWORD=$ana_pw QT_QPA_PLATFORM=offscreen timeout 120 \
        "$build/bin/rqc-demo-run" --config "$tmp/suite.ini" "$tmp/shots" > "$tmp/desktop.log" 2>&1
}
desktop || { cat "$tmp/desktop.log"; fail "the desktop's first consolidation"; }
grep 'Solicitação consolidada foi gerada' "$tmp/desktop.log"
sql() { ct runuser -u postgres -- psql -d suite -tAc "$1"; }
consolidated=$(sql 'SELECT count(*) FROM CONSSOLI')
[ "$consolidated" = 1 ] || fail "CONSSOLI has $consolidated rows after the first consolidation"

step "Upgrade in place, the instance running: restarted on the new program, everything kept"
pid_before=$(ct systemctl show -p MainPID --value rqc-appserver@4100)
ctsh "apt-get install -y ./$(basename "$new_deb")" > "$tmp/upgrade.log" 2>&1 || { cat "$tmp/upgrade.log"; fail "the upgrade"; }
ct runuser -u rqc -- rqc-suitedb migrate --db postgresql://rqc@localhost/suite > "$tmp/migrate.log" 2>&1 ||
    { cat "$tmp/migrate.log"; fail "migrate after the upgrade"; }
pid_after=$(ct systemctl show -p MainPID --value rqc-appserver@4100)
[ "$(ct dpkg-query -W -f '${Version}' rqc-appserver)" = "$version" ] || fail "the upgrade did not install $version"
[ "$pid_after" != 0 ] && [ "$pid_after" != "$pid_before" ] || fail "the upgrade did not restart the server ($pid_before, $pid_after)"
exe=$(ct readlink "/proc/$pid_after/exe")
[ "$exe" = /usr/bin/rqc-appserver ] || fail "the server runs $exe after the upgrade"
ct grep -qx 'db = postgresql://rqc@localhost/suite' /etc/rqc/appserver.conf || fail "the upgrade lost the configuration"
RQC_PASSWORD=$ana_pw "$build/bin/rqc-call" --server appserver.example.net:4100 --operator ANA \
    --ca-file "$tmp/ca.pem" Rqc04100.rdmConsolidaSolicita GetParaCmpSup r:0001 > "$tmp/call2.out" 2>&1 ||
    { cat "$tmp/call2.out"; fail "a desktop's call after the upgrade"; }
[ "$(sql 'SELECT count(*) FROM CONSSOLI')" = 1 ] || fail "the upgrade lost the consolidation"

step "Remove: no server left, no enable link; purge: the configuration and logs go, the data stays"
ctsh "apt-get remove -y rqc-appserver" > "$tmp/remove.log" 2>&1 || { cat "$tmp/remove.log"; fail "apt-get remove"; }
ct pgrep -x rqc-appserver && fail "a server still runs after apt-get remove"
ct sh -c 'ls /etc/systemd/system/*.wants/ | grep rqc-appserver' && fail "an enable link is left after remove"
ct test -e /etc/rqc/appserver.conf || fail "remove took the configuration"
ctsh "apt-get purge -y rqc-appserver" > "$tmp/purge.log" 2>&1 || { cat "$tmp/purge.log"; fail "apt-get purge"; }
ct test -e /etc/rqc/appserver.conf && fail "purge left appserver.conf"
ct test -e /var/log/rqc && fail "purge left /var/log/rqc"
[ "$(sql 'SELECT count(*) FROM CONSSOLI')" = 1 ] || fail "purge touched the database"

[ "$failures" = 0 ] && echo "install test passed"
exit $((failures > 0))
