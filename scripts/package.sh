#!/usr/bin/env bash
# Makes the Debian package from the build folder (building what is missing first) and prints its
# path: tovrel_VERSION_ARCH.deb in the repository's folder. Install it with
#   sudo apt-get install ./tovrel_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
ensure_packages
build_all
rm -f tovrel_*.deb
(cd build && cpack -G DEB -B "$PWD/package" >package.log 2>&1) || {
    tail -n 40 build/package.log >&2
    echo "The package could not be made; the whole log is in build/package.log" >&2
    exit 1
}
deb=$(ls build/package/tovrel_*.deb)
mv "$deb" .
ls "$PWD/$(basename "$deb")"
