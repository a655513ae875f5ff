#!/usr/bin/env bash
# Builds the two Debian packages, rqc-appserver and rqc-suite, from the programs and screen
# modules of a build folder (built first when needed), and checks them with lintian.
#   scripts/package.sh [BUILD_DIR [OUT_DIR]]     defaults: build, dist
# Prints the packages' paths; `apt-get install ./OUT_DIR/rqc-appserver_*.deb` installs one
# with what it depends on.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:-build}
out_dir=${2:-dist}

bash scripts/install_deps.sh
bash scripts/build.sh "$build_dir" product >/dev/null
mkdir -p "$out_dir"
out_dir=$(cd "$out_dir" && pwd)
rm -f "$out_dir"/rqc-appserver_*.deb "$out_dir"/rqc-suite_*.deb
if ! (cd "$build_dir" && cpack --config CPackConfig.cmake -B "$out_dir/cpack" > "$out_dir/cpack.log" 2>&1); then
    cat "$out_dir/cpack.log" >&2
    echo "cpack failed" >&2
    exit 1
fi
mv "$out_dir"/cpack/*.deb "$out_dir"/
rm -rf "$out_dir/cpack"
if command -v lintian >/dev/null; then
    # Only the warnings docs/install.md explains remain; an error fails the script.
    lintian --fail-on error "$out_dir"/rqc-appserver_*.deb "$out_dir"/rqc-suite_*.deb || {
        echo "lintian found errors" >&2
        exit 1
    }
fi
ls -l "$out_dir"/*.deb | awk '{print $5, $9}'
