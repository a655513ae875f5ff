#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the product need, when missing.
# Idempotent and non-interactive; run as root (or with sudo available).
set -euo pipefail

RQC_PACKAGES=(
    build-essential cmake pkg-config git
    qt6-base-dev libqt6sql6-sqlite libqt6sql6-psql libqt6sql6-ibase qt6-qpa-plugins
    libasio-dev libsqlite3-dev libpq-dev libcli11-dev libspdlog-dev libssl-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    postgresql firebird3.0-server firebird3.0-utils firebird-dev
    sqlite3 xvfb xauth procps fonts-dejavu-core
    libsodium-dev qt6-translations-l10n haproxy openssl clang libclang-rt-14-dev ccache clang-format
    libsystemd-dev systemd prometheus-cpp-dev lintian debhelper dpkg-dev fakeroot poppler-utils iproute2 util-linux
    pg-auto-failover-cli postgresql-15-auto-failover systemd-container
)

missing=()
for p in "${RQC_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing missing packages: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" = 0 ] || SUDO="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
