# Shared by the scripts: install what is missing (Debian packages, as root), configure and build.
set -euo pipefail

NX7_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# Debian packages for the build, the tests, the demo and the package: one group a line, each name
# as dpkg lists it once installed (a name that another package only provides, such as
# libqt6serialport6-dev, is never "installed" and would be fetched on every call).
NX7_PACKAGES=(
    cmake g++ clang make ninja-build pkg-config
    qt6-base-dev qt6-serialport-dev qt6-translations-l10n libgl-dev
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    fonts-noto-cjk xvfb xauth
    desktop-file-utils appstream dpkg-dev file libarchive-dev
    python3-dbusmock dbus-daemon
)
# How long apt waits for another installation to release the package lock, in seconds.
NX7_APT_LOCK_TIMEOUT="${NX7_APT_LOCK_TIMEOUT:-600}"

# Prints the listed packages that are not installed, one a line.
nx7_missing_packages() {
    local p status
    for p in "${NX7_PACKAGES[@]}"; do
        status="$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)"
        [[ "$status" == *" installed" ]] || echo "$p"
    done
}

# nx7_cannot_install <reason> <missing packages...>: says what to do instead, and stops.
nx7_cannot_install() {
    local reason="$1"
    shift
    echo "Missing Debian packages: $*" >&2
    echo "$reason" >&2
    echo "Install them, then run this command again:" >&2
    echo "    sudo apt-get update && sudo apt-get install --no-install-recommends $*" >&2
    exit 1
}

# Installs what is missing. Nothing is fetched when everything is installed, so the scripts work
# offline once set up.
nx7_install_packages() {
    if ! command -v dpkg-query >/dev/null 2>&1; then
        echo "No dpkg here: make sure the equivalents of these Debian packages are installed:" >&2
        echo "    ${NX7_PACKAGES[*]}" >&2
        return 0
    fi
    local missing=()
    mapfile -t missing < <(nx7_missing_packages)
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null 2>&1; then
            nx7_cannot_install "Installing needs root rights, and sudo is not available." "${missing[@]}"
        fi
        sudo=(sudo)
    fi
    echo "Installing: ${missing[*]}"
    # Wait for another installation to finish instead of failing on its lock.
    local apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o "DPkg::Lock::Timeout=$NX7_APT_LOCK_TIMEOUT")
    if ! "${apt[@]}" update -qq; then
        nx7_cannot_install "The package lists could not be updated (no network?)." "${missing[@]}"
    fi
    if ! "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}"; then
        nx7_cannot_install "The packages could not be installed." "${missing[@]}"
    fi
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
