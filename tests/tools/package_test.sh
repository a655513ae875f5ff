#!/usr/bin/env bash
# The Debian packages built from this build folder: their file lists, lintian, and the
# programs extracted from them running against a new database (a login and a call),
# systemd-analyze verify on the extracted unit, and what the maintainer scripts ask systemd.
#   tests/tools/package_test.sh BUILD_DIR
set -uo pipefail
build=$(cd "${1:?usage: package_test.sh BUILD_DIR}" && pwd)
tmp=$(mktemp -d /tmp/rqc-package-XXXXXX)
server_pid=""
cleanup() {
    if [ -n "$server_pid" ]; then
        kill -TERM "$server_pid" 2>/dev/null
        wait "$server_pid" 2>/dev/null
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

(cd "$build" && cpack --config CPackConfig.cmake -B "$tmp/out") > "$tmp/cpack.log" 2>&1 ||
    { cat "$tmp/cpack.log"; echo "FAIL: cpack"; exit 1; }
server_deb=$(ls "$tmp"/out/rqc-appserver_*.deb 2>/dev/null)
suite_deb=$(ls "$tmp"/out/rqc-suite_*.deb 2>/dev/null)
[ -f "$server_deb" ] && [ -f "$suite_deb" ] || { ls "$tmp/out"; echo "FAIL: two packages"; exit 1; }
ls -l "$server_deb" "$suite_deb" | awk '{print "package size:", $5, $9}'

# File lists: what each package must hold, its conffiles, and no test or benchmark program.
libdir=usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/rqc
check_list() {
    local deb=$1
    shift
    local files
    files=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./||')
    for f in "$@"; do
        grep -qx "$f" <<<"$files" || fail "$(basename "$deb") lacks $f"
    done
    if grep -E '_test$|/bench|bench_|rqc-demo-run|/tests?/|fuzz' <<<"$files"; then
        fail "$(basename "$deb") holds a test or benchmark file"
    fi
}
check_list "$server_deb" usr/bin/rqc-appserver usr/bin/rqc-suitedb usr/bin/rqc-call \
    'lib/systemd/system/rqc-appserver@.service' usr/lib/sysusers.d/rqc.conf \
    etc/rqc/appserver.conf etc/logrotate.d/rqc-appserver usr/share/doc/rqc-appserver/copyright \
    lib/systemd/system/rqc-import.service lib/systemd/system/rqc-import.timer etc/rqc/import.conf \
    usr/share/doc/rqc-appserver/import.md usr/share/doc/rqc-appserver/schema.md \
    usr/share/doc/rqc-appserver/go-live.md usr/share/doc/rqc-appserver/exemplos/SOLICMP.csv
check_list "$suite_deb" usr/bin/suite "$libdir/suite" "$libdir/librqc04100.so" \
    "$libdir/librqc04200.so" "$libdir/libvlm.so" "$libdir/libvlm_core.so" \
    usr/share/rqc/help/12800100.html usr/share/applications/rqc-suite.desktop \
    usr/share/icons/hicolor/scalable/apps/rqc-suite.svg etc/rqc/suite.ini
[ "$(dpkg-deb -f "$server_deb" Depends | grep -o 'libpq5\|libsodium23\|libsystemd0' | sort -u | wc -l)" = 3 ] ||
    fail "rqc-appserver does not depend on libpq5, libsodium23 and libsystemd0"
dpkg-deb -f "$suite_deb" Depends | grep 'libqt6widgets6' >/dev/null || fail "rqc-suite does not depend on Qt"
mkdir -p "$tmp/control"
dpkg-deb -e "$server_deb" "$tmp/control/server"
dpkg-deb -e "$suite_deb" "$tmp/control/suite"
grep -qx /etc/rqc/appserver.conf "$tmp/control/server/conffiles" || fail "appserver.conf is no conffile"
grep -qx /etc/rqc/suite.ini "$tmp/control/suite/conffiles" || fail "suite.ini is no conffile"
grep -q systemd-sysusers "$tmp/control/server/postinst" || fail "postinst makes no rqc user"

if command -v lintian >/dev/null; then
    lintian --fail-on error "$server_deb" "$suite_deb" > "$tmp/lintian.log" 2>&1 ||
        { cat "$tmp/lintian.log"; fail "lintian reports errors"; }
    # The warnings docs/install.md explains, and no other (sanitizer builds add their own).
    if ! grep -q '^RQC_SANITIZE:BOOL=ON' "$build/CMakeCache.txt" &&
        grep -E '^[EW]:' "$tmp/lintian.log" |
        grep -v 'no-manual-page\|rqc-appserver: maintainer-script-calls-systemctl'; then
        fail "lintian warnings not in docs/install.md"
    fi
else
    echo "lintian not installed: skipped"
fi

# The extracted programs, against a new database. (grep reads all of a pipe's output here: with
# pipefail, `grep -q` leaving early fails the pipeline when the writer gets SIGPIPE.)
root=$tmp/root
dpkg-deb -x "$server_deb" "$root"
dpkg-deb -x "$suite_deb" "$root"
# The host finds libvlm beside itself, and starts through its link on the PATH.
ldd "$root/$libdir/suite" | grep "$root/$libdir/libvlm.so" >/dev/null || fail "the host does not take libvlm beside it"
QT_QPA_PLATFORM=offscreen "$root/usr/bin/suite" --help 2>&1 | grep -- '--config' >/dev/null ||
    fail "the extracted host does not start"
db=$tmp/rqc.db
"$root/usr/bin/rqc-suitedb" init --db "$db" --empty > "$tmp/init.log" 2>&1 || fail "init"
grep -q "rqc-suitedb operator add --db $db" "$tmp/init.log" || { cat "$tmp/init.log"; fail "init does not say how to add an operator"; }
export RQC_PASSWORD=senha-do-teste
"$root/usr/bin/rqc-suitedb" operator add --db "$db" ANA --name "Ana" > /dev/null || fail "operator add"
"$root/usr/bin/rqc-suitedb" operator grant --db "$db" ANA Rqc04100.rdmConsolidaSolicita > /dev/null ||
    fail "operator grant"
"$root/usr/bin/rqc-appserver" --db "$db" --listen 127.0.0.1:0 --port-file "$tmp/port" 2> "$tmp/server.log" &
server_pid=$!
for _ in $(seq 1 300); do [ -s "$tmp/port" ] && break; sleep 0.05; done
if [ -s "$tmp/port" ]; then
    "$root/usr/bin/rqc-call" --server "127.0.0.1:$(cat "$tmp/port")" --operator ANA \
        Rqc04100.rdmConsolidaSolicita GetParaCmpSup r:0001 > "$tmp/call.out" 2> "$tmp/call.err" ||
        { cat "$tmp/call.err"; fail "rqc-call"; }
    grep -q '^IDUTPRODPREF' "$tmp/call.out" || { cat "$tmp/call.out"; fail "no answer packet"; }
    grep -q 'ref 1: 0001' "$tmp/call.out" || fail "no by-reference value"
else
    cat "$tmp/server.log"
    fail "the extracted rqc-appserver did not start"
fi
kill -TERM "$server_pid"
wait "$server_pid" || fail "rqc-appserver did not stop cleanly on SIGTERM"
server_pid=""

# systemd-analyze verify needs the unit's program at its path: a copy of the unit naming the
# extracted one, for one instance, is verified with every other line as packaged.
if command -v systemd-analyze >/dev/null; then
    mkdir -p "$tmp/unit"
    sed "s|/usr/bin/rqc-appserver|$root/usr/bin/rqc-appserver|" \
        "$root/lib/systemd/system/rqc-appserver@.service" > "$tmp/unit/rqc-appserver@4100.service"
    if ! systemd-analyze verify "$tmp/unit/rqc-appserver@4100.service" > "$tmp/verify.log" 2>&1 ||
        [ -s "$tmp/verify.log" ]; then
        cat "$tmp/verify.log"
        fail "systemd-analyze verify"
    fi
fi

# The maintainer scripts, each run in a mount namespace of its own where systemd "runs"
# (/run/systemd/system), an instance is enabled, /var/lib and /var/log are empty, and systemctl
# and the file tools are stubs that log their arguments: what the scripts ask on an install, an
# upgrade, a remove and a purge.
if [ "$(id -u)" = 0 ] && unshare -m true 2>/dev/null; then
    stubs="$tmp/stubs"
    mkdir -p "$stubs" /etc/systemd/system
    for c in systemctl chown chmod systemd-sysusers dpkg-statoverride; do
        cat > "$stubs/$c" <<'STUB'
#!/bin/sh
echo "$(basename "$0") $*" >> "$RQC_STUB_LOG"
case "$(basename "$0") $1" in
"systemctl list-units") echo "rqc-appserver@4100.service loaded active running rqc-appserver" ;;
"dpkg-statoverride --list") exit 1 ;;
esac
exit 0
STUB
        chmod +x "$stubs/$c"
    done
    # maintainer SCRIPT ARGS...: runs it; the stubs' log is left in $tmp/stub.log and the enable
    # links still there after it in $tmp/links.
    maintainer() {
        local script="$tmp/control/server/$1"
        shift
        : > "$tmp/stub.log"
        RQC_STUB_LOG="$tmp/stub.log" STUBS="$stubs" OUT="$tmp/links" unshare -m sh -c '
            mount -t tmpfs none /run && mkdir -p /run/systemd/system &&
            mount -t tmpfs none /etc/systemd/system &&
            mkdir /etc/systemd/system/multi-user.target.wants &&
            ln -s /lib/systemd/system/rqc-appserver@.service \
                /etc/systemd/system/multi-user.target.wants/rqc-appserver@4200.service &&
            mount -t tmpfs none /var/lib && mount -t tmpfs none /var/log || exit 9
            PATH="$STUBS:$PATH" sh "$@" || exit $?
            ls /etc/systemd/system/multi-user.target.wants > "$OUT"' sh "$script" "$@" ||
            fail "$(basename "$script") $* failed"
    }
    logged() { grep -Fx -- "$1" "$tmp/stub.log" >/dev/null; }
    maintainer postinst configure ""
    logged "systemctl daemon-reload" || fail "a new install does not reload systemd"
    logged "systemctl try-restart rqc-appserver@*.service" && fail "a new install restarts servers"
    maintainer postinst configure 0.0.9
    logged "systemctl try-restart rqc-appserver@*.service" ||
        fail "an upgrade leaves the servers running the old program"
    maintainer prerm upgrade 0.2.0
    grep '^systemctl stop' "$tmp/stub.log" >/dev/null && fail "an upgrade stops the servers"
    maintainer prerm remove
    for port in 4100 4200; do
        logged "systemctl stop rqc-appserver@$port.service" || fail "remove leaves $port running"
        logged "systemctl disable rqc-appserver@$port.service" || fail "remove leaves $port enabled"
    done
    maintainer postrm purge
    [ -s "$tmp/links" ] && fail "purge leaves the enable link $(cat "$tmp/links")"
else
    echo "maintainer scripts not run: they need root and unshare -m"
fi

[ "$failures" = 0 ] && echo "package test passed"
exit $((failures > 0))
