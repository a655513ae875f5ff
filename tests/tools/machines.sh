# Throwaway Debian machines for the tests that follow the documents as an operator would:
# this machine's own root under an overlay whose changes live in a temporary folder, booted
# with systemd by systemd-nspawn on a bridge in a network namespace of the test's own. Sourced
# by a test script run as root; the script re-runs itself inside new mount and network
# namespaces first, so neither the mounts nor the addresses reach this machine.
#
#   source machines.sh "$0" "$@"       # returns only inside the namespaces (or exits 77)
#   machines_net 10.0.0.1/24           # the bridge, with this side's address
#   machine_boot db1 10.0.0.5/24       # a machine on it, booted
#   on db1 CMD...; onsh db1 'SCRIPT'   # as root there, with a login's environment
# Cleanup (every machine stopped, every overlay removed) runs at exit.

if [ "$(id -u)" != 0 ] || ! command -v systemd-nspawn >/dev/null || ! unshare -m -n true 2>/dev/null; then
    echo "skipped: needs root, systemd-nspawn (systemd-container) and namespaces"
    exit 77
fi
if [ -z "${RQC_MACHINES_NS:-}" ]; then
    exec env RQC_MACHINES_NS=1 unshare -m -n --propagation private bash "$@"
fi

machines_tmp=$(mktemp -d /tmp/rqc-machines-XXXXXX)
declare -A machine_pid machine_init
machines_cleanup() {
    local name
    for name in "${!machine_pid[@]}"; do
        # The machine's init taken down takes every process of its PID namespace with it.
        [ -n "${machine_init[$name]:-}" ] && kill -KILL "${machine_init[$name]}" 2>/dev/null
    done
    for name in "${!machine_pid[@]}"; do
        for _ in $(seq 1 100); do kill -0 "${machine_pid[$name]}" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "${machine_pid[$name]}" 2>/dev/null
        wait "${machine_pid[$name]}" 2>/dev/null
        umount -l "$machines_tmp/$name/root" 2>/dev/null
    done
    rm -rf "$machines_tmp"
}
trap machines_cleanup EXIT
ip link set lo up

machines_net() {
    ip link add rqcbr type bridge && ip addr add "$1" dev rqcbr && ip link set rqcbr up ||
        { echo "FAIL: the bridge"; exit 1; }
}

# machine_boot NAME ADDRESS/PREFIX: boots NAME; its files are "$machines_tmp/NAME/root".
machine_boot() {
    local name=$1 address=$2 dir=$machines_tmp/$1 unit pid=""
    mkdir -p "$dir"/{upper,work,root}
    mount -t overlay overlay -o "lowerdir=/,upperdir=$dir/upper,workdir=$dir/work" "$dir/root" ||
        { echo "skipped: no overlay file system here"; exit 77; }
    rm -f "$dir/root/etc/machine-id"
    systemd-id128 new > "$dir/root/etc/machine-id"
    echo "$name" > "$dir/root/etc/hostname"
    # What would start on this machine's image and is not under test.
    for unit in haproxy firebird3.0 ssh cron nginx memcached redis-server pgautofailover; do
        ln -sf /dev/null "$dir/root/etc/systemd/system/$unit.service"
    done
    systemd-nspawn -q -D "$dir/root" -M "$name" --register=no --keep-unit --link-journal=no \
        --network-bridge=rqcbr -b > "$dir/boot.log" 2>&1 < /dev/null &
    machine_pid[$name]=$!
    for _ in $(seq 1 100); do
        pid=$(ps -o pid= --ppid "${machine_pid[$name]}" | tr -d ' ' | head -1)
        [ -n "$pid" ] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = systemd ] && break
        pid=""
        sleep 0.1
    done
    [ -n "$pid" ] || { cat "$dir/boot.log"; echo "FAIL: $name did not boot"; exit 1; }
    machine_init[$name]=$pid
    timeout 120 bash -c "until nsenter -t $pid -a systemctl is-system-running 2>/dev/null |
        grep -qE 'running|degraded'; do sleep 0.5; done" ||
        { tail -20 "$dir/boot.log"; echo "FAIL: $name: systemd did not finish booting"; exit 1; }
    on "$name" ip addr add "$address" dev host0 && on "$name" ip link set host0 up ||
        { echo "FAIL: $name's address"; exit 1; }
}

on() {
    local name=$1
    shift
    nsenter -t "${machine_init[$name]}" -a env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
        LANG=C.UTF-8 "$@"
}
onsh() { on "$1" sh -ec "cd /; $2"; }

# machines_hosts "ADDRESS NAME"...: the names, on every machine booted so far and on this side.
machines_hosts() {
    local name
    for name in "${!machine_pid[@]}"; do
        printf '%s\n' "$@" >> "$machines_tmp/$name/root/etc/hosts"
    done
    { cat /etc/hosts; printf '%s\n' "$@"; } > "$machines_tmp/hosts"
    mount --bind "$machines_tmp/hosts" /etc/hosts
}
