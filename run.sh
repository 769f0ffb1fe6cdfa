#!/usr/bin/env bash
# Installs what is missing, builds, and starts Tovrel; `./run.sh cli ARGS...` runs tovrel-cli.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/common.sh
ensure_packages
build_all

if [ "${1:-}" = cli ]; then
    shift
    exec build/src/tovrel-cli "$@"
fi

# The web views run Chromium, whose sandbox refuses to start as root.
if [ "$(id -u)" -eq 0 ]; then
    export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---no-sandbox}"
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found: start Tovrel inside a desktop session (or under Xvfb with DISPLAY set)." >&2
    exit 1
fi
exec build/src/Tovrel "$@"
