# Shared by run.sh and test.sh: install what is missing, then configure and build.

# Every Debian 12 package the build, the tests and the program need.
TOVREL_PACKAGES=(
    cmake g++ make pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libqt6sql6-sqlite
    qt6-webengine-dev
    libcurl4-openssl-dev libssl-dev openssl
    libzstd-dev
    libgl-dev
    libbenchmark-dev
    qt6-translations-l10n
    fonts-liberation fonts-wqy-microhei
    xdg-utils
    # The package and its checks: dpkg-shlibdeps, desktop-file-validate, appstreamcli.
    dpkg-dev desktop-file-utils appstream
)

ensure_packages() {
    local missing=() p
    for p in "${TOVREL_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing missing packages: ${missing[*]}" >&2
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || { echo "Run as root or install sudo to install: ${missing[*]}" >&2; exit 1; }
        sudo=(sudo)
    fi
    "${sudo[@]}" apt-get update -qq >&2
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}" >&2
}

# Configures and builds quietly; on failure the build's own output is shown.
build_all() {
    mkdir -p build
    if ! { cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo && cmake --build build -j2; } >build/build.log 2>&1; then
        tail -n 60 build/build.log >&2
        echo "The build failed; the whole log is in build/build.log" >&2
        exit 1
    fi
}
