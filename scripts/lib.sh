# Shared by the scripts: install what is missing (Debian packages, as root), configure and build.
set -euo pipefail

NX7_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
NX7_PACKAGES=(cmake g++ clang make ninja-build pkg-config
    qt6-base-dev qt6-serialport-dev libqt6serialport6-dev libgl-dev
    libgtest-dev libgmock-dev googletest libbenchmark-dev libarchive-dev
    qt6-translations-l10n desktop-file-utils appstream dpkg-dev file python3-dbusmock dbus-daemon
    fonts-noto-cjk xvfb xauth)

nx7_install_packages() {
    local missing=()
    local p
    for p in "${NX7_PACKAGES[@]}"; do
        dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# nx7_build <build dir> [cmake options...] -- [targets...]
nx7_build() {
    local dir="$1"
    shift
    local options=()
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do
        options+=("$1")
        shift
    done
    [ $# -gt 0 ] && shift
    local generator=()
    if command -v ninja >/dev/null 2>&1; then
        generator=(-G Ninja)
    fi
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S "$NX7_ROOT" -B "$dir" "${generator[@]}" "${options[@]}"
    else
        cmake -S "$NX7_ROOT" -B "$dir" "${options[@]}" >/dev/null
    fi
    local jobs
    jobs="$(nproc 2>/dev/null || echo 2)"
    if [ $# -gt 0 ]; then
        cmake --build "$dir" -j "$jobs" --target "$@"
    else
        cmake --build "$dir" -j "$jobs"
    fi
}
