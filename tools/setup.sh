#!/usr/bin/env bash
# Shared set-up for ./test and ./run: installs the Debian packages the project needs when they
# are missing, then configures and builds the project incrementally in ./build.
set -euo pipefail

TOP="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${TARNVELOX_BUILD_DIR:-$TOP/build}"

# Everything the project and its later parts need on a fresh Debian 12.
PACKAGES=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev libgtest-dev libgmock-dev libbenchmark-dev libssl-dev
    zlib1g-dev libbrotli-dev ca-certificates xvfb xauth ccache
)

missing_packages() {
    local p missing=()
    for p in "${PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    echo "${missing[@]:-}"
}

install_packages() {
    local missing
    missing="$(missing_packages)"
    [ -z "$missing" ] && return 0
    echo "Installing missing packages: $missing"
    local apt=(env DEBIAN_FRONTEND=noninteractive apt-get)
    if [ "$(id -u)" -eq 0 ]; then
        "${apt[@]}" update -qq && "${apt[@]}" install -y -qq --no-install-recommends $missing
    elif command -v sudo >/dev/null 2>&1 &&
        sudo "${apt[@]}" update -qq && sudo "${apt[@]}" install -y -qq --no-install-recommends $missing; then
        :
    else
        echo "error: these Debian packages are missing and could not be installed" >&2
        echo "       (not root, and sudo is missing or failed):" >&2
        echo "       $missing" >&2
        echo "Install them with: sudo apt-get install $missing" >&2
        exit 1
    fi
}

configure_and_build() {
    if [ ! -f "$BUILD_DIR/build.ninja" ]; then
        cmake -S "$TOP" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
    fi
    cmake --build "$BUILD_DIR"
}
