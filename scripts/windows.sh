#!/usr/bin/env bash
# Cross-builds the tool for 64-bit Windows on this Debian machine, with Debian's mingw-w64, and runs
# it under Wine.
#   1. Qt for Windows: built once per machine from Debian's qt6-base source (the same version as the
#      host Qt, whose moc/rcc/uic it uses) into a cache outside the checkout. This is the long step
#      (about half an hour on 2 cores, longer beside other work); later runs reuse the cache.
#   2. The tool and the uploader, cross-built against that Qt and gathered with their DLLs in
#      <build dir>/deploy/nx7ifbprog; then a first start under Wine (--version).
#   3. With --test: the Windows tests (ctest label "windows") under Wine, against the board
#      simulator built natively in build/: start-up, a write ending OK, one ending NG, exit
#      statuses, the settings file, the window under Xvfb, the installer.
#   4. With --bench: the whole headless write under Wine against the same write natively (an
#      optimised native build in build-release), one line with both times and their ratio.
# Usage: scripts/windows.sh [--qt-only | --test | --bench] [build dir]   (default: build-windows)
# Environment: NX7_WIN_CACHE (default ~/.cache/nx7-win) holds the Qt builds; NX7_WIN_JOBS the
# parallel jobs of the Qt build (default: the number of cores).
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# One block, read whole before it runs: the Qt build is long, and an edit of this file meanwhile
# must not change what the running script does next.
{

qt_only=0
run_tests=0
run_bench=0
build=build-windows
for arg in "$@"; do
    case "$arg" in
    --qt-only) qt_only=1 ;;
    --test) run_tests=1 ;;
    --bench) run_bench=1 ;;
    -*) echo "usage: scripts/windows.sh [--qt-only | --test | --bench] [build dir]" >&2; exit 2 ;;
    *) build="$arg" ;;
    esac
done

NX7_PACKAGES=(
    cmake ninja-build dpkg-dev xz-utils perl python3 qt6-base-dev qt6-base-dev-tools
    gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
    wine wine64 nsis
)
# The tests' window runs on a virtual display, with a Japanese font for Wine to find.
if [ "$run_tests" -eq 1 ]; then
    NX7_PACKAGES+=(xvfb xauth xdotool x11-apps fonts-noto-cjk)
fi
nx7_install_packages

triple=x86_64-w64-mingw32
toolchain="$NX7_ROOT/cmake/mingw-w64-x86_64.cmake"
cache_root="${NX7_WIN_CACHE:-$HOME/.cache/nx7-win}"
# The host Qt's Debian version: the Windows Qt is built from the same source, since the host's
# moc, rcc and uic generate code for it.
qt_deb_version="$(dpkg-query -W -f='${source:Version}' qt6-base-dev)"
qt_version="${qt_deb_version%%+*}"
qt_version="${qt_version%%-*}"
# Where the host Qt's CMake packages are (Qt6HostInfo among them).
qt_host_cmake="$(dirname "$(dirname "$(dpkg -L qt6-base-dev | grep -m1 '/Qt6HostInfo/Qt6HostInfoConfig.cmake$')")")"

# Qt for the tool: Core, Gui, Widgets and Network as shared libraries, nothing else. Tablet support
# is off because Debian's source tarball has no wintab; Direct2D and DirectWrite go off together
# (the Windows platform plugin does not link with one half of them), leaving the GDI font engine.
# OpenGL stays on: Qt 6.4.2's Windows platform plugin does not compile without it.
qt_options=(
    -DCMAKE_BUILD_TYPE=Release
    -DBUILD_SHARED_LIBS=ON
    -DQT_BUILD_EXAMPLES=OFF
    -DQT_BUILD_TESTS=OFF
    -DQT_BUILD_BENCHMARKS=OFF
    -DFEATURE_sql=OFF
    -DFEATURE_testlib=OFF
    -DFEATURE_printsupport=OFF
    -DFEATURE_concurrent=OFF
    -DFEATURE_xml=OFF
    -DFEATURE_dbus=OFF
    -DFEATURE_vulkan=OFF
    -DFEATURE_icu=OFF
    -DFEATURE_openssl=OFF
    -DFEATURE_jpeg=OFF
    -DFEATURE_gif=OFF
    -DFEATURE_tabletevent=OFF
    -DFEATURE_direct2d=OFF
    -DFEATURE_direct2d1_1=OFF
    -DFEATURE_directwrite=OFF
    -DFEATURE_directwrite3=OFF
)
qt_key="$(printf '%s\n' "$qt_deb_version" "${qt_options[@]}" | cat - "$toolchain" | sha256sum | cut -c1-10)"
qt_prefix="$cache_root/qt-$qt_version-$qt_key"
qt_work="$cache_root/work-qt-$qt_version-$qt_key"
qt_log="$cache_root/qt-$qt_version-$qt_key.log"
qt_done="$qt_prefix/.nx7-complete" # written last: a prefix without it is unfinished

src_list=/etc/apt/sources.list.d/nx7-windows-src.sources
cleanup() {
    rm -f "$src_list"
}
trap cleanup EXIT

# Fetches Debian's qt6-base source into $qt_work/src through a deb-src entry of its own, which only
# lives while this script runs.
fetch_qt_source() {
    local codename
    codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")"
    cat >"$src_list" <<SRC
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $codename $codename-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    # Only this entry: the machine's other lists stay as they are.
    local apt=(apt-get -o "DPkg::Lock::Timeout=$NX7_APT_LOCK_TIMEOUT" -o "Dir::Etc::sourcelist=$src_list"
        -o "Dir::Etc::sourceparts=-" -o "APT::Get::List-Cleanup=0")
    "${apt[@]}" update -qq
    rm -rf "$qt_work/fetch"
    mkdir -p "$qt_work/fetch"
    (cd "$qt_work/fetch" && "${apt[@]}" source -qq "qt6-base=$qt_deb_version")
    rm -f "$src_list"
    local dir
    dir="$(find "$qt_work/fetch" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*' | head -1)"
    [ -n "$dir" ] || { echo "apt-get source gave no qt6-base folder" >&2; exit 1; }
    mv "$dir" "$qt_work/src"
    rm -rf "$qt_work/fetch"
}

build_qt() {
    if [ -f "$qt_done" ]; then
        echo "Qt $qt_version for Windows: $qt_prefix (cached)"
        return 0
    fi
    mkdir -p "$cache_root"
    echo "Building Qt $qt_version for Windows once for this machine: about half an hour on 2 cores."
    echo "    into $qt_prefix"
    echo "    log: $qt_log"
    local started=$SECONDS
    [ -d "$qt_work/src" ] || fetch_qt_source >>"$qt_log" 2>&1
    local jobs="${NX7_WIN_JOBS:-$(nproc 2>/dev/null || echo 2)}"
    # An interrupted build goes on where it stopped: the build folder stays until the end.
    if ! {
        cmake -S "$qt_work/src" -B "$qt_work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
            -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$qt_host_cmake" -DCMAKE_INSTALL_PREFIX="$qt_prefix" "${qt_options[@]}" &&
            cmake --build "$qt_work/build" -j "$jobs" &&
            cmake --install "$qt_work/build"
    } >>"$qt_log" 2>&1; then
        echo "The Qt build failed; the end of its log ($qt_log):" >&2
        tail -30 "$qt_log" >&2
        exit 1
    fi
    echo "$qt_deb_version ${qt_options[*]}" >"$qt_done"
    rm -rf "$qt_work"
    echo "Qt $qt_version for Windows built in $(((SECONDS - started) / 60)) minutes."
}

# The tool and the uploader, cross-built against the cached Qt, then gathered with the DLLs they
# need into $build/deploy/nx7ifbprog (the folder an installer would carry).
build_tool() {
    local launcher=()
    if command -v ccache >/dev/null 2>&1; then
        launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    fi
    echo "Cross-building the tool and the uploader for Windows in $build"
    # The Windows Qt's moc, rcc and uic are the host's.
    nx7_build "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_PREFIX_PATH="$qt_prefix" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$qt_host_cmake" -DCMAKE_BUILD_TYPE=Release -DNX7_BUILD_TESTS=OFF -DNX7_BUILD_BENCHMARKS=OFF "${launcher[@]}" \
        -- nx7ifbprog espota
}

deploy_tool() {
    local deploy="$build/deploy/nx7ifbprog"
    local runtime
    rm -rf "$deploy"
    mkdir -p "$deploy/platforms" "$deploy/styles"
    cp "$build/src/app/nx7ifbprog.exe" "$build/tools/espota/espota.exe" "$deploy/"
    local m
    for m in Core Gui Widgets Network; do
        cp "$qt_prefix/bin/Qt6$m.dll" "$deploy/"
    done
    cp "$qt_prefix/plugins/platforms/qwindows.dll" "$deploy/platforms/"
    cp "$qt_prefix"/plugins/styles/*.dll "$deploy/styles/" 2>/dev/null || true
    for runtime in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
        cp "$("$triple-g++-posix" -print-file-name="$runtime")" "$deploy/"
    done
    echo "Windows program folder: $deploy"
}

# The installer (Start-menu entry, uninstaller, the uploader beside the tool) and a zip of the same
# program folder, both in $build.
package_tool() {
    local deploy="$build/deploy/nx7ifbprog"
    local version
    version="$(sed -n 's/^project([^)]*VERSION \([0-9.]*\).*/\1/p' "$NX7_ROOT/CMakeLists.txt" | head -n 1)"
    makensis -V2 -DDEPLOY="$deploy" -DVERSION="${version:-0.0.0}" \
        -DOUTFILE="$build/nx7ifbprog-${version:-0.0.0}-win64-installer.exe" "$NX7_ROOT/packaging/windows/nx7ifbprog.nsi"
    (cd "$build/deploy" && cmake -E tar cf "$build/nx7ifbprog-${version:-0.0.0}-win64.zip" --format=zip nx7ifbprog)
    echo "Windows installer and zip: $build/nx7ifbprog-${version:-0.0.0}-win64-installer.exe, .zip"
}

# The Windows tests live in the native build's test tree, beside the simulator they drive.
test_tool() {
    echo "Testing the Windows program under Wine"
    nx7_build "$NX7_ROOT/build" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=g++ \
        -DNX7_WINDOWS_PROGRAM="$build/deploy/nx7ifbprog" -- ifb-sim
    (cd "$NX7_ROOT/build" && ctest --output-on-failure -L windows)
}

bench_tool() {
    nx7_build "$NX7_ROOT/build-release" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++ -- nx7ifbprog ifb-sim espota \
        >/dev/null
    bash "$NX7_ROOT/tests/windows/write_bench.sh" "$build/deploy/nx7ifbprog" "$NX7_ROOT/build-release"
}

build_qt
[ "$qt_only" -eq 1 ] && exit 0
cd "$NX7_ROOT"
build_tool
build="$(cd "$build" && pwd)"
deploy_tool
package_tool
# A first look under Wine: the program starts and names its version.
WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wine "$build/deploy/nx7ifbprog/nx7ifbprog.exe" --version
if [ "$run_tests" -eq 1 ]; then
    test_tool
fi
if [ "$run_bench" -eq 1 ]; then
    bench_tool
fi
exit
}
